// Serial devices through the Win32 communications functions. The device
// is opened for overlapped I/O; one overlapped block and its event serve
// every read, write and event wait, so at most one operation is pending.
//
// The read time-outs make a read return at once with what is queued, and
// all waiting is done on the receive event with the caller's time-out. A
// read or write that the system leaves pending is finished by the next
// wait; the read or write call after that wait hands out its count. The
// event is reset before every operation: a completion left signalled must
// not end the next wait early.
#include <windows.h>

#include "platform/serial_device.h"

#include "platform/memalloc.h"

namespace
{

const DWORD SERIAL_QUEUE_SIZE = 4096;
// Every line of the peer ends with a line feed. As the event character, it
// makes a USB adapter that holds short replies for its latency timer (16 ms
// on FTDI's driver) hand them over at once. FTDI's driver passes the DCB's
// EvtChar on to its chip; the event mask asks for EV_RXFLAG as well, in case
// the driver enables the character only then (a real adapter tells). Other
// drivers only report the event, which the wait takes as a received byte.
const char SERIAL_EVENT_CHAR = '\n';
const DWORD SERIAL_EVENTS = EV_RXCHAR | EV_RXFLAG;
const DWORD SERIAL_WRITE_CONSTANT_MS = 1000;
// Cancelled operations normally end at once; a device that does not end
// them keeps its record rather than have the system write into freed memory.
const DWORD SERIAL_CANCEL_WAIT_MS = 5000;
// serial_wait_for_overlapped: an event wait ended without its result.
const int SERIAL_RESULT_LOST = 2;

enum SerialPending {
    SERIAL_IDLE,
    SERIAL_READ,  // ReadFile pending on the caller's buffer
    SERIAL_WRITE, // WriteFile pending on the caller's data
    SERIAL_EVENT, // WaitCommEvent pending on eventMask
};

} // namespace

struct PlatSerialDevice {
    HANDLE handle;
    OVERLAPPED ov;
    SerialPending pending;
    bool finished;       // the pending read or write has ended ...
    DWORD finishedCount; // ... with this many bytes
    DWORD eventMask;     // written by the system when WaitCommEvent ends
    bool aborted;        // a read was ended by a line error not yet cleared
};

const char PLAT_SERIAL_READ_CALL[] = "ReadFile";

namespace
{

// Names the failing call; the system's last error stays as the call left it.
int serial_fail(const char *call, const char **failedCall)
{
    if (failedCall)
        *failedCall = call;
    return -1;
}

// Closes what an open had acquired, keeping the system's last error.
void serial_release(HANDLE handle, HANDLE event)
{
    DWORD err = GetLastError();
    if (event)
        CloseHandle(event);
    if (handle != INVALID_HANDLE_VALUE)
        CloseHandle(handle);
    SetLastError(err);
}

// Waits for the pending operation for timeout milliseconds (-1: no limit).
// 1 with *count when it has ended, 0 when the time ran out (it stays
// pending), -1 on failure, and SERIAL_RESULT_LOST when an event wait has
// ended without its result.
int serial_wait_for_overlapped(PlatSerialDevice *dev, DWORD *count, int32_t timeout,
                               const char **failedCall)
{
    ULONGLONG deadline = GetTickCount64() + (timeout > 0 ? (ULONGLONG)timeout : 0);
    DWORD wait = timeout < 0 ? INFINITE : (DWORD)timeout;
    for (;;) {
        DWORD r = WaitForSingleObject(dev->ov.hEvent, wait);
        if (r == WAIT_TIMEOUT)
            return 0;
        if (r != WAIT_OBJECT_0)
            return serial_fail("WaitForSingleObject()", failedCall);
        if (GetOverlappedResult(dev->handle, &dev->ov, count, FALSE)) {
            dev->pending = SERIAL_IDLE;
            return 1;
        }
        if (GetLastError() != ERROR_IO_INCOMPLETE) {
            // A read that a line error ended here fails like any other:
            // the read path clears line errors only where it issues them.
            dev->pending = SERIAL_IDLE;
            return serial_fail("GetOverlappedResult()", failedCall);
        }
        // Signalled while the result still reads STATUS_PENDING. Nothing
        // but the operation's end sets the event (reset before the
        // operation was issued), so the operation is over and its result
        // lost. Wine 8 loses an event wait's result so now and then: a
        // thread of its own polls the line every millisecond and, at the
        // end, writes the result and sets the event, while the thread that
        // issued WaitCommEvent writes STATUS_PENDING into the same block
        // after starting it, over the result if that thread was quicker (a
        // busy machine or Wine server: a call to the server comes between).
        // The block keeps STATUS_PENDING for good, and CancelIo finds
        // nothing to cancel. The wait is taken as ended by a received
        // byte: the read tells.
        if (dev->pending == SERIAL_EVENT) {
            dev->pending = SERIAL_IDLE;
            return SERIAL_RESULT_LOST;
        }
        // A read or write would lose its count with it (not seen: Wine ends
        // them otherwise). It is left pending, to be abandoned at the
        // time-out by the device's re-opening.
        ResetEvent(dev->ov.hEvent);
        if (timeout >= 0) {
            ULONGLONG now = GetTickCount64();
            if (now >= deadline)
                return 0;
            wait = (DWORD)(deadline - now);
        }
    }
}

} // namespace

