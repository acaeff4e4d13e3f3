// mirdel-serial-probe: checks of the serial port that need a real serial
// driver, run inside the virtual machine of scripts/test-qemu (as root).
// Each check prints one line, "check NAME: ok DETAILS" or "check NAME: FAIL
// WHY", and exits 0 or 1.
//
//   mirdel-serial-probe firmware FILE BYTES       write a one-image firmware
//   mirdel-serial-probe settings NAME PORT        line settings while open
//   mirdel-serial-probe low-latency NAME PORT     the flag set and restored
//   mirdel-serial-probe exclusive NAME PORT CLI FIRMWARE
//                                                 a second opener is refused
//   mirdel-serial-probe breaks PORT               the driver's break count
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "bench/upload_firmware.h"
#include "core/run.h"
#include "serial/sio.h"

namespace
{

const uid_t kNobody = 65534;
const char *checkName = "probe";

int result(bool ok, const std::string &text)
{
    std::printf("check %s: %s %s\n", checkName, ok ? "ok" : "FAIL", text.c_str());
    return ok ? 0 : 1;
}

// A descriptor of our own on the port: root passes the port's exclusive
// mode, and the settings and flags belong to the port, not to a descriptor.
int openControl(const char *port)
{
    return open(port, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
}

int settings(const char *port)
{
    SioPort *sio = SioOpen(port, 115200, 3000);
    if (!sio)
        return result(false, std::string("SioOpen: ") + SioErrStr());
    int fd = openControl(port);
    termios t;
    int lines = 0;
    bool got = fd >= 0 && tcgetattr(fd, &t) == 0 && ioctl(fd, TIOCMGET, &lines) == 0;
    if (fd >= 0)
        close(fd);
    SioClose(sio);
    if (!got)
        return result(false, std::string("reading the settings: ") + std::strerror(errno));

    std::string wrong;
    auto expect = [&](bool ok, const char *what) {
        if (!ok)
            wrong += std::string(" ") + what;
    };
    expect((t.c_cflag & CSIZE) == CS8, "not-8-bits");
    expect(!(t.c_cflag & PARENB), "PARENB");
    expect(!(t.c_cflag & CSTOPB), "CSTOPB");
    expect(t.c_cflag & CREAD, "no-CREAD");
    expect(t.c_cflag & CLOCAL, "no-CLOCAL");
    expect(!(t.c_cflag & CRTSCTS), "CRTSCTS");
    expect(!(t.c_lflag & (ICANON | ECHO | ECHONL | ISIG | IEXTEN)), "not-raw(lflag)");
    expect(!(t.c_oflag & OPOST), "OPOST");
    expect(!(t.c_iflag & (IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP | BRKINT | PARMRK)),
           "not-raw(iflag)");
    expect(cfgetispeed(&t) == B115200 && cfgetospeed(&t) == B115200, "not-115200");
    expect(lines & TIOCM_DTR, "DTR-off");
    expect(lines & TIOCM_RTS, "RTS-off");
    if (!wrong.empty())
        return result(false, "while open:" + wrong);
    return result(true, "while open: 8N1 raw CLOCAL -CRTSCTS 115200 baud, DTR and RTS on");
}

// The port's serial flags, read on a descriptor of our own; -1 on failure.
long serialFlags(const char *port)
{
    int fd = openControl(port);
    serial_struct ss;
    long flags = fd >= 0 && ioctl(fd, TIOCGSERIAL, &ss) == 0 ? ss.flags : -1;
    if (fd >= 0)
        close(fd);
    return flags;
}

bool setLowLatency(const char *port, bool on)
{
    int fd = openControl(port);
    serial_struct ss;
    bool ok = fd >= 0 && ioctl(fd, TIOCGSERIAL, &ss) == 0;
    if (ok) {
        ss.flags = on ? ss.flags | ASYNC_LOW_LATENCY : ss.flags & ~ASYNC_LOW_LATENCY;
        ok = ioctl(fd, TIOCSSERIAL, &ss) == 0;
    }
    if (fd >= 0)
        close(fd);
    return ok;
}

// The latency timer a USB adapter's driver shows (ftdi_sio), in ms; -1
// when the driver has none.
long latencyTimer(const char *port)
{
    const char *name = std::strrchr(port, '/');
    std::string path =
        std::string("/sys/class/tty/") + (name ? name + 1 : port) + "/device/latency_timer";
    FILE *f = std::fopen(path.c_str(), "r");
    long ms = -1;
    if (f) {
        if (std::fscanf(f, "%ld", &ms) != 1)
            ms = -1;
        std::fclose(f);
    }
    return ms;
}

// From each starting state of the flag: set while the port is open, the
// starting state again after close; where the driver has a latency timer,
// 1 ms while open.
int lowLatency(const char *port)
{
    std::string seen, timer;
    for (bool before : {false, true}) {
        if (!setLowLatency(port, before))
            return result(false, std::string("TIOCSSERIAL: ") + std::strerror(errno));
        long start = serialFlags(port), startMs = latencyTimer(port);
        SioPort *sio = SioOpen(port, 115200, 3000);
        if (!sio)
            return result(false, std::string("SioOpen: ") + SioErrStr());
        long open = serialFlags(port), openMs = latencyTimer(port);
        SioClose(sio);
        long after = serialFlags(port), afterMs = latencyTimer(port);
        char text[96];
        std::snprintf(text, sizeof text, "%s0x%lx -> 0x%lx -> 0x%lx", seen.empty() ? "" : ", ",
                      start, open, after);
        seen += text;
        if (startMs >= 0 && !before)
            timer = ", latency timer " + std::to_string(startMs) + " -> " + std::to_string(openMs) +
                    " -> " + std::to_string(afterMs) + " ms";
        if (start < 0 || open < 0 || after < 0)
            return result(false, "TIOCGSERIAL failed: " + seen);
        if (!(open & ASYNC_LOW_LATENCY) || after != start || (startMs >= 0 && openMs != 1) ||
            afterMs != startMs)
            return result(false, "flags before, while open, after close: " + seen + timer);
    }
    setLowLatency(port, false);
    return result(true, "set while open, restored after close (flags " + seen + timer + ")");
}

// Runs child in a child process as uid, its stderr into err; returns its
// exit status.
int runAs(uid_t uid, const std::function<int()> &child, std::string *err)
{
    int pipefd[2];
    if (pipe(pipefd) != 0)
        return -1;
    fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        close(pipefd[0]);
        dup2(pipefd[1], 2);
        if (uid != 0 && (setgid(uid) != 0 || setuid(uid) != 0))
            _exit(126);
        _exit(child());
    }
    close(pipefd[1]);
    char buf[512];
    ssize_t n;
    while ((n = read(pipefd[0], buf, sizeof buf)) > 0)
        err->append(buf, (size_t)n);
    close(pipefd[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int openAndClose(const char *port)
{
    SioPort *sio = SioOpen(port, 115200, 3000);
    if (!sio) {
        std::fprintf(stderr, "%s\n", SioErrStr());
        return 1;
    }
    SioClose(sio);
    return 0;
}

// A second mirdel-cli, as root and as an ordinary user, is refused while we
// hold the port, with the in-use advice; an ordinary user opens it after.
int exclusive(const char *port, const char *cli, const char *firmware)
{
    SioPort *sio = SioOpen(port, 115200, 3000);
    if (!sio)
        return result(false, std::string("SioOpen: ") + SioErrStr());
    const char *argv[] = {cli, "upload", "--port", port, firmware, nullptr};
    std::string failures;
    for (uid_t uid : {(uid_t)0, kNobody}) {
        std::string err;
        int status = runAs(
            uid,
            [&] {
                execv(cli, const_cast<char *const *>(argv));
                return 127;
            },
            &err);
        if (status != 5 || err.find(RUN_PORT_IN_USE_ADVICE) == std::string::npos)
            failures += " second opener uid " + std::to_string(uid) + " exit " +
                        std::to_string(status) + ": " + err;
    }
    SioClose(sio);
    std::string err;
    if (runAs(
            kNobody, [&] { return openAndClose(port); }, &err) != 0)
        failures += " no open after close: " + err;
    if (!failures.empty())
        return result(false, failures);
    return result(true, "second opener (root, uid 65534) refused with \"" RUN_PORT_IN_USE_ADVICE
                        "\"; opens again after close");
}

int breaks(const char *port)
{
    int fd = openControl(port);
    serial_icounter_struct ic;
    if (fd < 0 || ioctl(fd, TIOCGICOUNT, &ic) != 0) {
        std::fprintf(stderr, "%s: TIOCGICOUNT: %s\n", port, std::strerror(errno));
        return 1;
    }
    close(fd);
    std::printf("%d\n", ic.brk);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    std::string cmd = argc > 1 ? argv[1] : "";
    if (cmd == "firmware" && argc == 4) {
        std::vector<UploadImageLayout> layout = {
            {0x20000, "Main", {{0x0, (uint32_t)std::strtoul(argv[3], nullptr, 0)}}}};
        return UploadWriteFile(argv[2], UploadFirmwareText(layout, 32, 12)) ? 0 : 1;
    }
    if (cmd == "breaks" && argc == 3)
        return breaks(argv[2]);
    if (argc >= 4) {
        checkName = argv[2];
        if (cmd == "settings" && argc == 4)
            return settings(argv[3]);
        if (cmd == "low-latency" && argc == 4)
            return lowLatency(argv[3]);
        if (cmd == "exclusive" && argc == 6)
            return exclusive(argv[3], argv[4], argv[5]);
    }
    std::fprintf(stderr, "usage: see the head of tests/qemu/serial_probe.cpp\n");
    return 2;
}
