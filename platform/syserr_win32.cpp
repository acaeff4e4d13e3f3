// The system error code on Windows: the thread's last-error value, and
// the system message table for its text.
#include <windows.h>

#include "platform/syserr.h"
#include "platform/errno_map.h"


#include <cerrno>
#include <cstdio>
#include <cstring>

void PlatErrnoMessage(int err, char *buf, size_t size)
{
    if (!buf || size == 0)
        return;
    // The C run-time keeps strerror's text per thread.
    const char *text = strerror(err);
    snprintf(buf, size, "%s", text ? text : "");
}

unsigned long PlatGetLastError(void)
{
    return GetLastError();
}

void PlatSetLastError(unsigned long code)
{
    SetLastError((DWORD)code);
}

// The code is all the thread keeps: no errno stands behind it.
int PlatGetLastErrno(void)
{
    return 0;
}

unsigned long PlatSetLastErrorFromErrno(int err)
{
    unsigned long code = PlatErrnoToCode(err);
    SetLastError((DWORD)code);
    return code;
}

bool PlatErrorMessage(unsigned long code, char *buf, size_t size)
{
    if (!buf || size == 0)
        return false;
    if (size > 0xFFFF)
        size = 0xFFFF;
    // One line: the maximum-width mask turns the message's line breaks into
    // blanks. On failure the look-up's own error stays the last error.
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_MAX_WIDTH_MASK, nullptr,
                             (DWORD)code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), buf,
                             (DWORD)size, nullptr);
    if (n == 0) {
        buf[0] = '\0';
        return false;
    }
    return true;
}
