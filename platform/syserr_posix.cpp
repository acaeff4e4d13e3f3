// The system error code on POSIX: errno values mapped into the Win32 code
// space that the rest of the program names and recognises.
#include "platform/syserr.h"

#include "support/winerr.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace
{

struct ErrnoCode {
    int err;
    unsigned long code;
};

// The first row of a code also gives that code's message when no errno of
// the thread's own stands behind it, so each group starts with its most
// telling errno.
const ErrnoCode syserr_map[] = {
    {0, ERROR_SUCCESS},
    {EACCES, ERROR_ACCESS_DENIED},
    {EPERM, ERROR_ACCESS_DENIED},
    {EBUSY, ERROR_ACCESS_DENIED},
    {EAGAIN, ERROR_ACCESS_DENIED},
    {EWOULDBLOCK, ERROR_ACCESS_DENIED},
    {EISDIR, ERROR_ACCESS_DENIED},
    {ENOENT, ERROR_FILE_NOT_FOUND},
    {ENODEV, ERROR_FILE_NOT_FOUND},
    {ENXIO, ERROR_FILE_NOT_FOUND},
    {ENOTDIR, ERROR_PATH_NOT_FOUND},
    {EIO, ERROR_GEN_FAILURE},
    {ETIMEDOUT, ERROR_SEM_TIMEOUT},
    {ECANCELED, ERROR_OPERATION_ABORTED},
    {EINTR, ERROR_OPERATION_ABORTED},
    {ENOMEM, ERROR_NOT_ENOUGH_MEMORY},
    {ENOBUFS, ERROR_NOT_ENOUGH_MEMORY},
    {EINVAL, ERROR_INVALID_PARAMETER},
    {EBADF, ERROR_INVALID_HANDLE},
    {EMFILE, ERROR_TOO_MANY_OPEN_FILES},
    {ENFILE, ERROR_TOO_MANY_OPEN_FILES},
    {EPIPE, ERROR_BROKEN_PIPE},
    {ENOTTY, ERROR_INVALID_FUNCTION},
    {ENOSPC, ERROR_DISK_FULL},
    {EROFS, ERROR_WRITE_PROTECT},
    {ENOSYS, ERROR_CALL_NOT_IMPLEMENTED},
    {EOPNOTSUPP, ERROR_NOT_SUPPORTED},
    {ENOTSUP, ERROR_NOT_SUPPORTED},
    {EEXIST, ERROR_FILE_EXISTS},
    {EXDEV, ERROR_NOT_SAME_DEVICE},
    {ENAMETOOLONG, ERROR_INVALID_NAME},
    {ESPIPE, ERROR_SEEK_ON_DEVICE},
    {ENOTEMPTY, ERROR_DIR_NOT_EMPTY},
    {ENOEXEC, ERROR_BAD_EXE_FORMAT},
};

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

void PlatSetLastError(unsigned long code)
{
    syserr_code = code;
    syserr_errno = 0;
}

unsigned long PlatErrnoToCode(int err)
{
    for (const ErrnoCode &row : syserr_map)
        if (row.err == err)
            return row.code;
    return ERROR_GEN_FAILURE;
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
    for (const ErrnoCode &row : syserr_map) {
        if (row.code == code) {
            PlatErrnoMessage(row.err, buf, size);
            return true;
        }
    }
    PlatSetLastError(ERROR_MR_MID_NOT_FOUND);
    return false;
}
