#include "protocol/mdl_pc.h"

#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "firmware/mdl.h"
#include "serial/sio.h"
#include "support/err.h"

namespace {

uint32_t g_busyPauseMs = 2000;
int32_t g_flashTimeoutMs = 30000;

const int32_t kDefaultTimeout = -2;

bool Notify(MdlProgressFn cb, void *ctx, int event, uint32_t a, uint32_t b, const char *line)
{
    return cb ? cb(event, ctx, a, b, line) : true;
}

// A record's count must match what the line holds: "S", the type, two count
// digits, then count bytes. Anything else would make us read past the line
// or take a negative number of data bytes.
bool CountMatches(const char *line, uint32_t minCount)
{
    size_t len = std::strlen(line);
    if (len < 4)
        return false;
    uint32_t count = MdlHexValue(line + 2, 2);
    return count >= minCount && len == 4 + 2 * (size_t)count;
}

int Handshake(SioPort *port)
{
    char reply[MDL_REPLY_SIZE];
    for (;;) {
        int r = SioMsgSend(port, ":DIAG:UPDATE", false, kDefaultTimeout);
        if (r < 0) {
            MdlFail(nullptr, MDL_ERR_LOCAL, "SioMsgSend(): %s", SioErrStr());
            return -1;
        }
        if (r == 0)
            return 0;
        r = SioMsgRecv(port, reply, sizeof reply, false, kDefaultTimeout);
        if (r < 0) {
            MdlFail(nullptr, MDL_ERR_LOCAL, "SioMsgRecv(): %s", SioErrStr());
            return -1;
        }
        if (r == 0)
            return 0;
        if (reply[0] != '-')
            return 1;
        if (std::strlen(reply) >= 5 && std::strncmp(reply + 5, "Wait", 4) == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(g_busyPauseMs));
            continue;
        }
        MdlFail(nullptr, MDL_ERR_INSTRUMENT, "%s", SioMsgText(reply));
        return -1;
    }
}

int FlashWriting(SioPort *port, MdlProgressFn cb, void *ctx)
{
    char line[MDL_READBACK_LINE];
    Notify(cb, ctx, EV_FLASH_START, 0, 0, nullptr);
    for (;;) {
        int r = SioMsgRecv(port, line, sizeof line, false, g_flashTimeoutMs);
        if (r < 0) {
            MdlFail(nullptr, MDL_ERR_LOCAL, "SioMsgRecv(): %s", SioErrStr());
            return -1;
        }
        if (r == 0)
            return 0;
        if (std::strncmp(line, "+OK", 3) != 0) {
            MdlFail(nullptr, MDL_ERR_INSTRUMENT, "%s", SioMsgText(line));
            return -1;
        }
        if (std::strcmp(line, "+OK .") == 0) {
            Notify(cb, ctx, EV_FLASH_DONE, 0, 0, nullptr);
            return 1;
        }
        // A bare "+OK" carries no number: nothing written.
        long n = std::strlen(line) > 4 ? std::strtol(line + 4, nullptr, 10) : 0;
        Notify(cb, ctx, EV_FLASH_PROGRESS, (uint32_t)n, 0, nullptr);
    }
}

