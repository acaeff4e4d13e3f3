// The C library's error numbers in the system's code space, shared by every
// back end: file functions set errno everywhere.
#include "platform/errno_map.h"
#include "platform/syserr.h"

#include <cerrno>


// The first row of a code also gives that code's message when no errno of
// the thread's own stands behind it, so each group starts with its most
// telling errno.
const PlatErrnoCode platErrnoMap[] = {
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

const size_t platErrnoMapRows = sizeof platErrnoMap / sizeof platErrnoMap[0];

unsigned long PlatErrnoToCode(int err)
{
    for (size_t i = 0; i < platErrnoMapRows; ++i)
        if (platErrnoMap[i].err == err)
            return platErrnoMap[i].code;
    return ERROR_GEN_FAILURE;
}
