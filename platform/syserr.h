// The system error code of the calling thread, in the Win32 code space
// (the ERROR_ codes below; support/winerr.h names them), and the readable
// message for a code.
#pragma once

#include <cstddef>

// The codes the program names; the Windows headers define the same values.
#ifndef ERROR_SUCCESS
#define ERROR_SUCCESS 0UL
#endif
#ifndef ERROR_INVALID_FUNCTION
#define ERROR_INVALID_FUNCTION 1UL
#endif
#ifndef ERROR_FILE_NOT_FOUND
#define ERROR_FILE_NOT_FOUND 2UL
#endif
#ifndef ERROR_PATH_NOT_FOUND
#define ERROR_PATH_NOT_FOUND 3UL
#endif
#ifndef ERROR_ACCESS_DENIED
#define ERROR_ACCESS_DENIED 5UL
#endif
#ifndef ERROR_INVALID_HANDLE
#define ERROR_INVALID_HANDLE 6UL
#endif
#ifndef ERROR_NOT_ENOUGH_MEMORY
#define ERROR_NOT_ENOUGH_MEMORY 8UL
#endif
#ifndef ERROR_GEN_FAILURE
#define ERROR_GEN_FAILURE 31UL
#endif
#ifndef ERROR_NOT_SUPPORTED
#define ERROR_NOT_SUPPORTED 50UL
#endif
#ifndef ERROR_INVALID_PARAMETER
#define ERROR_INVALID_PARAMETER 87UL
#endif
#ifndef ERROR_BROKEN_PIPE
#define ERROR_BROKEN_PIPE 109UL
#endif
#ifndef ERROR_SEM_TIMEOUT
#define ERROR_SEM_TIMEOUT 121UL
#endif
#ifndef ERROR_MR_MID_NOT_FOUND
#define ERROR_MR_MID_NOT_FOUND 317UL
#endif
#ifndef ERROR_OPERATION_ABORTED
#define ERROR_OPERATION_ABORTED 995UL
#endif

#ifndef ERROR_TOO_MANY_OPEN_FILES
#define ERROR_TOO_MANY_OPEN_FILES 4UL
#endif
#ifndef ERROR_NOT_SAME_DEVICE
#define ERROR_NOT_SAME_DEVICE 17UL
#endif
#ifndef ERROR_WRITE_PROTECT
#define ERROR_WRITE_PROTECT 19UL
#endif
#ifndef ERROR_FILE_EXISTS
#define ERROR_FILE_EXISTS 80UL
#endif
#ifndef ERROR_DISK_FULL
#define ERROR_DISK_FULL 112UL
#endif
#ifndef ERROR_CALL_NOT_IMPLEMENTED
#define ERROR_CALL_NOT_IMPLEMENTED 120UL
#endif
#ifndef ERROR_INVALID_NAME
#define ERROR_INVALID_NAME 123UL
#endif
#ifndef ERROR_SEEK_ON_DEVICE
#define ERROR_SEEK_ON_DEVICE 132UL
#endif
#ifndef ERROR_DIR_NOT_EMPTY
#define ERROR_DIR_NOT_EMPTY 145UL
#endif
#ifndef ERROR_BAD_EXE_FORMAT
#define ERROR_BAD_EXE_FORMAT 193UL
#endif

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
