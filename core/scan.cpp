#include "core/scan.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "core/textfmt.h"
#include "firmware/mdl.h"
#include "platform/filestat.h"
#include "platform/locale.h"
#include "platform/syserr.h"
#include "support/winerr.h"
#include "support/intstr.h"
#include "support/log.h"

namespace {

// Goes through the lines; 1 at the end of the file, 0 at the first fault.
int scan_records(MdlLineReader *reader, const char *path, uint64_t fileSize, Firmware *firmware,
                 std::string *message, ScanProgressFn progress, void *context, uint64_t *lineNumber)
{
    int percent = 0;
    for (;;) {
        int kind = MdlLineNext(reader);
        if (kind == MDL_LINE_END)
            return 1;
        if (kind == MDL_LINE_ERROR) {
            *message = TextFormat("%s\n\n- %s", path, std::strerror(reader->readErrno));
            return 0;
        }
        ++*lineNumber; // a fault below is this line's

        int now = ScanPercent(reader->consumed, fileSize);
        if (now != percent) {
            percent = now;
            if (progress)
                progress(context, percent);
        }

        const char *line = reader->text;
        if (!reader->terminated) {
            *message = TextFormat(MDL_UNTERMINATED_FORMAT, line);
            return 0;
        }
        if (kind == MDL_LINE_SKIPPED)
            continue;
        if (kind == MDL_LINE_TOO_LONG) {
            *message = TextFormat(MDL_TOO_LONG_FORMAT, line);
            return 0;
        }

        uint16_t sums = MdlChecksum(line);
        unsigned written = sums >> 8;
        unsigned computed = sums & 0xFF;
        if (written != computed) {
            *message = TextFormat("'%s':\n- incorrect checksum (0x%02X), should be 0x%02X", line, written, computed);
            return 0;
        }

        const char *reason = nullptr;
        if (MdlDecodeLine(line, firmware, &reason) == MDL_DECODE_ERROR) {
            *message = reason ? reason : "";
            return 0;
        }
    }
}

int scan_lines(FILE *file, const char *path, uint64_t fileSize, Firmware *firmware,
               std::string *message, ScanProgressFn progress, void *context, uint64_t *errorLine)
{
    MdlLineReader reader;
    if (!MdlLineOpen(&reader, file, SCAN_LINE_SIZE - 2)) {
        *message = TextFormat("Cannot allocate memory (%lu bytes)", static_cast<unsigned long>(MDL_LINE_BLOCK));
        return 0;
    }
    uint64_t line = 0;
    int result = scan_records(&reader, path, fileSize, firmware, message, progress, context, &line);
    MdlLineClose(&reader);
    if (result != 1 && reader.readErrno == 0)
        *errorLine = line;
    return result;
}

} // namespace

int ScanPercent(uint64_t position, uint64_t size)
{
    if (size == 0)
        return 0;
    uint64_t percent = size <= UINT64_MAX / 100 ? position * 100 / size : position / (size / 100);
    return percent > 100 ? 100 : static_cast<int>(percent);
}

std::filesystem::path ScanFsPath(const std::string &name)
{
    return std::filesystem::path(std::u8string(name.begin(), name.end()));
}

std::string ScanAbsolutePath(const std::string &path)
{
    std::error_code ec;
    std::filesystem::path full = std::filesystem::absolute(ScanFsPath(path), ec);
    if (ec)
        return path;
    std::u8string text = full.lexically_normal().u8string();
    return std::string(text.begin(), text.end());
}

void ScanSplitPath(const std::string &path, std::string *fileName, std::string *location)
{
    size_t sep = path.rfind('\\');
    if (sep == std::string::npos)
        sep = path.rfind('/');
    if (sep == std::string::npos) {
        *fileName = path;
        location->clear();
        return;
    }
    *fileName = path.substr(sep + 1);
    *location = path.substr(0, sep);
}

std::string ScanSizeText(uint64_t size)
{
    const char *symbol = nullptr;
    double scaled = IntStrScale(size, INTSTR_BINARY, &symbol);
    std::string grouped = IntStrGroup(size);
    if (symbol)
        return TextFormat("%.2lf %sB (%s Bytes)", scaled, symbol, grouped.c_str());
    return TextFormat("%s Bytes", grouped.c_str());
}

std::string ScanErrorPlace(const ScanFileInfo &info)
{
    if (info.errorLine == 0)
        return std::string();
    return TextFormat("%s:%llu: ", info.filePath.c_str(),
                      static_cast<unsigned long long>(info.errorLine));
}

std::string ScanReportError(const std::string &message, const std::string &place)
{
    Log("%s(): %s%s", "CDownloadDlg::ScanErrorBox", place.c_str(), message.c_str());
    return "Error while checking the firmware file:\n\n" + message;
}

int ScanFirmwareFile(const char *path, Firmware *firmware, ScanFileInfo *info, std::string *message,
                     ScanProgressFn progress, void *context)
{
    message->clear();
    // Binary: the line reader drops the carriage return before a line feed
    // itself, the same on every system.
    FILE *file = std::fopen(path, "rb");
    if (!file) {
        *message = TextFormat("%s\n\n- %s", path, std::strerror(errno));
        return 0;
    }

    const char *failedCall = nullptr;
    bool haveStat = PlatFileStat(file, &info->fileSize, &info->modifiedTime, &failedCall);
    info->statValid = haveStat;
    if (!haveStat) {
        info->fileSize = 0;
        info->modifiedError = TextFormat("%s(): %s", failedCall, WinLastErrStr());
    }

    info->errorLine = 0;
    int result = scan_lines(file, path, info->fileSize, firmware, message, progress, context,
                            &info->errorLine);

    info->filePath = path;
    ScanSplitPath(ScanAbsolutePath(path), &info->fileName, &info->location);
    info->sizeText = ScanSizeText(info->fileSize);
    if (haveStat) {
        errno = 0;
        info->modifiedValid = PlatLocalTime(info->modifiedTime, &info->modified);
        if (!info->modifiedValid) {
            PlatSetLastErrorFromErrno(errno ? errno : EOVERFLOW);
            info->modifiedError = TextFormat("%s(): %s", "localtime", WinLastErrStr());
        }
    }

    std::fclose(file);
    return result;
}

bool ScanCanOpen(const char *path, std::string *message)
{
    FILE *probe = std::fopen(path, "rb");
    if (!probe) {
        int err = errno;
        *message = TextFormat("%s\n\n- %s", path, std::strerror(err));
        return false;
    }
    std::fclose(probe);
    return true;
}
