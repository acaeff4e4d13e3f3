// Serial devices through termios. The descriptor is non-blocking: reads and
// writes take or give what they can at once, and every wait is a poll()
// with the caller's time-out.
#include "platform/serial_device.h"

#include "platform/memalloc.h"
#include "platform/syserr.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <string>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

struct PlatSerialDevice {
    int fd;
    bool canCountErrors;       // the driver keeps line-error counters
    serial_icounter_struct ic; // the counters at the last check
    bool alarm;                // the last wait saw a hang-up or a line failure
    bool restoreFlags;         // the open set low latency: give back serialFlags on close
    int serialFlags;           // the driver's flags before the open
    bool restoreEventChar;     // the open set the event character: clear it on close
};

const char PLAT_SERIAL_READ_CALL[] = "read";

namespace
{

struct BaudEntry {
    uint32_t rate;
    speed_t code;
};

const BaudEntry baudTable[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

bool baudCode(uint32_t rate, speed_t *code)
{
    for (const BaudEntry &e : baudTable) {
        if (e.rate == rate) {
            *code = e.code;
            return true;
        }
    }
    return false;
}

int fail(int err, const char *call, const char **failedCall)
{
    PlatSetLastErrorFromErrno(err);
    if (failedCall)
        *failedCall = call;
    return -1;
}

// Ptys and other devices without modem lines or counters answer these.
bool notSupported(int err)
{
    return err == ENOTTY || err == EINVAL || err == ENOSYS;
}

int64_t nowMs(void)
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (int64_t)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

// USB adapters hold short replies for their latency timer (16 ms on FTDI)
// unless asked for low latency; with one acknowledgement per record that
// triples an upload. Only a speed-up: a driver that does not know the
// request (a pseudo-terminal) or refuses it leaves the port as it was.
void setLowLatency(PlatSerialDevice *dev)
{
    serial_struct ss;
    if (ioctl(dev->fd, TIOCGSERIAL, &ss) != 0 || (ss.flags & ASYNC_LOW_LATENCY))
        return;
    int before = ss.flags;
    ss.flags |= ASYNC_LOW_LATENCY;
    if (ioctl(dev->fd, TIOCSSERIAL, &ss) == 0) {
        dev->restoreFlags = true;
        dev->serialFlags = before;
    }
}

// The flag belongs to the port and outlives us: the next user of the port
// finds it as it was before our open.
void restoreLowLatency(PlatSerialDevice *dev)
{
    serial_struct ss;
    if (!dev->restoreFlags || ioctl(dev->fd, TIOCGSERIAL, &ss) != 0)
        return;
    ss.flags = dev->serialFlags;
    ioctl(dev->fd, TIOCSSERIAL, &ss);
}

std::string serialSysfsRoot = "/sys";

// An attribute of the device in sysfs, found by the device's numbers so
// that every name of it (a /dev/serial/by-id link) leads there; "" for a
// file that is no character device.
std::string sysfsAttribute(int fd, const char *name)
{
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode))
        return "";
    char path[64];
    snprintf(path, sizeof path, "/dev/char/%u:%u/device/", major(st.st_rdev), minor(st.st_rdev));
    return serialSysfsRoot + path + name;
}

// False when the attribute is missing, may not be written, or refuses the
// value (sysfs tells that at the write).
bool writeAttribute(const std::string &path, const char *value)
{
    if (path.empty())
        return false;
    int fd = open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0)
        return false;
    size_t n = strlen(value);
    bool ok = write(fd, value, n) == (ssize_t)n;
    close(fd);
    return ok;
}

// Every line of the peer ends with a line feed; as the event character it
// makes an FTDI adapter hand over each line at once instead of after its
// latency timer (1 ms at low latency, 16 ms otherwise). ftdi_sio offers it
// as the attribute event_char (bit 8 enables the character in the low 8
// bits), which only root may write unless a udev rule lets the group
// dialout (the manual's 60-mirdel-ftdi.rules). The attribute cannot be
// read; the driver's open resets the chip, which clears the event
// character, so the close gives it back cleared. Only a speed-up: a port
// without it, or that refuses it, stays as it was.
const char EVENT_CHAR_LINE_FEED[] = "266\n";
const char EVENT_CHAR_OFF[] = "0\n";

