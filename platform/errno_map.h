// The table that carries C library error numbers into the system error
// code space (platform/syserr.h).
#pragma once

#include <cstddef>

struct PlatErrnoCode {
    int err;
    unsigned long code;
};

// In search order; the first row of a code is its most telling errno.
extern const PlatErrnoCode platErrnoMap[];
extern const size_t platErrnoMapRows;