// The two passes over the file: count and test the records, then send them.
int send_file(SioPort *port, MdlProgressFn cb, void *ctx, MdlLineReader *reader)
{
    const char *record = reader->text;
    uint32_t total = 0;
    int kind;
    while ((kind = MdlLineNext(reader)) > MDL_LINE_END) {
        if (kind == MDL_LINE_SKIPPED)
            continue;
        if (kind == MDL_LINE_TOO_LONG) {
            MdlFail(nullptr, MDL_ERR_LOCAL, MDL_TOO_LONG_FORMAT, record);
            return -1;
        }
        uint16_t sum = MdlChecksum(record);
        if ((sum >> 8) != (sum & 0xFF)) {
            MdlFail(nullptr, MDL_ERR_LOCAL, "'%s': incorrect checksum (0x%02X), should be 0x%02X",
                    record, sum >> 8, sum & 0xFF);
            return -1;
        }
        ++total;
    }
    if (kind == MDL_LINE_ERROR) {
        MdlFail(nullptr, MDL_ERR_LOCAL, "fgets(): %s", ErrnoStr(reader->readErrno));
        return -1;
    }
    if (MdlLineRewind(reader) != 0) {
        MdlFail(nullptr, MDL_ERR_LOCAL, "fseek(): %s", ErrnoStr(errno));
        return -1;
    }

    Notify(cb, ctx, EV_UPLOAD_START, 0, 0, nullptr);
    uint32_t sent = 0;
    bool stopped = false;
    while (!stopped && (kind = MdlLineNext(reader)) > MDL_LINE_END) {
        // Counted and tested in the first pass: only records come this far.
        if (kind != MDL_LINE_RECORD)
            continue;
        int r = SioMsgSend(port, record, true, kDefaultTimeout);
        if (r < 0) {
            MdlSendFailed();
            return -1;
        }
        if (r == 0)
            return 0;
        ++sent;
        if (!Notify(cb, ctx, EV_UPLOAD_PROGRESS, sent, total, record)) {
            SioMsgSend(port, ". STOPPED", false, kDefaultTimeout);
            stopped = true;
        }
    }
    if (kind == MDL_LINE_ERROR) {
        MdlFail(nullptr, MDL_ERR_LOCAL, "fgets(): %s", ErrnoStr(reader->readErrno));
        return -1;
    }
    if (!stopped) {
        int r = SioMsgSend(port, ".", false, kDefaultTimeout);
        if (r < 0) {
            MdlFail(nullptr, MDL_ERR_LOCAL, "SioMsgSend(): %s", SioErrStr());
            return -1;
        }
        if (r == 0)
            return 0;
    }
    Notify(cb, ctx, EV_UPLOAD_DONE, sent, total, nullptr);
    if (stopped)
        return 1;
    return FlashWriting(port, cb, ctx);
}

} // namespace

void MdlSetTimings(uint32_t busyPauseMs, int32_t flashTimeoutMs)
{
    g_busyPauseMs = busyPauseMs;
    g_flashTimeoutMs = flashTimeoutMs;
}

// The error state holds the text as it is shown: a received line quoted in
// it may carry SOH line breaks, which the line sent to the instrument keeps.
static void mdl_store_error(int code, char *text)
{
    for (char *p = text; *p; p++)
        if (*p == '\x01')
            *p = '\n';
    MdlSetError(code, "%s", text);
}

void MdlFail(SioPort *port, int code, const char *fmt, ...)
{
    char text[MDL_ERROR_TEXT_SIZE];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    if (port) {
        char line[MDL_ERROR_TEXT_SIZE + 8];
        snprintf(line, sizeof line, "-ERR %s", text);
        SioMsgSend(port, line, false, kDefaultTimeout);
    }
    mdl_store_error(code, text);
}

void MdlSendFailed(void)
{
    char text[MDL_ERROR_TEXT_SIZE];
    if (SioGetError(nullptr, 0) == 1) {
        snprintf(text, sizeof text, "%s", SioErrStr());
        mdl_store_error(MDL_ERR_INSTRUMENT, text);
    } else {
        snprintf(text, sizeof text, "SioMsgSend(): %s", SioErrStr());
        mdl_store_error(MDL_ERR_LOCAL, text);
    }
}

// Both passes take the file's lines as the analysis does, so that a file it
// accepted goes out exactly as it was read. Lines that are no records are
// passed over whole; a last line without its line end is taken as it is.
int MdlSendFile(SioPort *port, MdlProgressFn cb, void *ctx, FILE *file)
{
    MdlLineReader reader;
    if (!MdlLineOpen(&reader, file, MDL_LINE_ANY)) {
        MdlFail(nullptr, MDL_ERR_LOCAL, "Cannot allocate memory (%lu bytes)", (unsigned long)MDL_LINE_BLOCK);
        return -1;
    }
    int result = send_file(port, cb, ctx, &reader);
    MdlLineClose(&reader);
    return result;
}