void setEventChar(PlatSerialDevice *dev)
{
    dev->restoreEventChar =
        writeAttribute(sysfsAttribute(dev->fd, "event_char"), EVENT_CHAR_LINE_FEED);
}

void restoreEventChar(PlatSerialDevice *dev)
{
    if (dev->restoreEventChar)
        writeAttribute(sysfsAttribute(dev->fd, "event_char"), EVENT_CHAR_OFF);
}

void closeFd(int fd)
{
    // The exclusive mode belongs to the tty, not to this descriptor: leave
    // it so that our own re-open (and anyone after us) is not refused.
    ioctl(fd, TIOCNXCL);
    close(fd);
}

} // namespace

void PlatSerialSetSysfsRoot(const char *root)
{
    serialSysfsRoot = (root != nullptr && root[0] != '\0') ? root : "/sys";
}

bool PlatSerialBaudSupported(uint32_t baudRate)
{
    speed_t code;
    return baudCode(baudRate, &code);
}

int PlatSerialOpen(const char *path, uint32_t baudRate, PlatSerialDevice **device,
                   const char **failedCall)
{
    *device = nullptr;
    *failedCall = nullptr;

    speed_t speed;
    if (!baudCode(baudRate, &speed))
        return fail(EINVAL, "cfsetspeed()", failedCall);

    int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return fail(errno, nullptr, failedCall);

    // flock() refuses a second Mirdel even when it runs as root, which
    // TIOCEXCL alone does not.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int err = errno == EWOULDBLOCK ? EBUSY : errno;
        close(fd);
        return fail(err, nullptr, failedCall);
    }

    const char *call = nullptr;
    termios tio;
    if (tcgetattr(fd, &tio) != 0) {
        call = "tcgetattr()";
        goto failed;
    }
    if (ioctl(fd, TIOCEXCL) != 0) {
        call = "ioctl(TIOCEXCL)";
        goto failed;
    }

    tio.c_iflag &= ~(tcflag_t)(BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                               IXANY | INPCK | IUCLC | IMAXBEL);
    // A break would otherwise arrive as a NUL byte inside a line; the
    // driver still counts it, and the read reports it as a line error.
    tio.c_iflag |= IGNBRK;
    tio.c_oflag &= ~(tcflag_t)OPOST;
    tio.c_lflag &= ~(tcflag_t)(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~(tcflag_t)(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CREAD | CLOCAL;
    // VMIN 1 so that an empty non-blocking read reports EAGAIN and a read
    // of 0 bytes can only mean a hang-up.
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (cfsetispeed(&tio, speed) != 0 || cfsetospeed(&tio, speed) != 0) {
        call = "cfsetspeed()";
        goto failed;
    }
    if (tcsetattr(fd, TCSANOW, &tio) != 0) {
        call = "tcsetattr()";
        goto failed;
    }
    if (tcflush(fd, TCIOFLUSH) != 0) {
        call = "tcflush()";
        goto failed;
    }

    {
        int lines = TIOCM_DTR | TIOCM_RTS;
        if (ioctl(fd, TIOCMBIS, &lines) != 0 && !notSupported(errno)) {
            call = "ioctl(TIOCMBIS)";
            goto failed;
        }
    }

    {
        PlatSerialDevice *dev = (PlatSerialDevice *)_mem_calloc(sizeof(PlatSerialDevice));
        if (!dev) {
            call = "_mem_calloc()";
            errno = ENOMEM;
            goto failed;
        }
        dev->fd = fd;
        // Counters are diagnostics only: a driver that cannot give them
        // leaves nothing to report.
        dev->canCountErrors = ioctl(fd, TIOCGICOUNT, &dev->ic) == 0;
        setLowLatency(dev);
        setEventChar(dev);
        *device = dev;
        return 1;
    }

failed:
    int err = errno;
    closeFd(fd);
    return fail(err, call, failedCall);
}

void PlatSerialClose(PlatSerialDevice *device)
{
    if (!device)
        return;
    restoreEventChar(device);
    restoreLowLatency(device);
    closeFd(device->fd);
    _mem_free(device);
}

intptr_t PlatSerialSystemHandle(PlatSerialDevice *device)
{
    return device->fd;
}

int PlatSerialRead(PlatSerialDevice *device, void *buffer, size_t length, size_t *count)
{
    *count = 0;
    for (;;) {
        ssize_t n = read(device->fd, buffer, length);
        if (n > 0) {
            device->alarm = false;
            *count = (size_t)n;
            return 1;
        }
        if (n == 0)
            return fail(EIO, nullptr, nullptr); // hung up: end of file on a tty
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            // Nothing queued after a wait that reported a hang-up would make
            // the caller wait and read again for ever.
            if (device->alarm)
                return fail(EIO, nullptr, nullptr);
            return 1;
        }
        return fail(errno, nullptr, nullptr);
    }
}

