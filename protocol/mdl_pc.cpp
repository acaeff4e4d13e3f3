#include "protocol/mdl_pc.h"

#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "firmware/mdl.h"
#include "firmware/mdl_write.h"
#include "serial/sio.h"
#include "support/err.h"

namespace {

uint32_t g_busyPauseMs = 2000;
int32_t g_flashTimeoutMs = 30000;

const int32_t kDefaultTimeout = -2;

bool mdl_notify(MdlProgressFn cb, void *ctx, int event, uint32_t a, uint32_t b, const char *line)
{
    return cb ? cb(event, ctx, a, b, line) : true;
}

// A failed SioMsgSend or SioMsgRecv: the link's reason, found by the host.
int mdl_link_failed(const char *call)
{
    MdlFail(nullptr, MDL_ERR_LOCAL, "%s(): %s", call, SioErrStr());
    return -1;
}

// A record's count must match what the line holds: "S", the type, two count
// digits, then count bytes. Anything else would make us read past the line
// or take a negative number of data bytes.
bool mdl_count_matches(const char *line, uint32_t minCount)
{
    size_t len = std::strlen(line);
    if (len < 4)
        return false;
    uint32_t count = MdlHexValue(line + 2, 2);
    return count >= minCount && len == 4 + 2 * (size_t)count;
}

// 1 done, 2 stopped while the instrument was busy, 0 or -1 as MdlUpdate.
int mdl_handshake(SioPort *port, MdlProgressFn cb, void *ctx)
{
    char reply[MDL_REPLY_SIZE];
    for (uint32_t waits = 1;; waits++) {
        int r = SioMsgSend(port, ":DIAG:UPDATE", false, kDefaultTimeout);
        if (r < 0)
            return mdl_link_failed("SioMsgSend");
        if (r == 0)
            return 0;
        r = SioMsgRecv(port, reply, sizeof reply, false, kDefaultTimeout);
        if (r < 0)
            return mdl_link_failed("SioMsgRecv");
        if (r == 0)
            return 0;
        if (reply[0] != '-')
            return 1;
        if (std::strlen(reply) >= 5 && std::strncmp(reply + 5, "Wait", 4) == 0) {
            // An instrument busy for good must not outlast a stop.
            if (!mdl_notify(cb, ctx, EV_UPDATE_BUSY, waits, 0, nullptr))
                return 2;
            std::this_thread::sleep_for(std::chrono::milliseconds(g_busyPauseMs));
            if (!mdl_notify(cb, ctx, EV_UPDATE_BUSY, waits, 0, nullptr))
                return 2;
            continue;
        }
        MdlFail(nullptr, MDL_ERR_INSTRUMENT, "%s", SioMsgText(reply));
        return -1;
    }
}

struct MdlRetryHook {
    MdlProgressFn cb;
    void *ctx;
};

bool mdl_retry_hook(void *context, uint32_t resends, const char *text)
{
    MdlRetryHook *hook = static_cast<MdlRetryHook *>(context);
    return mdl_notify(hook->cb, hook->ctx, EV_SEND_RETRY, resends, 0, text);
}

int mdl_flash_writing(SioPort *port, MdlProgressFn cb, void *ctx)
{
    char line[MDL_READBACK_LINE];
    mdl_notify(cb, ctx, EV_FLASH_START, 0, 0, nullptr);
    for (;;) {
        int r = SioMsgRecv(port, line, sizeof line, false, g_flashTimeoutMs);
        if (r < 0)
            return mdl_link_failed("SioMsgRecv");
        if (r == 0)
            return 0;
        if (std::strncmp(line, "+OK", 3) != 0) {
            MdlFail(nullptr, MDL_ERR_INSTRUMENT, "%s", SioMsgText(line));
            return -1;
        }
        if (std::strcmp(line, "+OK .") == 0) {
            mdl_notify(cb, ctx, EV_FLASH_DONE, 0, 0, nullptr);
            return 1;
        }
        // A bare "+OK" carries no number: nothing written.
        long n = std::strlen(line) > 4 ? std::strtol(line + 4, nullptr, 10) : 0;
        mdl_notify(cb, ctx, EV_FLASH_PROGRESS, (uint32_t)n, 0, nullptr);
    }
}

// The two passes over the file: count and test the records, then send them.
int mdl_send_records(SioPort *port, MdlProgressFn cb, void *ctx, MdlLineReader *reader)
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

    mdl_notify(cb, ctx, EV_UPLOAD_START, 0, 0, nullptr);
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
        // Given up while the instrument kept asking for it again: not sent.
        bool givenUp = r == SIO_MSG_GIVEN_UP;
        if (!givenUp)
            ++sent;
        if (givenUp || !mdl_notify(cb, ctx, EV_UPLOAD_PROGRESS, sent, total, record)) {
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
        if (r < 0)
            return mdl_link_failed("SioMsgSend");
        if (r == 0)
            return 0;
    }
    mdl_notify(cb, ctx, EV_UPLOAD_DONE, sent, total, nullptr);
    if (stopped)
        return 1;
    return mdl_flash_writing(port, cb, ctx);
}

