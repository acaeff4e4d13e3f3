// The process log: one message is formatted, split into lines and handed to
// the console callback and, time-stamped, to the log file.
#include "support/log.h"

#include "platform/locale.h"
#include "platform/memalloc.h"
#include "support/winerr.h"
#include "support/err.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>

namespace
{

const size_t LOG_MSG_SIZE = 1028;
const size_t LOG_LINE_SIZE = 516;
// "%02d/%02d %2d:%02d:%02d ": continuation lines are indented by as much.
const int LOG_STAMP_WIDTH = 15;

struct LogState {
    FILE *file;
    LogCallback callback;
    char *prefix;
    bool flush;
};

// Written only by LogOpen during start-up, before the worker thread exists.
LogState log_state = {nullptr, LogDefaultConsole, nullptr, false};

// Calls in progress over all threads: a line written while another message
// is under way carries the depth tag.
std::atomic<int32_t> log_depth{0};

FILE *(*log_opener)(const char *, const char *) = fopen;

// Why the last LogOpen failed, as its log line tells it; empty after a success.
char log_open_failure[LOG_SUBST_SIZE];

// Past the end of the conversion that starts at p (a '%').
const char *log_conv_end(const char *p)
{
    const char *q = p + 1;
    while (*q && strchr("-+ #0'123456789.*hlLqjzt", *q))
        q++;
    return *q ? q + 1 : q;
}

bool log_is_marker(const char *p)
{
    return p[0] == '%' && (p[1] == 'm' || p[1] == 'W');
}

// The first "%<marker>" conversion of fmt; "%%m" is a percent sign and an m.
const char *log_find_marker(const char *fmt, char marker)
{
    for (const char *p = strchr(fmt, '%'); p; p = strchr(p, '%')) {
        if (p[1] == marker)
            return p;
        p = log_conv_end(p);
    }
    return nullptr;
}

// Copies src (not buf) into buf with the markers still in it made literal,
// so that the formatter prints them as written. When the copy does not fit,
// it is cut before the first conversion that would not fit whole.
void log_quote_markers(char *buf, const char *src)
{
    const size_t cap = LOG_SUBST_SIZE - 1;
    size_t out = 0;
    const char *p = src;
    while (*p) {
        const char *end = *p == '%' ? log_conv_end(p) : p + 1;
        bool marker = log_is_marker(p);
        size_t len = static_cast<size_t>(end - p);
        if (out + len + (marker ? 1 : 0) > cap)
            break;
        if (marker)
            buf[out++] = '%';
        memcpy(buf + out, p, len);
        out += len;
        p = end;
    }
    buf[out] = '\0';
}

// Replaces the first marker of *format with text, reporting a result that
// would not fit through a nested call.
void log_replace(char *subst, const char **format, char marker, const char *text)
{
    int rc = LogSubstitute(subst, *format, marker, text);
    if (rc > 0)
        *format = subst;
    else if (rc < 0)
        Log("%s(): the resulting string would be too long (overflow) !", "log:replace");
}

void log_deliver(int flags, const char *line, bool first)
{
    if ((flags & LOG_CONSOLE) && log_state.callback)
        log_state.callback(line, (flags & LOG_FILE) != 0);

    FILE *file = log_state.file;
    if (!(flags & LOG_FILE) || !file)
        return;
    if (first) {
        char stamp[32];
        struct tm tm;
        if (PlatLocalTime(time(nullptr), &tm))
            snprintf(stamp, sizeof stamp, "%02d/%02d %2d:%02d:%02d ", tm.tm_mon + 1, tm.tm_mday,
                     tm.tm_hour, tm.tm_min, tm.tm_sec);
        else
            snprintf(stamp, sizeof stamp, "%*s", LOG_STAMP_WIDTH, "");
        // One call per line, so that lines of two threads do not mix.
        fprintf(file, "%s%s\n", stamp, line);
    } else if (line[0]) {
        fprintf(file, "%*s%s\n", LOG_STAMP_WIDTH, "", line);
    } else {
        fputc('\n', file);
    }
}

void log_lines(int flags, const char *msg)
{
    char line[LOG_LINE_SIZE];
    const char *prefix = log_state.prefix ? log_state.prefix : "";
    int prefixLen = static_cast<int>(strlen(prefix));

    // A leading line feed makes every line a continuation of the message
    // written before.
    const char *p = msg;
    bool first = true;
    if (*p == '\n') {
        first = false;
        p++;
    }
    for (;;) {
        const char *nl = strchr(p, '\n');
        int len = static_cast<int>(nl ? nl - p : static_cast<ptrdiff_t>(strlen(p)));
        if (first) {
            int depth = log_depth.load();
            if (depth > 1)
                snprintf(line, sizeof line, "%s%s()-REENT #%d: %.*s", prefix, "vLogX", depth - 1,
                         len, p);
            else
                snprintf(line, sizeof line, "%s%.*s", prefix, len, p);
        } else {
            snprintf(line, sizeof line, "%*s%.*s", prefixLen, "", len, p);
        }
        log_deliver(flags, line, first);
        if (!nl)
            break;
        p = nl + 1;
        first = false;
    }
}

} // namespace

