// Process-wide diagnostic log: a console channel (a callback) and a file
// channel (time-stamped lines). %m and %W in a format insert the errno text
// and the system error text.
#pragma once

#include <cstdarg>

typedef void (*LogCallback)(const char *line, bool toFile);

enum {
    LOG_CONSOLE = 1,
    LOG_FILE = 2,
};

// No printf format attribute: %W is ours and the compiler would refuse it.
bool LogOpen(const char *fileName, LogCallback callback, const char *prefix, bool flushAfterMessage);
bool LogClose(void);
void vLogX(int flags, const char *fmt, va_list ap);
void Log(const char *fmt, ...);
void LogConsole(const char *fmt, ...);

// The callback in force before LogOpen: the line and a line feed to stderr.
void LogDefaultConsole(const char *line, bool toFile);
