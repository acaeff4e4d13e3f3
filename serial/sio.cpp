// The serial port: one device, reads and writes with a time-out, and a
// time-out abandoning the operation by re-opening the device.
#include "serial/sio.h"

#include "platform/memalloc.h"
#include "platform/port_access.h"
#include "platform/syserr.h"
#include "support/winerr.h"
#include "serial/sio_internal.h"
#include "support/log.h"

#include <chrono>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace
{

SioPort sioPort;

int sioErrorCode;
char sioErrorText[SIO_ERROR_TEXT_SIZE];
// The last failure was the device's own and says it went away.
bool sioDeviceLost;

// Set at program start and never reset by SioOpen: a read that filled its
// request leaves it set, since more may be waiting in the driver.
bool sioReadFirst = true;

const struct {
    uint32_t bit;
    const char *name;
} lineErrorNames[] = {
    {PLAT_SERIAL_CE_RXOVER, "RXOVER"},     {PLAT_SERIAL_CE_OVERRUN, "OVERRUN"},
    {PLAT_SERIAL_CE_RXPARITY, "RXPARITY"}, {PLAT_SERIAL_CE_FRAME, "FRAME"},
    {PLAT_SERIAL_CE_BREAK, "BREAK"},       {PLAT_SERIAL_CE_TXFULL, "TXFULL"},
    {PLAT_SERIAL_CE_PTO, "PTO"},           {PLAT_SERIAL_CE_IOE, "IOE"},
    {PLAT_SERIAL_CE_DNS, "DNS"},           {PLAT_SERIAL_CE_OOP, "OOP"},
    {PLAT_SERIAL_CE_MODE, "MODE"},
};

int32_t resolveTimeout(const SioPort *port, int32_t timeout)
{
    return timeout == -2 ? port->defaultTimeout : timeout;
}

// A port without a device: closed, or left so by a failed re-open, whose
// text stays the one the caller sees.
int sio_no_device(const SioPort *port, const char *operation)
{
    if (!port || !port->deviceName)
        sio_set_error(-1, "%s(): the port is not open !", operation);
    else
        sioErrorCode = -1;
    return -1;
}

// A failure of the device itself, as call left it: told from the system's
// error before the text is made (making it may change that error).
void sio_device_failed(const char *call)
{
    bool lost = PlatPortLastFault(PLAT_PORT_TRANSFER) == PLAT_PORT_FAULT_MISSING;
    // Making the text may change the thread's error, which the caller reads
    // next for its advice (a port that does not exist, one in use).
    unsigned long code = PlatGetLastError();
    int err = PlatGetLastErrno();
    sio_set_error(-1, "%s: %s", call, WinLastErrStr());
    if (err)
        PlatSetLastErrorFromErrno(err);
    else
        PlatSetLastError(code);
    sioDeviceLost = lost;
}

int sio_open_device(SioPort *port)
{
    if (!PlatSerialBaudSupported(port->baudRate)) {
        sio_set_error(-1, "%s: %lu baud is not supported", port->deviceName,
                      (unsigned long)port->baudRate);
        return -1;
    }
    const char *call = nullptr;
    if (PlatSerialOpen(port->deviceName, port->baudRate, &port->device, &call) != 1) {
        port->device = nullptr;
        sio_device_failed(call ? call : port->deviceName);
        return -1;
    }
    port->rxBuffer = (char *)_mem_calloc(SIO_RX_BUFFER_SIZE);
    if (!port->rxBuffer) {
        PlatSerialClose(port->device);
        port->device = nullptr;
        sio_set_error(-1, "_mem_calloc(%d) failed !", SIO_RX_BUFFER_SIZE);
        return -1;
    }
    port->rxPos = port->rxBuffer;
    port->rxBufferSize = SIO_RX_BUFFER_SIZE;
    port->rxCount = 0;
    return 1;
}

void sio_close_device(SioPort *port)
{
    PlatSerialClose(port->device);
    port->device = nullptr;
    port->rxBuffer = (char *)_mem_free(port->rxBuffer);
    port->rxPos = nullptr;
    port->rxCount = 0;
}

// Waits for the device to be ready for the read or write in progress. When
// the time runs out the operation is abandoned by re-opening the device;
// the result is then 0 whatever the re-open gave.
int sio_wait_for_ready(SioPort *port, int direction, int32_t timeout)
{
    const char *call = "poll()";
    int r = PlatSerialWait(port->device, direction, timeout, &call);
    if (r == 1)
        return 1;
    if (r < 0) {
        sio_device_failed(call);
        return -1;
    }
    sio_close_device(port);
    sio_open_device(port);
    return 0;
}

// Line errors do not stop the read: they are reported and the bytes taken.
void sio_check_line_errors(SioPort *port)
{
    PlatSerialLineStatus status;
    const char *call = "ioctl()";
    int r = PlatSerialLineErrors(port->device, &status, &call);
    if (r < 0)
        sio_device_failed(call);
    else if (r > 0)
        sio_line_error_report(&status);
}

} // namespace

