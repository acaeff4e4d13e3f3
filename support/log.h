// Process-wide diagnostic log: a console channel (a callback) and a file
// channel (time-stamped lines). %m and %W in a format insert the errno text
// and the system error text.
#pragma once

#include <cstdarg>
#include <cstdio>

typedef void (*LogCallback)(const char *line, bool toFile);

enum {
    LOG_CONSOLE = 1,
    LOG_FILE = 2,
};

// No printf format attribute: %W is ours and the compiler would refuse it.
bool LogOpen(const char *fileName, LogCallback callback, const char *prefix, bool flushAfterMessage);
bool LogClose(void);
// Why the last LogOpen failed ("LogOpen(): NAME: reason", as it was logged);
// empty after a success.
const char *LogOpenFailure(void);
void vLogX(int flags, const char *fmt, va_list ap);
void Log(const char *fmt, ...);
void LogConsole(const char *fmt, ...);

// The callback in force before LogOpen: the line and a line feed to stderr.
void LogDefaultConsole(const char *line, bool toFile);

// Size of the buffer in which vLogX replaces %m and %W, terminator included.
#define LOG_SUBST_SIZE 512

// Builds in buf (LOG_SUBST_SIZE bytes; fmt may be buf itself) the format fmt
// with its first "%<marker>" replaced by text, taken literally. Returns 1
// when replaced, 0 when fmt holds no such marker, -1 (buf untouched) when
// the result would not fit. Used by vLogX; declared for the tests.
int LogSubstitute(char *buf, const char *fmt, char marker, const char *text);

// The function LogOpen opens the log file with (null: fopen). For tests.
void LogSetOpener(FILE *(*opener)(const char *name, const char *mode));