void PlatSerialSetSysfsRoot(const char *) {}

bool PlatSerialBaudSupported(uint32_t baudRate)
{
    // Any rate goes into the line settings; the driver refuses what it
    // cannot do when they are written.
    return baudRate > 0;
}

int PlatSerialOpen(const char *path, uint32_t baudRate, PlatSerialDevice **device,
                   const char **failedCall)
{
    *device = nullptr;
    *failedCall = nullptr;

    // Exclusive: a port that another program holds is refused with
    // ERROR_ACCESS_DENIED.
    HANDLE handle = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return -1;

    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!event) {
        serial_release(handle, nullptr);
        return serial_fail("CreateEventA()", failedCall);
    }

    const char *call = nullptr;
    DCB dcb;
    COMMTIMEOUTS timeouts;
    ZeroMemory(&dcb, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(handle, &dcb)) {
        call = "GetCommState()";
        goto failed;
    }
    // Everything not named here stays as the driver reported it.
    dcb.BaudRate = baudRate;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fParity = TRUE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fTXContinueOnXoff = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    // A line error ends every pending read and write until it is cleared.
    dcb.fAbortOnError = TRUE;
    dcb.EvtChar = SERIAL_EVENT_CHAR;
    if (!SetCommState(handle, &dcb)) {
        call = "SetCommState()";
        goto failed;
    }

    // Reads return at once with whatever has arrived; a write may take
    // 1000 ms plus 19200/baud ms per byte (0 above 19200 baud).
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = 19200 / baudRate;
    timeouts.WriteTotalTimeoutConstant = SERIAL_WRITE_CONSTANT_MS;
    if (!SetCommTimeouts(handle, &timeouts)) {
        call = "SetCommTimeouts()";
        goto failed;
    }
    if (!SetCommMask(handle, SERIAL_EVENTS)) {
        call = "SetCommMask()";
        goto failed;
    }
    if (!SetupComm(handle, SERIAL_QUEUE_SIZE, SERIAL_QUEUE_SIZE)) {
        call = "SetupComm(4096,4096)";
        goto failed;
    }
    // What an earlier handle left queued goes: the reply to an exchange
    // abandoned at its time-out must not answer the next one. Wine keeps
    // a pseudo-terminal's queue from one handle to the next.
    if (!PurgeComm(handle, PURGE_RXCLEAR | PURGE_TXCLEAR)) {
        call = "PurgeComm()";
        goto failed;
    }

    {
        PlatSerialDevice *dev = (PlatSerialDevice *)_mem_calloc(sizeof(PlatSerialDevice));
        if (!dev) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            call = "_mem_calloc()";
            goto failed;
        }
        dev->handle = handle;
        dev->ov.hEvent = event;
        dev->pending = SERIAL_IDLE;
        *device = dev;
        return 1;
    }

failed:
    serial_release(handle, event);
    return serial_fail(call, failedCall);
}

void PlatSerialClose(PlatSerialDevice *device)
{
    if (!device)
        return;
    bool release = true;
    if (device->pending != SERIAL_IDLE) {
        // The system writes into the overlapped block (and the caller's
        // buffer) until the operation has ended.
        CancelIo(device->handle);
        DWORD ignored;
        if (WaitForSingleObject(device->ov.hEvent, SERIAL_CANCEL_WAIT_MS) == WAIT_OBJECT_0)
            GetOverlappedResult(device->handle, &device->ov, &ignored, FALSE);
        else
            release = false;
    }
    serial_release(device->handle, device->ov.hEvent);
    if (release)
        _mem_free(device);
}

intptr_t PlatSerialSystemHandle(PlatSerialDevice *device)
{
    return (intptr_t)device->handle;
}

// An operation of this kind still pending from an earlier call: hand over
// its count once it has finished (0 until then). False when none is pending.
static bool serial_take_pending(PlatSerialDevice *device, SerialPending kind, size_t *count)
{
    if (device->pending != kind)
        return false;
    if (device->finished) {
        device->finished = false;
        device->pending = SERIAL_IDLE;
        *count = device->finishedCount;
    }
    return true;
}

