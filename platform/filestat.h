// What the file analysis and the run need of the system: the size and the
// last-write time of an open file, and a file put in place of another.
// On failure the thread's last system error is set (and *failedCall names
// the system call).
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>

bool PlatFileStat(FILE *file, uint64_t *size, std::time_t *modified, const char **failedCall);

// True when path names a regular file or nothing at all (a device or a
// folder is written to as it is, never replaced).
bool PlatFileIsPlain(const char *path);
// Puts the file from in place of to in one step, replacing it.
bool PlatFileReplace(const char *from, const char *to);
