// Module mdl_pc: the host side of the instrument's firmware update
// dialogue. One MdlUpdate call is one whole exchange: handshake, job line,
// then the upload of a file (mode 0), the read-back of a flash range
// (mode 1) or the finish command (mode 2).
//
// Results: -1 failure (the mdl error state holds code and text), 0 the
// instrument did not answer in time (error state untouched), 1 done or
// stopped by the progress callback.
#pragma once

#include <cstdint>
#include <cstdio>

struct SioPort;

enum {
    EV_UPLOAD_START = 0,
    EV_UPLOAD_PROGRESS = 1,
    EV_UPLOAD_DONE = 2,
    EV_VERIFY_START = 3,
    EV_VERIFY_PROGRESS = 4,
    EV_VERIFY_RETRY = 5,
    EV_VERIFY_DONE = 6,
    EV_FLASH_START = 7,
    EV_FLASH_PROGRESS = 8,
    EV_FLASH_DONE = 9,
    // The instrument asked for a line again ("-RETRY"): a = how often for
    // this line, line = the line. Return value read: false gives the line
    // up and the job ends as stopped.
    EV_SEND_RETRY = 10,
    // The instrument is busy ("Wait") and the handshake pauses: given
    // before and after each pause, a = the busy answers so far. Return
    // value read: false ends the job as stopped.
    EV_UPDATE_BUSY = 11,
};

enum {
    MDL_MODE_UPLOAD = 0,
    MDL_MODE_READBACK = 1,
    MDL_MODE_FINISH = 2,
};

// The return value is read only for EV_UPLOAD_PROGRESS, EV_VERIFY_PROGRESS,
// EV_VERIFY_RETRY, EV_SEND_RETRY and EV_UPDATE_BUSY: false asks to stop.
typedef bool (*MdlProgressFn)(int event, void *context, uint32_t a, uint32_t b,
                              const char *line);

#define MDL_JOB_KEYWORD "MIRDEL"
#define MDL_REPLY_SIZE 1024    // the handshake reply
#define MDL_READBACK_LINE 514  // a read-back or flash-writing line

// name: mode 0 the firmware file ("-" standard input); mode 1 the file that
// receives the read-back ("-" standard output) or, when its first byte is 0,
// the memory area itself, which must hold length bytes.
int MdlUpdate(SioPort *port, int mode, MdlProgressFn callback = nullptr, void *context = nullptr,
              const char *name = nullptr, bool binary = false, uint32_t address = 0,
              int32_t length = 0);

// The upload of an open file and the flash writing that follows it.
int MdlSendFile(SioPort *port, MdlProgressFn callback, void *context, FILE *file);

// The read-back stream into a file or, without one, into area, which holds
// length bytes. The stream must hold the range exactly: its data records
// follow each other without gap or overlap from the range's start (as a
// flash address, or counted from 0), and "." comes after length bytes;
// anything else fails, so that bytes never sent are never taken for the
// flash's. An S-record
// file gets an S0 with address, the range's flash address, in place of the
// instrument's empty one, so that it can be uploaded again.
int MdlReceiveFlash(SioPort *port, MdlProgressFn callback, void *context, FILE *file, uint8_t *area,
                    bool binary, int32_t length, uint32_t address = 0);

// Sets the error state; with a port, also tells the instrument "-ERR " and
// the text.
void MdlFail(SioPort *port, int code, const char *fmt, ...) __attribute__((format(printf, 3, 4)));

// Records a failed SioMsgSend: the instrument's reason (code 1) or the
// link's failure (code -1).
void MdlSendFailed(void);

// The busy pause after "Wait" and the flash-writing wait; 2000 and 30000 ms
// unless a test makes them shorter.
void MdlSetTimings(uint32_t busyPauseMs, int32_t flashTimeoutMs);
