// The size and last-write time of an open file, from its system handle.
#include <windows.h>

#include "platform/filestat.h"

#include <cstdio>
#include <io.h>

#include "platform/syserr.h"

bool PlatFileStat(FILE *file, uint64_t *size, std::time_t *modified, const char **failedCall)
{
    HANDLE h = (HANDLE)_get_osfhandle(_fileno(file));
    if (h == INVALID_HANDLE_VALUE) {
        SetLastError(ERROR_INVALID_HANDLE);
        *failedCall = "_get_osfhandle";
        return false;
    }
    DWORD high = 0;
    SetLastError(NO_ERROR);
    DWORD low = GetFileSize(h, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) {
        *failedCall = "GetFileSize";
        return false;
    }
    FILETIME written;
    if (!GetFileTime(h, nullptr, nullptr, &written)) {
        *failedCall = "GetFileTime";
        return false;
    }
    *size = ((uint64_t)high << 32) | low;
    // File times count 100 ns steps from 1601; calendar times seconds from
    // 1970.
    uint64_t ticks = ((uint64_t)written.dwHighDateTime << 32) | written.dwLowDateTime;
    const uint64_t epoch = 116444736000000000ULL;
    *modified = ticks >= epoch ? (std::time_t)((ticks - epoch) / 10000000ULL) : 0;
    return true;
}

bool PlatFileIsPlain(const char *path)
{
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD e = GetLastError();
        return e == ERROR_FILE_NOT_FOUND;
    }
    return !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE));
}

bool PlatFileReplace(const char *from, const char *to)
{
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}
