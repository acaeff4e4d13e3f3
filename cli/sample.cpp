// mirdel-cli sample: a firmware file to make a first upload with.
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/cli.h"
#include "core/sample.h"

const char CliSampleHelp[] =
    "\n"
    "Writes a sample firmware file to FILE: three images (\"Boot loader\" at\n"
    "flash address 0x0, \"Application\" at 0x10000 in two segments,\n"
    "\"Calibration tables\" at 0xD0000), 304 KiB of made-up data in all, the\n"
    "same every time. Upload it to mirdel-sim to try Mirdel out; it is no\n"
    "firmware for a real instrument. A file that exists is replaced. When\n"
    "FILE cannot be written the exit status is 4.\n";

int CliSample(int argc, char **argv)
{
    const char *path = nullptr;
    bool options = true;
    for (int i = 0; i < argc; i++) {
        if (options && std::strcmp(argv[i], "--") == 0)
            options = false;
        else if (options && argv[i][0] == '-' && argv[i][1] != '\0')
            return CliUsageError("sample", "unknown option '%s'", argv[i]);
        else if (path)
            return CliUsageError("sample", "more than one file given");
        else
            path = argv[i];
    }
    if (!path)
        return CliUsageError("sample", "no file given");
    std::string message;
    if (!SampleWriteFile(path, &message)) {
        std::fprintf(stderr, "mirdel-cli: %s\n", message.c_str());
        return CLI_EXIT_FILE;
    }
    return CliFinishOutput(CLI_EXIT_OK);
}