int MdlReceiveFlash(SioPort *port, MdlProgressFn cb, void *ctx, FILE *file, uint8_t *area,
                    bool binary, int32_t length)
{
    char line[MDL_READBACK_LINE];
    char prev[MDL_READBACK_LINE] = "";
    bool stop = false;
    int timeouts = 0, badSums = 0;
    uint32_t taken = 0;
    uint64_t stored = 0; // data bytes stored so far
    const uint64_t limit = length > 0 ? (uint64_t)length : 0;

    Notify(cb, ctx, EV_VERIFY_START, 0, 0, nullptr);
    for (;;) {
        const char *answer = nullptr;
        char checksumText[MDL_ERROR_TEXT_SIZE];
        bool failAfterAnswer = false;

        int r = SioMsgRecv(port, line, sizeof line, false, kDefaultTimeout);
        if (r < 0) {
            MdlFail(nullptr, MDL_ERR_LOCAL, "SioMsgRecv(): %s", SioErrStr());
            return -1;
        }
        if (r == 0) {
            if (timeouts >= 3)
                return 0;
            if (!Notify(cb, ctx, EV_VERIFY_RETRY, 0, 0, nullptr))
                stop = true;
            answer = "-RETRY I/O timeout";
            ++timeouts;
        } else {
            timeouts = 0;
            if (line[0] == '#') {
                if (stop)
                    break;
                continue;
            }
            if (std::strcmp(line, ".") == 0)
                break;
            if (line[0] != 'S') {
                MdlFail(port, MDL_ERR_LOCAL, "'%s': not a S-record !", line);
                return -1;
            }
            if (line[1] != '0' && line[1] != '3' && line[1] != '7') {
                MdlFail(port, MDL_ERR_LOCAL, "'%s': unrecognized/unsupported S-record", line);
                return -1;
            }
            uint16_t sum = MdlChecksum(line);
            if ((sum >> 8) != (sum & 0xFF)) {
                if (badSums < 3) {
                    answer = "-RETRY incorrect checksum";
                    ++badSums;
                } else {
                    snprintf(checksumText, sizeof checksumText,
                             "'%s': incorrect checksum (0x%02X), should be 0x%02X", line, sum >> 8,
                             sum & 0xFF);
                    failAfterAnswer = true;
                }
            } else {
                badSums = 0;
                if (std::strcmp(line, prev) != 0) {
                    uint32_t n = 0;
                    if (line[1] == '3') {
                        if (!CountMatches(line, 5)) {
                            MdlFail(port, MDL_ERR_LOCAL,
                                    "'%s': record length does not match its count", line);
                            return -1;
                        }
                        n = MdlHexValue(line + 2, 2) - 5;
                        if (!file && stored + n > limit) {
                            MdlFail(port, MDL_ERR_LOCAL,
                                    "'%s': data beyond the requested length of %ld bytes", line,
                                    (long)length);
                            return -1;
                        }
                    }
                    ++taken;
                    if (file && !binary) {
                        if (std::fprintf(file, "%s\n", line) < 0) {
                            MdlFail(port, MDL_ERR_LOCAL, "fprintf(): %s", ErrnoStr(errno));
                            return -1;
                        }
                    }
                    if (n > 0) {
                        uint8_t bytes[256];
                        MdlHexBytes(line + 12, bytes, (int)n);
                        if (file && binary) {
                            if (std::fwrite(bytes, 1, n, file) != n) {
                                MdlFail(port, MDL_ERR_LOCAL, "fwrite(): %s",
                                        ErrnoStr(errno));
                                return -1;
                            }
                        } else if (!file) {
                            std::memcpy(area + stored, bytes, n);
                        }
                        stored += n;
                        if (!Notify(cb, ctx, EV_VERIFY_PROGRESS, taken, n, line))
                            stop = true;
                    }
                }
                std::memcpy(prev, line, sizeof prev);
                answer = stop ? "+STOP" : "+OK";
            }
        }

        if (failAfterAnswer) {
            char errLine[MDL_ERROR_TEXT_SIZE + 8];
            snprintf(errLine, sizeof errLine, "-ERR %s", checksumText);
            r = SioMsgSend(port, errLine, false, kDefaultTimeout);
        } else {
            r = SioMsgSend(port, answer, false, kDefaultTimeout);
        }
        if (r < 0) {
            MdlFail(nullptr, MDL_ERR_LOCAL, "SioMsgSend(): %s", SioErrStr());
            return -1;
        }
        if (r == 0)
            return 0;
        if (failAfterAnswer) {
            MdlFail(nullptr, MDL_ERR_LOCAL, "%s", checksumText);
            return -1;
        }
        if (stop)
            break;
    }
    Notify(cb, ctx, EV_VERIFY_DONE, taken, 0, nullptr);
    return 1;
}