// One read-back in progress.
struct MdlReadback {
    SioPort *port;
    MdlProgressFn cb;
    void *ctx;
    FILE *file;    // the destination, or none
    uint8_t *area; // without a file: the memory area of limit bytes
    bool binary;
    int32_t length;   // asked for
    uint64_t limit;   // the length as a bound
    uint32_t address; // of the range
    bool stop = false;
    int timeouts = 0, badSums = 0; // in a row
    uint32_t taken = 0;            // records taken
    uint64_t stored = 0;           // data bytes stored
    uint32_t base = 0;             // the first record's address: the range's or 0
    char prev[MDL_READBACK_LINE] = "";
};

enum { RB_COMMENT, RB_END, RB_RECORD, RB_BAD_SUM };

// What a read-back line is; -1 when it cannot be taken (the instrument is
// told why).
int mdl_readback_classify(SioPort *port, const char *line)
{
    if (line[0] == '#')
        return RB_COMMENT;
    if (std::strcmp(line, ".") == 0)
        return RB_END;
    if (line[0] != 'S') {
        MdlFail(port, MDL_ERR_LOCAL, "'%s': not a S-record !", line);
        return -1;
    }
    if (line[1] != '0' && line[1] != '3' && line[1] != '7') {
        MdlFail(port, MDL_ERR_LOCAL, "'%s': unrecognized/unsupported S-record", line);
        return -1;
    }
    uint16_t sum = MdlChecksum(line);
    return (sum >> 8) != (sum & 0xFF) ? RB_BAD_SUM : RB_RECORD;
}

// Stores a record with a good checksum, unless it repeats the previous one;
// -1 when it cannot be stored (the instrument is told why).
int mdl_readback_store(MdlReadback &rb, const char *line)
{
    if (std::strcmp(line, rb.prev) == 0)
        return 1;
    uint32_t n = 0;
    if (line[1] == '3') {
        if (!mdl_count_matches(line, 5)) {
            MdlFail(rb.port, MDL_ERR_LOCAL, "'%s': record length does not match its count", line);
            return -1;
        }
        n = MdlHexValue(line + 2, 2) - 5;
        if (rb.stored + n > rb.limit) {
            MdlFail(rb.port, MDL_ERR_LOCAL, "'%s': data beyond the requested length of %ld bytes", line,
                    (long)rb.length);
            return -1;
        }
        // The bytes are stored in the order they come: each record must go
        // on where the one before ended, or they would land at the wrong
        // place and a gap would be taken for flash that matches.
        uint32_t at = MdlHexValue(line + 4, 8);
        if (n > 0 && rb.stored == 0) {
            if (at != rb.address && at != 0) {
                MdlFail(rb.port, MDL_ERR_LOCAL,
                        "'%s': the read-back starts at 0x%08lX, the range at 0x%08lX", line,
                        (unsigned long)at, (unsigned long)rb.address);
                return -1;
            }
            rb.base = at;
        } else if (n > 0 && at != (uint32_t)(rb.base + rb.stored)) {
            MdlFail(rb.port, MDL_ERR_LOCAL, "'%s': record at 0x%08lX where 0x%08lX was to follow",
                    line, (unsigned long)at, (unsigned long)(uint32_t)(rb.base + rb.stored));
            return -1;
        }
    }
    ++rb.taken;
    // The instrument's S0 is empty; the file's names the range's flash
    // address, so that an upload of the file puts the range back.
    std::string start;
    if (line[1] == '0' && rb.file && !rb.binary) {
        char name[MDL_IMAGE_NAME_SIZE];
        if (rb.length > 0)
            std::snprintf(name, sizeof name, "Read-back of %ld bytes", (long)rb.length);
        else
            std::snprintf(name, sizeof name, "Read-back");
        start = MdlImageStartRecord(rb.address, name);
    }
    if (rb.file && !rb.binary &&
        std::fprintf(rb.file, "%s\n", start.empty() ? line : start.c_str()) < 0) {
        MdlFail(rb.port, MDL_ERR_LOCAL, "fprintf(): %s", ErrnoStr(errno));
        return -1;
    }
    if (n > 0) {
        uint8_t bytes[256];
        MdlHexBytes(line + 12, bytes, (int)n);
        if (rb.file && rb.binary) {
            if (std::fwrite(bytes, 1, n, rb.file) != n) {
                MdlFail(rb.port, MDL_ERR_LOCAL, "fwrite(): %s", ErrnoStr(errno));
                return -1;
            }
        } else if (!rb.file) {
            std::memcpy(rb.area + rb.stored, bytes, n);
        }
        rb.stored += n;
        if (!mdl_notify(rb.cb, rb.ctx, EV_VERIFY_PROGRESS, rb.taken, n, line))
            rb.stop = true;
    }
    std::memcpy(rb.prev, line, sizeof rb.prev);
    return 1;
}

// Answers a read-back line: 1 sent, 0 time-out, -1 failure.
int mdl_answer(SioPort *port, const char *answer)
{
    int r = SioMsgSend(port, answer, false, kDefaultTimeout);
    return r < 0 ? mdl_link_failed("SioMsgSend") : r;
}

