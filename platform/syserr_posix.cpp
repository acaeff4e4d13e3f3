// The system error code on POSIX: errno values mapped into the Win32 code
// space that the rest of the program names and recognises.
#include "platform/syserr.h"
#include "platform/errno_map.h"


#include <cerrno>
#include <cstdio>
#include <cstring>

namespace
{

// The last code and, when an errno produced it, that errno: its own message
// says more than the code's ("Device or resource busy" for a busy port).
thread_local unsigned long syserr_code = ERROR_SUCCESS;
thread_local int syserr_errno = 0;

// strerror_r comes in two kinds (XSI returns int, GNU returns the text).
[[maybe_unused]] const char *syserr_text(int rc, const char *buf)
{
    return rc == 0 ? buf : "";
}

[[maybe_unused]] const char *syserr_text(const char *text, const char *)
{
    return text;
}

} // namespace

void PlatErrnoMessage(int err, char *buf, size_t size)
{
    if (!buf || size == 0)
        return;
    char tmp[256];
    tmp[0] = '\0';
    snprintf(buf, size, "%s", syserr_text(strerror_r(err, tmp, sizeof tmp), tmp));
}

unsigned long PlatGetLastError(void)
{
    return syserr_code;
}

int PlatGetLastErrno(void)
{
    return syserr_errno;
}

void PlatSetLastError(unsigned long code)
{
    syserr_code = code;
    syserr_errno = 0;
}

unsigned long PlatSetLastErrorFromErrno(int err)
{
    syserr_code = PlatErrnoToCode(err);
    syserr_errno = err;
    return syserr_code;
}

bool PlatErrorMessage(unsigned long code, char *buf, size_t size)
{
    if (!buf || size == 0)
        return false;
    if (code == syserr_code && syserr_errno != 0) {
        PlatErrnoMessage(syserr_errno, buf, size);
        return true;
    }
    for (size_t i = 0; i < platErrnoMapRows; ++i) {
        const PlatErrnoCode &row = platErrnoMap[i];
        if (row.code == code) {
            PlatErrnoMessage(row.err, buf, size);
            return true;
        }
    }
    PlatSetLastError(ERROR_MR_MID_NOT_FOUND);
    return false;
}