void sio_set_error(int code, const char *fmt, ...)
{
    // Formatted apart first: an argument may be the old text itself.
    char text[sizeof sioErrorText];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    memcpy(sioErrorText, text, sizeof text);
    sioErrorCode = code;
    sioDeviceLost = false;
}

void sio_line_error_report(const PlatSerialLineStatus *status)
{
    for (const auto &e : lineErrorNames) {
        if (status->errors & e.bit)
            LogConsole("\n - CE_%s", e.name);
    }
    LogConsole("\n - comstat:");
    LogConsole("\n   CTS Hold:  %d", status->ctsHold ? 1 : 0);
    LogConsole("\n   DSR Hold:  %d", status->dsrHold ? 1 : 0);
    LogConsole("\n   RLSD Hold: %d", status->rlsdHold ? 1 : 0);
    LogConsole("\n   XOFF Hold: %d", status->xoffHold ? 1 : 0);
    LogConsole("\n   XOFF Sent: %d", status->xoffSent ? 1 : 0);
    LogConsole("\n   EOF Sent:  %d", status->eofSent ? 1 : 0);
    LogConsole("\n   TX Char:   %d", status->txChar ? 1 : 0);
    LogConsole("\n   RX Queue:  %4lu", status->rxQueue);
    LogConsole("\n   TX Queue:  %4lu", status->txQueue);
}

SioPort *SioOpen(const char *deviceName, uint32_t baudRate, int32_t defaultTimeout)
{
    // A port left open would keep its device locked for good.
    if (sioPort.deviceName)
        SioClose(&sioPort);
    sioPort = SioPort{};
    sioDeviceLost = false; // a device found again is not lost
    sioPort.deviceName = _mem_strdup(deviceName);
    if (!sioPort.deviceName) {
        sio_set_error(-1, "_mem_strdup() failed !");
        return nullptr;
    }
    sioPort.baudRate = baudRate;
    sioPort.defaultTimeout = defaultTimeout;
    if (sio_open_device(&sioPort) != 1) {
        sioPort.deviceName = (char *)_mem_free(sioPort.deviceName);
        return nullptr;
    }
    return &sioPort;
}

void SioClose(SioPort *port)
{
    if (!port)
        return;
    sio_close_device(port);
    port->deviceName = (char *)_mem_free(port->deviceName);
    port->sendBuffer = (char *)_mem_free(port->sendBuffer);
    port->sendBufferSize = 0;
}

int SioRead(SioPort *port, void *buffer, uint32_t length, int32_t timeout)
{
    if (length == 0)
        return 0;
    if (!port || !port->device)
        return sio_no_device(port, "SioRead");
    if (length > INT_MAX)
        length = INT_MAX;
    timeout = resolveTimeout(port, timeout);

    bool readNow = sioReadFirst;
    for (;;) {
        if (readNow) {
            size_t got = 0;
            int rr = PlatSerialRead(port->device, buffer, length, &got);
            if (rr == 0) {
                // A line error ended the read: clear and report it, and
                // issue the same read again.
                sio_check_line_errors(port);
                continue;
            }
            if (rr != 1) {
                char call[32];
                snprintf(call, sizeof call, "%s(%lu)", PLAT_SERIAL_READ_CALL,
                         (unsigned long)length);
                sio_device_failed(call);
                return -1;
            }
            if (got > 0)
                sio_check_line_errors(port);
            sioReadFirst = got == length;
            if (got > 0)
                return (int)got;
        }
        int r = sio_wait_for_ready(port, PLAT_SERIAL_WAIT_READ, timeout);
        if (r != 1)
            return r;
        readNow = true;
    }
}

int SioWrite(SioPort *port, const void *data, uint32_t length, int32_t timeout)
{
    if (length == 0)
        return 0;
    if (!port || !port->device)
        return sio_no_device(port, "SioWrite");
    if (length > INT_MAX)
        length = INT_MAX;
    timeout = resolveTimeout(port, timeout);

    // The time-out covers the whole write, however many pieces it takes.
    using Clock = std::chrono::steady_clock;
    Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(timeout > 0 ? timeout : 0);
    const char *bytes = (const char *)data;
    uint32_t done = 0;
    for (;;) {
        size_t n = 0;
        const char *call = "write()";
        if (PlatSerialWrite(port->device, bytes + done, length - done, &n, &call) != 1) {
            sio_device_failed(call);
            return -1;
        }
        done += (uint32_t)n;
        if (done >= length)
            return (int)length;

        int32_t wait = -1;
        if (timeout >= 0) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                    .count();
            wait = left > 0 ? (int32_t)left : 0;
        }
        int r = sio_wait_for_ready(port, PLAT_SERIAL_WAIT_WRITE, wait);
        if (r != 1)
            return r;
    }
}

int SioGetError(char *dest, size_t size)
{
    if (dest && size > 0)
        snprintf(dest, size, "%s", sioErrorText);
    return sioErrorCode;
}

const char *SioErrStr(void)
{
    return sioErrorText;
}

bool SioDeviceLost(void)
{
    return sioDeviceLost;
}

bool SioReadFirst(void)
{
    return sioReadFirst;
}