int PlatSerialRead(PlatSerialDevice *device, void *buffer, size_t length, size_t *count)
{
    *count = 0;
    if (serial_take_pending(device, SERIAL_READ, count))
        return 1;
    if (length > MAXDWORD)
        length = MAXDWORD;
    DWORD n = 0;
    ResetEvent(device->ov.hEvent);
    if (ReadFile(device->handle, buffer, (DWORD)length, &n, &device->ov)) {
        *count = n;
        return 1;
    }
    DWORD err = GetLastError();
    if (err == ERROR_IO_PENDING) {
        device->pending = SERIAL_READ;
        device->finished = false;
        return 1;
    }
    if (err == ERROR_OPERATION_ABORTED) {
        device->aborted = true;
        return 0;
    }
    return -1;
}

int PlatSerialWrite(PlatSerialDevice *device, const void *data, size_t length, size_t *count,
                    const char **failedCall)
{
    *count = 0;
    if (serial_take_pending(device, SERIAL_WRITE, count))
        return 1;
    if (length > MAXDWORD)
        length = MAXDWORD;
    DWORD n = 0;
    ResetEvent(device->ov.hEvent);
    if (WriteFile(device->handle, data, (DWORD)length, &n, &device->ov)) {
        *count = n;
        return 1;
    }
    if (GetLastError() == ERROR_IO_PENDING) {
        device->pending = SERIAL_WRITE;
        device->finished = false;
        return 1;
    }
    return serial_fail("WriteFile()", failedCall);
}

int PlatSerialWait(PlatSerialDevice *device, int direction, int32_t timeout,
                   const char **failedCall)
{
    if (device->pending == SERIAL_READ || device->pending == SERIAL_WRITE) {
        if (device->finished)
            return 1;
        SerialPending op = device->pending;
        DWORD n = 0;
        int r = serial_wait_for_overlapped(device, &n, timeout, failedCall);
        if (r == 1) {
            // Still marked as pending so that the next call hands out n.
            device->pending = op;
            device->finished = true;
            device->finishedCount = n;
        }
        return r;
    }
    if (direction == PLAT_SERIAL_WAIT_WRITE)
        return 1; // nothing pending: the next write can be issued

    // Wait for a received character; other events start a fresh wait.
    ULONGLONG deadline = 0;
    int32_t wait = 0;
    auto fresh = [&] {
        wait = timeout;
        deadline = GetTickCount64() + (timeout > 0 ? (ULONGLONG)timeout : 0);
    };
    fresh();
    for (;;) {
        if (device->pending != SERIAL_EVENT) {
            device->eventMask = 0;
            ResetEvent(device->ov.hEvent);
            if (WaitCommEvent(device->handle, &device->eventMask, &device->ov)) {
                if (device->eventMask & SERIAL_EVENTS)
                    return 1;
                fresh();
                continue;
            }
            if (GetLastError() != ERROR_IO_PENDING)
                return serial_fail("WaitCommEvent()", failedCall);
            device->pending = SERIAL_EVENT;
        }
        DWORD n = 0;
        int r = serial_wait_for_overlapped(device, &n, wait, failedCall);
        if (r == SERIAL_RESULT_LOST || (r == 1 && (device->eventMask & SERIAL_EVENTS)))
            return 1;
        if (r == 1) {
            fresh();
            continue;
        }
        if (r == 0 || GetLastError() != ERROR_OPERATION_ABORTED)
            return r;
        // A driver that cannot follow the line's events ends the wait as
        // aborted: Wine 8's, on a device without modem status lines (a
        // pseudo-terminal), at its first poll. Ask again within what is
        // left of this wait's time.
        if (wait >= 0) {
            ULONGLONG now = GetTickCount64();
            if (now >= deadline)
                return 0;
            wait = (int32_t)(deadline - now);
        }
        Sleep(1);
    }
}

int PlatSerialLineErrors(PlatSerialDevice *device, PlatSerialLineStatus *status,
                         const char **failedCall)
{
    // Only a read that the system ended for a line error is followed by a
    // clearing and a report.
    if (!device->aborted)
        return 0;
    device->aborted = false;
    DWORD errors = 0;
    COMSTAT cs;
    ZeroMemory(&cs, sizeof cs);
    if (!ClearCommError(device->handle, &errors, &cs))
        return serial_fail("ClearCommError()", failedCall);
    *status = PlatSerialLineStatus{};
    status->errors = errors;
    status->ctsHold = cs.fCtsHold != 0;
    status->dsrHold = cs.fDsrHold != 0;
    status->rlsdHold = cs.fRlsdHold != 0;
    status->xoffHold = cs.fXoffHold != 0;
    status->xoffSent = cs.fXoffSent != 0;
    status->eofSent = cs.fEof != 0;
    status->txChar = cs.fTxim != 0;
    status->rxQueue = cs.cbInQue;
    status->txQueue = cs.cbOutQue;
    return 1;
}
