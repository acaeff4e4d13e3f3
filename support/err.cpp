// Texts for the C library's error numbers: the library's message and the
// symbolic name, so that a log line says both.
#include "support/err.h"

#include "platform/syserr.h"
#include "support/st.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace
{

struct ErrnoRow {
    int value;
    const char *name;
};

// Searched in this order: where two names share a value, the first wins.
const ErrnoRow err_names[] = {
    {EPERM, "EPERM"},     {ENOENT, "ENOENT"},
    {ESRCH, "ESRCH"},     {EINTR, "EINTR"},
    {EIO, "EIO"},         {ENXIO, "ENXIO"},
    {E2BIG, "E2BIG"},     {ENOEXEC, "ENOEXEC"},
    {EBADF, "EBADF"},     {ECHILD, "ECHILD"},
    {EAGAIN, "EAGAIN"},   {ENOMEM, "ENOMEM"},
    {EACCES, "EACCES"},   {EFAULT, "EFAULT"},
    {EBUSY, "EBUSY"},     {EEXIST, "EEXIST"},
    {EXDEV, "EXDEV"},     {ENODEV, "ENODEV"},
    {ENOTDIR, "ENOTDIR"}, {EISDIR, "EISDIR"},
    {EINVAL, "EINVAL"},   {ENFILE, "ENFILE"},
    {EMFILE, "EMFILE"},   {ENOTTY, "ENOTTY"},
    {EFBIG, "EFBIG"},     {ENOSPC, "ENOSPC"},
    {ESPIPE, "ESPIPE"},   {EROFS, "EROFS"},
    {EMLINK, "EMLINK"},   {EPIPE, "EPIPE"},
    {EDOM, "EDOM"},       {ERANGE, "ERANGE"},
    {EDEADLK, "EDEADLK"}, {ENAMETOOLONG, "ENAMETOOLONG"},
    {ENOLCK, "ENOLCK"},   {ENOSYS, "ENOSYS"},
};

const size_t ERRNO_STR_SIZE = 104;

thread_local char err_str[ERRNO_STR_SIZE];

} // namespace

const char *ErrnoName(int value)
{
    for (const ErrnoRow &row : err_names)
        if (row.value == value)
            return row.name;
    return St("E%d", value);
}

const char *ErrnoStr(int value)
{
    char msg[ERRNO_STR_SIZE];
    PlatErrnoMessage(value, msg, sizeof msg);
    // A long message gives way to the name: callers look for the name.
    const char *name = ErrnoName(value);
    int room = static_cast<int>(sizeof err_str) - 4 - static_cast<int>(strlen(name));
    snprintf(err_str, sizeof err_str, "%.*s <%s>", room > 0 ? room : 0, msg, name);
    return err_str;
}
