// What the file analysis needs of the system: the size and the
// last-write time of an open file. On failure the thread's last system
// error is set and *failedCall names the system call.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>

bool PlatFileStat(FILE *file, uint64_t *size, std::time_t *modified, const char **failedCall);
