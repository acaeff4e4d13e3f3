// Texts for system error codes: "message <ERROR_NAME>". The codes are the
// Win32 error code space; on other systems platform/syserr maps the native
// error numbers into it.
#pragma once

#include "platform/syserr.h"

#include <cstdint>

// One row of the name table. A row with the code -1 is a prefix row: its
// text becomes the prefix of the names in the rows after it.
struct WinErrRow {
    int32_t code;
    const char *name;
};

#define WINERR_ROWS 156

extern const WinErrRow WinErrNames[WINERR_ROWS];

const char *WinErrName(unsigned long code);
const char *WinErrStr(unsigned long code);
const char *WinLastErrStr(void);
