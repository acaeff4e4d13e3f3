// One open serial device: opening with the line settings of the link,
// reads and writes that never block, a wait for the device to become ready,
// and the line-error counters.
//
// Every function that fails returns -1 with the thread's last system error
// set (platform/syserr.h) and, where it takes one, *failedCall pointing at
// the failing call as messages name it, for example "tcsetattr()" or
// "poll()". A null *failedCall after a failed open means that the device
// itself could not be opened or taken exclusively.
#pragma once

#include <cstddef>
#include <cstdint>

struct PlatSerialDevice;

// The name of the read call; messages about a failed read add the count
// requested to it.
extern const char PLAT_SERIAL_READ_CALL[];

// True when the device layer can set the line to this many bits per second.
bool PlatSerialBaudSupported(uint32_t baudRate);

// Opens the device exclusively (a second opener is refused with
// ERROR_ACCESS_DENIED) and sets it to baudRate, 8 data bits, no parity, one
// stop bit, no flow control, DTR and RTS on. Bytes queued before the open are
// dropped. Where the driver takes them, the port is set to low latency and
// the line feed becomes the adapter's event character (a USB adapter then
// hands over every line at once), until PlatSerialClose gives back what the
// port had. Returns 1 with *device set, or -1.
int PlatSerialOpen(const char *path, uint32_t baudRate, PlatSerialDevice **device,
                   const char **failedCall);

// Releases the device; null is allowed.
void PlatSerialClose(PlatSerialDevice *device);

// Where the devices' attributes are looked for (POSIX: the sysfs root,
// "/sys"; null or "" restores it; Windows has none). Tests and benchmarks
// lay out their own.
void PlatSerialSetSysfsRoot(const char *root);

// The system's own handle of the open device (Windows: its HANDLE; POSIX:
// the descriptor), for tests that read the line's settings back.
intptr_t PlatSerialSystemHandle(PlatSerialDevice *device);

// Takes up to length queued bytes at once; *count is 0 when nothing is
// queued. A device that has hung up fails with an I/O error. Returns 1, -1,
// or 0 when a line error ended the read: the caller then clears and reports
// it with PlatSerialLineErrors and reads again (a device that reports line
// errors beside the bytes, as termios does, never answers 0).
int PlatSerialRead(PlatSerialDevice *device, void *buffer, size_t length, size_t *count);

// Hands as many bytes as the device takes at once to it (*count may be 0).
// Returns 1 or -1 with *failedCall set.
int PlatSerialWrite(PlatSerialDevice *device, const void *data, size_t length, size_t *count,
                    const char **failedCall);

enum {
    PLAT_SERIAL_WAIT_READ = 1,  // bytes to read, a hang-up or a line failure
    PLAT_SERIAL_WAIT_WRITE = 2, // room to write, a hang-up or a line failure
};

// Waits until the device is ready for the direction given, at most timeout
// milliseconds (-1: no limit). Returns 1 when ready, 0 when the time ran
// out, -1 on failure.
int PlatSerialWait(PlatSerialDevice *device, int direction, int32_t timeout,
                   const char **failedCall);

// Line-error bits, as the link's report names them.
enum : uint32_t {
    PLAT_SERIAL_CE_RXOVER = 0x0001,
    PLAT_SERIAL_CE_OVERRUN = 0x0002,
    PLAT_SERIAL_CE_RXPARITY = 0x0004,
    PLAT_SERIAL_CE_FRAME = 0x0008,
    PLAT_SERIAL_CE_BREAK = 0x0010,
    PLAT_SERIAL_CE_TXFULL = 0x0100,
    PLAT_SERIAL_CE_PTO = 0x0200,
    PLAT_SERIAL_CE_IOE = 0x0400,
    PLAT_SERIAL_CE_DNS = 0x0800,
    PLAT_SERIAL_CE_OOP = 0x1000,
    PLAT_SERIAL_CE_MODE = 0x8000,
};

// What the device can tell about the line when an error was seen. Status
// bits it cannot tell are false.
struct PlatSerialLineStatus {
    uint32_t errors; // PLAT_SERIAL_CE_* bits seen since the last check
    bool ctsHold;
    bool dsrHold;
    bool rlsdHold;
    bool xoffHold;
    bool xoffSent;
    bool eofSent;
    bool txChar;
    unsigned long rxQueue; // bytes waiting to be read
    unsigned long txQueue; // bytes waiting to go out
};

// Checks for line errors since the previous check and clears them. Returns
// 1 with *status filled when there were some, 0 when there were none or the
// device cannot count them, -1 on failure.
int PlatSerialLineErrors(PlatSerialDevice *device, PlatSerialLineStatus *status,
                         const char **failedCall);