int MdlUpdate(SioPort *port, int mode, MdlProgressFn cb, void *ctx, const char *name,
              bool binary, uint32_t address, int32_t length)
{
    if (mode < MDL_MODE_UPLOAD || mode > MDL_MODE_FINISH) {
        MdlFail(nullptr, MDL_ERR_LOCAL, "MdlUpdate(): unknown mode %d", mode);
        return -1;
    }
    if (mode == MDL_MODE_UPLOAD && (!name || !*name)) {
        MdlFail(nullptr, MDL_ERR_LOCAL, "MdlUpdate(): no firmware file given");
        return -1;
    }
    if (mode == MDL_MODE_READBACK && (!name || length < 0)) {
        MdlFail(nullptr, MDL_ERR_LOCAL, "MdlUpdate(): no read-back destination given");
        return -1;
    }

    FILE *file = nullptr;
    bool ownFile = false;
    if (mode != MDL_MODE_FINISH && *name) {
        if (std::strcmp(name, "-") == 0) {
            file = mode == MDL_MODE_UPLOAD ? stdin : stdout;
        } else {
            const char *how = mode == MDL_MODE_UPLOAD ? (binary ? "rb" : "r") : (binary ? "wb" : "w");
            file = std::fopen(name, how);
            if (!file) {
                MdlFail(nullptr, MDL_ERR_LOCAL, "%s: %s", name, ErrnoStr(errno));
                return -1;
            }
            ownFile = true;
        }
    }

    int result = Handshake(port);
    if (result == 1) {
        char job[64];
        if (mode == MDL_MODE_UPLOAD)
            snprintf(job, sizeof job, "%s", MDL_JOB_KEYWORD);
        else if (mode == MDL_MODE_READBACK)
            snprintf(job, sizeof job, "%s -r %lu:%ld", MDL_JOB_KEYWORD, (unsigned long)address,
                     (long)length);
        else
            snprintf(job, sizeof job, "%s DONE", MDL_JOB_KEYWORD);
        int r = SioMsgSend(port, job, true, kDefaultTimeout);
        if (r < 0) {
            MdlSendFailed();
            result = -1;
        } else if (r == 0) {
            result = 0;
        } else if (mode == MDL_MODE_UPLOAD) {
            result = MdlSendFile(port, cb, ctx, file);
        } else if (mode == MDL_MODE_READBACK) {
            // An empty name is the memory area itself.
            uint8_t *area = file ? nullptr : reinterpret_cast<uint8_t *>(const_cast<char *>(name));
            result = MdlReceiveFlash(port, cb, ctx, file, area, binary, length);
        } else {
            result = 1;
        }
    }

    // A read-back file is complete only once its buffered tail is written:
    // a failure there must not pass for a good read-back.
    const char *failedCall = nullptr;
    if (ownFile && std::fclose(file) != 0)
        failedCall = "fclose";
    else if (file == stdout && std::fflush(stdout) != 0)
        failedCall = "fflush";
    if (failedCall && mode == MDL_MODE_READBACK && result == 1) {
        MdlFail(nullptr, MDL_ERR_LOCAL, "%s(): %s", failedCall, ErrnoStr(errno));
        result = -1;
    }
    return result;
}
