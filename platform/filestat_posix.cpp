#include "platform/filestat.h"

#include <cerrno>
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
