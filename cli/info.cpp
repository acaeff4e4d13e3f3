// mirdel-cli info: the upload dialog's file properties and the advanced
// firmware information, as text.
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "core/advinfo.h"
#include "core/advinfo_text.h"
#include "core/flashmap.h"
#include "core/scan.h"
#include "firmware/mdl.h"

const char CliInfoHelp[] =
    "\n"
    "Checks every line of the S-record file FILE as an upload would and\n"
    "prints, one per line, the file's Name, Location, Size and Modified time\n"
    "(local time, YYYY-MM-DD HH:MM:SS), the firmware size, span size, lowest\n"
    "and highest flash address, then every image with its segments indented\n"
    "below it. Addresses are flash addresses: an image's first segment lies at\n"
    "the image's base address, every other segment at its distance from it.\n"
    "\n"
    "An image without segments (or a file without any) has a span of 0 and\n"
    "shows \"none\" as its lowest and highest flash address.\n"
    "\n"
    "With --map, a line \"Flash map:\" follows the highest flash address: the\n"
    "flash from 0 to 0xEFFFF (further when the firmware reaches beyond it) in\n"
    "64 cells between brackets; '.' free flash, '-' beyond the end of flash,\n"
    "the image's number (0-9, A-Z, '#') where its data lies, '!' where\n"
    "segments overlap (only the part they share) or where a segment reaches\n"
    "beyond 0xEFFFF, '|' the end of flash.\n"
    "\n"
    "A faulty line stops the check: the error is written to standard error\n"
    "and the exit status is 4, as for a file that cannot be opened.\n";

#define CLI_INFO_MAP_CELLS 64

int CliInfo(int argc, char **argv)
{
    const char *path = nullptr;
    bool options = true, showMap = false;
    for (int i = 0; i < argc; i++) {
        if (options && std::strcmp(argv[i], "--") == 0) {
            options = false;
        } else if (options && std::strcmp(argv[i], "--map") == 0) {
            showMap = true;
        } else if (options && argv[i][0] == '-' && argv[i][1] != '\0') {
            return CliUsageError("info", "unknown option '%s'", argv[i]);
        } else if (path) {
            return CliUsageError("info", "more than one file given");
        } else {
            path = argv[i];
        }
    }
    if (!path)
        return CliUsageError("info", "no firmware file given");

    Firmware firmware{};
    ScanFileInfo file;
    std::string message;
    if (!ScanFirmwareFile(path, &firmware, &file, &message)) {
        std::fprintf(stderr, "%s\n", ScanReportError(message).c_str());
        MdlFirmwareRelease(&firmware);
        return CLI_EXIT_FILE;
    }

    std::string modified = file.modifiedError;
    if (file.modifiedValid) {
        char text[32];
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &file.modified);
        modified = text;
    }
    AdvInfoTexts texts;
    AdvInfoCompose(firmware, &texts);
    FlashMap map;
    FlashMapCompute(firmware, &map);
    MdlFirmwareRelease(&firmware);
    std::vector<AdvInfoField> fields = {{SCAN_LABEL_NAME, file.fileName},
                                        {SCAN_LABEL_LOCATION, file.location},
                                        {SCAN_LABEL_SIZE, file.sizeText},
                                        {SCAN_LABEL_MODIFIED, modified}};
    std::string text =
        AdvInfoPlainText(texts, fields, showMap ? FlashMapText(map, CLI_INFO_MAP_CELLS) : "");
    std::fwrite(text.data(), 1, text.size(), stdout);
    return CliFinishOutput(CLI_EXIT_OK);
}
