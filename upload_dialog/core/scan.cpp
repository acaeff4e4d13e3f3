#include "upload_dialog/core/scan.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "firmware/mdl.h"
#include "platform/locale.h"
#include "platform/syserr.h"
#include "support/intstr.h"
#include "support/log.h"
#include "support/memalloc.h"
#include "support/winerr.h"
#include "platform/filestat.h"
#include "upload_dialog/core/textfmt.h"

namespace {

// Hands out the file's lines as a text-mode fgets into a buffer of
// SCAN_LINE_SIZE would: up to and with the line feed, at most 1024
// characters at a time, a carriage return before the line feed dropped.
// Reading in large blocks keeps the analysis fast and tells exactly how far
// into the file a line reaches.
class LineReader {
public:
    LineReader(FILE *file, char *block, size_t size) : file_(file), block_(block), size_(size) {}

    // Fills line (terminated) and returns its length, 0 at the end of the
    // file, -1 on a read error.
    int Next(char *line)
    {
        int n = 0;
        while (n < SCAN_LINE_SIZE - 1) {
            if (pos_ == end_ && !Fill())
                break;
            size_t take = end_ - pos_;
            if (take > static_cast<size_t>(SCAN_LINE_SIZE - 1 - n))
                take = static_cast<size_t>(SCAN_LINE_SIZE - 1 - n);
            const char *start = block_ + pos_;
            const char *lf = static_cast<const char *>(std::memchr(start, '\n', take));
            if (lf)
                take = static_cast<size_t>(lf - start) + 1;
            std::memcpy(line + n, start, take);
            n += static_cast<int>(take);
            pos_ += take;
            consumed_ += take;
            if (lf)
                break;
        }
        if (error_)
            return -1;
        if (n > 0 && line[n - 1] == '\n') {
            if (n > 1 && line[n - 2] == '\r') {
                line[n - 2] = '\n';
                n--;
            }
        } else if (n == SCAN_LINE_SIZE - 1 && line[n - 1] == '\r' && Peek() == '\n') {
            // The carriage return took the place of the line feed it stands for.
            line[n - 1] = '\n';
            pos_++;
            consumed_++;
        }
        if (error_)
            return -1;
        line[n] = '\0';
        return n;
    }

    uint64_t Consumed() const { return consumed_; }
    int Errno() const { return errno_; }

private:
    bool Fill()
    {
        pos_ = 0;
        end_ = std::fread(block_, 1, size_, file_);
        if (end_ == 0 && std::ferror(file_)) {
            error_ = true;
            errno_ = errno;
        }
        return end_ > 0;
    }

    int Peek()
    {
        if (pos_ == end_ && !Fill())
            return EOF;
        return static_cast<unsigned char>(block_[pos_]);
    }

    FILE *file_;
    char *block_;
    size_t size_;
    size_t pos_ = 0;
    size_t end_ = 0;
    uint64_t consumed_ = 0;
    bool error_ = false;
    int errno_ = 0;
};

// Goes through the lines; 1 at the end of the file, 0 at the first fault.
int scan_records(LineReader &reader, const char *path, uint64_t fileSize, Firmware *firmware, std::string *message,
                 ScanProgressFn progress, void *context)
{
    char line[SCAN_LINE_SIZE];
    int percent = 0;
    for (;;) {
        int n = reader.Next(line);
        if (n == 0)
            return 1;
        if (n < 0) {
            *message = TextFormat("%s\n\n- %s", path, std::strerror(reader.Errno()));
            return 0;
        }

        int now = ScanPercent(reader.Consumed(), fileSize);
        if (now != percent) {
            percent = now;
            if (progress)
                progress(context, percent);
        }

        // A NUL byte ends the text, and with it any line feed after it.
        size_t len = std::strlen(line);
        if (len == 0 || line[len - 1] != '\n') {
            *message = TextFormat("'%.10s': not terminated with end of line character !", line);
            return 0;
        }
        line[--len] = '\0';

        if (len == 0 || line[0] == '#' || std::strpbrk(line, " \t"))
            continue;

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

int scan_lines(FILE *file, const char *path, uint64_t fileSize, Firmware *firmware, std::string *message,
               ScanProgressFn progress, void *context)
{
    const size_t blockSize = 65536;
    char *block = static_cast<char *>(_mem_malloc(blockSize));
    if (!block) {
        *message = TextFormat("Cannot allocate memory (%lu bytes)", static_cast<unsigned long>(blockSize));
        return 0;
    }
    LineReader reader(file, block, blockSize);
    int result = scan_records(reader, path, fileSize, firmware, message, progress, context);
    _mem_free(block);
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

std::string ScanReportError(const std::string &message)
{
    Log("%s(): %s", "CDownloadDlg::ScanErrorBox", message.c_str());
    return "Error while checking the firmware file:\n\n" + message;
}

int ScanFirmwareFile(const char *path, Firmware *firmware, ScanFileInfo *info, std::string *message,
                     ScanProgressFn progress, void *context)
{
    message->clear();
    // Binary: the reader drops the carriage return before a line feed
    // itself, the same on every system.
    FILE *file = std::fopen(path, "rb");
    if (!file) {
        *message = TextFormat("%s\n\n- %s", path, std::strerror(errno));
        return 0;
    }

    const char *failedCall = nullptr;
    bool haveStat = PlatFileStat(file, &info->fileSize, &info->modifiedTime, &failedCall);
    if (!haveStat) {
        info->fileSize = 0;
        info->modifiedError = TextFormat("%s(): %s", failedCall, WinLastErrStr());
    }

    int result = scan_lines(file, path, info->fileSize, firmware, message, progress, context);

    info->filePath = path;
    ScanSplitPath(info->filePath, &info->fileName, &info->location);
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