int LogSubstitute(char *buf, const char *fmt, char marker, const char *text)
{
    const char *at = log_find_marker(fmt, marker);
    if (!at)
        return 0;
    size_t pre = static_cast<size_t>(at - fmt);
    size_t post = strlen(at + 2);
    // A percent sign of the text is doubled, so that it is no conversion.
    size_t ins = 0;
    for (const char *t = text; *t; t++)
        ins += *t == '%' ? 2 : 1;
    if (pre + ins + post > LOG_SUBST_SIZE - 1)
        return -1;

    // The tail first: when fmt is buf it moves within the same buffer.
    memmove(buf + pre + ins, at + 2, post + 1);
    if (fmt != buf)
        memcpy(buf, fmt, pre);
    char *d = buf + pre;
    for (const char *t = text; *t; t++) {
        *d++ = *t;
        if (*t == '%')
            *d++ = '%';
    }
    return 1;
}

void LogSetOpener(FILE *(*opener)(const char *name, const char *mode))
{
    log_opener = opener ? opener : fopen;
}

bool LogClose(void)
{
    bool ok = true;
    if (log_state.file) {
        ok = fclose(log_state.file) == 0;
        log_state.file = nullptr;
    }
    log_state.prefix = static_cast<char *>(_mem_free(log_state.prefix));
    return ok;
}

const char *LogOpenFailure(void)
{
    return log_open_failure;
}

bool LogOpen(const char *fileName, LogCallback callback, const char *prefix, bool flushAfterMessage)
{
    LogClose();

    if (fileName) {
        FILE *file = log_opener(fileName, "a");
        // Some devices and pipes refuse the seek that appending implies.
        if (!file && errno == ESPIPE)
            file = log_opener(fileName, "w");
        if (!file) {
            int err = errno;
            snprintf(log_open_failure, sizeof log_open_failure, "%s(): %s: %s", "LogOpen", fileName,
                     ErrnoStr(err));
            Log("%s", log_open_failure);
            errno = err;
            return false;
        }
        log_state.file = file;
    }

    log_open_failure[0] = '\0';
    log_state.callback = callback;
    log_state.flush = flushAfterMessage;
    log_state.prefix = _mem_strdup(prefix);
    return true;
}

void vLogX(int flags, const char *fmt, va_list ap)
{
    // Read now: the placeholders show the error of the caller, and the
    // caller still finds it in errno afterwards.
    int err = errno;
    log_depth.fetch_add(1);

    char subst[LOG_SUBST_SIZE];
    char msg[LOG_MSG_SIZE];
    const char *format = fmt ? fmt : "";

    if (log_find_marker(format, 'm'))
        log_replace(subst, &format, 'm', ErrnoStr(err));
    if (log_find_marker(format, 'W'))
        log_replace(subst, &format, 'W', WinLastErrStr());
    if (log_find_marker(format, 'm') || log_find_marker(format, 'W')) {
        // Markers not replaced are printed as written.
        const char *src = format;
        if (format == subst) {
            memcpy(msg, subst, strlen(subst) + 1);
            src = msg;
        }
        log_quote_markers(subst, src);
        format = subst;
    }

    // A longer message is cut to the buffer.
    if (vsnprintf(msg, sizeof msg, format, ap) < 0)
        msg[0] = '\0';
    log_lines(flags, msg);

    if (log_state.flush && log_state.file)
        fflush(log_state.file);

    log_depth.fetch_sub(1);
    errno = err;
}

void Log(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    vLogX(LOG_CONSOLE | LOG_FILE, fmt, ap);
    va_end(ap);
}

void LogConsole(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    vLogX(LOG_CONSOLE, fmt, ap);
    va_end(ap);
}

void LogDefaultConsole(const char *line, bool toFile)
{
    (void)toFile;
    fprintf(stderr, "%s\n", line);
}