// The fourth bad checksum in a row: the instrument is told, then the
// read-back fails with the same text.
int mdl_readback_refuse(SioPort *port, const char *line)
{
    uint16_t sum = MdlChecksum(line);
    char text[MDL_ERROR_TEXT_SIZE];
    snprintf(text, sizeof text, "'%s': incorrect checksum (0x%02X), should be 0x%02X", line, sum >> 8,
             sum & 0xFF);
    char refusal[MDL_ERROR_TEXT_SIZE + 8];
    snprintf(refusal, sizeof refusal, "-ERR %s", text);
    int r = mdl_answer(port, refusal);
    if (r <= 0)
        return r;
    MdlFail(nullptr, MDL_ERR_LOCAL, "%s", text);
    return -1;
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
    if (SioGetError(nullptr, 0) != 1) {
        mdl_link_failed("SioMsgSend");
        return;
    }
    char text[MDL_ERROR_TEXT_SIZE];
    snprintf(text, sizeof text, "%s", SioErrStr());
    mdl_store_error(MDL_ERR_INSTRUMENT, text);
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
    int result = mdl_send_records(port, cb, ctx, &reader);
    MdlLineClose(&reader);
    return result;
}

int MdlReceiveFlash(SioPort *port, MdlProgressFn cb, void *ctx, FILE *file, uint8_t *area,
                    bool binary, int32_t length, uint32_t address)
{
    uint64_t limit = length > 0 ? (uint64_t)length : 0;
    MdlReadback rb{port, cb, ctx, file, area, binary, length, limit, address};
    char line[MDL_READBACK_LINE];

    mdl_notify(cb, ctx, EV_VERIFY_START, 0, 0, nullptr);
    for (;;) {
        const char *answer;
        int r = SioMsgRecv(port, line, sizeof line, false, kDefaultTimeout);
        if (r < 0)
            return mdl_link_failed("SioMsgRecv");
        if (r == 0) {
            if (rb.timeouts >= 3)
                return 0;
            if (!mdl_notify(cb, ctx, EV_VERIFY_RETRY, 0, 0, nullptr))
                rb.stop = true;
            ++rb.timeouts;
            answer = "-RETRY I/O timeout";
        } else {
            rb.timeouts = 0;
            int kind = mdl_readback_classify(port, line);
            if (kind < 0)
                return -1;
            if (kind == RB_END && rb.stored != rb.limit) {
                // A stream cut short would leave the rest of the range as
                // whatever the destination held: never a read-back.
                uint64_t last = (uint64_t)address + rb.limit - (rb.limit > 0);
                MdlFail(nullptr, MDL_ERR_LOCAL,
                        "Incomplete read-back of 0x%08llX-0x%08llX: the instrument sent %llu of "
                        "the %llu bytes asked for",
                        (unsigned long long)address, (unsigned long long)last,
                        (unsigned long long)rb.stored, (unsigned long long)rb.limit);
                return -1;
            }
            if (kind == RB_END || (kind == RB_COMMENT && rb.stop))
                break;
            if (kind == RB_COMMENT)
                continue;
            if (kind == RB_BAD_SUM) {
                if (rb.badSums >= 3)
                    return mdl_readback_refuse(port, line);
                ++rb.badSums;
                answer = "-RETRY incorrect checksum";
            } else {
                rb.badSums = 0;
                if (mdl_readback_store(rb, line) < 0)
                    return -1;
                answer = rb.stop ? "+STOP" : "+OK";
            }
        }
        r = mdl_answer(port, answer);
        if (r <= 0)
            return r;
        if (rb.stop)
            break;
    }
    mdl_notify(cb, ctx, EV_VERIFY_DONE, rb.taken, 0, nullptr);
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

    // Resends the instrument asks for are told to the callback, which may
    // end them; the port's own function is put back afterwards.
    SioRetryFn oldRetryFn = port ? port->retryFn : nullptr;
    void *oldRetryContext = port ? port->retryContext : nullptr;
    MdlRetryHook hook{cb, ctx};
    if (port && cb)
        SioSetRetryFn(port, mdl_retry_hook, &hook);
    int result = mdl_handshake(port, cb, ctx);
    if (result == 2) {
        result = 1; // stopped while the instrument was busy
    } else if (result == 1) {
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
        } else if (r == SIO_MSG_GIVEN_UP) {
            result = 1; // stopped while the instrument asked for the job again
        } else if (mode == MDL_MODE_UPLOAD) {
            result = MdlSendFile(port, cb, ctx, file);
        } else if (mode == MDL_MODE_READBACK) {
            // An empty name is the memory area itself.
            uint8_t *area = file ? nullptr : reinterpret_cast<uint8_t *>(const_cast<char *>(name));
            result = MdlReceiveFlash(port, cb, ctx, file, area, binary, length, address);
        } else {
            result = 1;
        }
    }

    if (port && cb)
        SioSetRetryFn(port, oldRetryFn, oldRetryContext);

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