int PlatSerialWrite(PlatSerialDevice *device, const void *data, size_t length, size_t *count,
                    const char **failedCall)
{
    *count = 0;
    for (;;) {
        ssize_t n = write(device->fd, data, length);
        if (n > 0)
            device->alarm = false;
        if (n >= 0) {
            *count = (size_t)n;
            return 1;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (device->alarm)
                return fail(EIO, "write()", failedCall);
            return 1;
        }
        return fail(errno, "write()", failedCall);
    }
}

int PlatSerialWait(PlatSerialDevice *device, int direction, int32_t timeout,
                   const char **failedCall)
{
    pollfd p;
    p.fd = device->fd;
    p.events = direction == PLAT_SERIAL_WAIT_WRITE ? POLLOUT : POLLIN;
    int64_t deadline = timeout >= 0 ? nowMs() + timeout : 0;
    int wait = timeout < 0 ? -1 : timeout;
    for (;;) {
        p.revents = 0;
        int r = poll(&p, 1, wait);
        if (r > 0)
            break;
        if (r == 0)
            return 0;
        if (errno != EINTR)
            return fail(errno, "poll()", failedCall);
        if (timeout >= 0) {
            int64_t left = deadline - nowMs();
            wait = left > 0 ? (int)left : 0;
        }
    }
    if (p.revents & POLLNVAL)
        return fail(EBADF, "poll()", failedCall);
    device->alarm = (p.revents & (POLLHUP | POLLERR)) != 0;
    return 1;
}

int PlatSerialLineErrors(PlatSerialDevice *device, PlatSerialLineStatus *status,
                         const char **failedCall)
{
    if (!device->canCountErrors)
        return 0;
    serial_icounter_struct ic;
    if (ioctl(device->fd, TIOCGICOUNT, &ic) != 0)
        return fail(errno, "ioctl(TIOCGICOUNT)", failedCall);

    uint32_t errors = 0;
    if (ic.buf_overrun != device->ic.buf_overrun)
        errors |= PLAT_SERIAL_CE_RXOVER;
    if (ic.overrun != device->ic.overrun)
        errors |= PLAT_SERIAL_CE_OVERRUN;
    if (ic.parity != device->ic.parity)
        errors |= PLAT_SERIAL_CE_RXPARITY;
    if (ic.frame != device->ic.frame)
        errors |= PLAT_SERIAL_CE_FRAME;
    if (ic.brk != device->ic.brk)
        errors |= PLAT_SERIAL_CE_BREAK;
    device->ic = ic;
    if (!errors)
        return 0;

    *status = PlatSerialLineStatus{};
    status->errors = errors;
    // Output waits only for a line whose flow control is on: CTS under
    // CRTSCTS (termios has none on DSR or the carrier). A port without
    // modem lines (a three-wire cable) shows them low, and must not read as
    // held when nothing waits for them.
    termios tio;
    int lines = 0;
    if (tcgetattr(device->fd, &tio) == 0 && (tio.c_cflag & CRTSCTS) &&
        ioctl(device->fd, TIOCMGET, &lines) == 0)
        status->ctsHold = !(lines & TIOCM_CTS);
    int queued = 0;
    if (ioctl(device->fd, FIONREAD, &queued) == 0 && queued > 0)
        status->rxQueue = (unsigned long)queued;
    queued = 0;
    if (ioctl(device->fd, TIOCOUTQ, &queued) == 0 && queued > 0)
        status->txQueue = (unsigned long)queued;
    return 1;
}
