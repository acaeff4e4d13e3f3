#include "platform/filestat.h"

#include <cerrno>
#include <cstdio>
#include <sys/stat.h>

#include "platform/syserr.h"

bool PlatFileStat(FILE *file, uint64_t *size, std::time_t *modified, const char **failedCall)
{
    struct stat st;
    if (fstat(fileno(file), &st) != 0) {
        PlatSetLastErrorFromErrno(errno);
        *failedCall = "fstat";
        return false;
    }
    *size = st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
    *modified = st.st_mtime;
    return true;
}

bool PlatFileIsPlain(const char *path)
{
    struct stat st;
    return stat(path, &st) != 0 ? errno == ENOENT : S_ISREG(st.st_mode);
}

bool PlatFileReplace(const char *from, const char *to)
{
    if (std::rename(from, to) == 0)
        return true;
    PlatSetLastErrorFromErrno(errno);
    return false;
}
