// The system error code of the calling thread, in the Win32 code space
// (support/winerr.h), and the readable message for a code.
#pragma once

#include <cstddef>

unsigned long PlatGetLastError(void);
void PlatSetLastError(unsigned long code);

// The C library error number behind the thread's last code, 0 when the code
// did not come from one.
int PlatGetLastErrno(void);

// Maps a C library error number to the nearest system error code.
unsigned long PlatErrnoToCode(int err);

// Sets the thread's last system error from errno (or from err), keeping the
// native number so that its own message can be shown. Returns the code.
unsigned long PlatSetLastErrorFromErrno(int err);

// Writes the system's one-line message for code into buf. When the system
// has no text for it, returns false and leaves the look-up's own failure as
// the thread's last error (ERROR_MR_MID_NOT_FOUND).
bool PlatErrorMessage(unsigned long code, char *buf, size_t size);

// The C library's message for an errno value (thread-safe), cut to size.
void PlatErrnoMessage(int err, char *buf, size_t size);
