// An FTDI USB serial adapter between the host and the instrument, as a
// model: what the instrument sends is held until the adapter's latency
// timer runs out, its buffer of 62 bytes (a 64-byte USB packet less the two
// status bytes) is full, or, when the host has enabled it, the event
// character arrives (not as the first byte held). The timer runs from the
// last packet the adapter sent; it sends one, with data or only its status,
// each time the timer runs out, so a reply waits for the next tick. What
// the host sends passes at once.
//
// The host is the upload run of the core in this process; the adapter is a
// thread between the host's pseudo-terminal and mirdel-sim's, which is
// paced like a 115200-baud line both ways. The host enables the event
// character as on Linux, by writing ftdi_sio's event_char attribute: here
// a file in a fake sysfs folder, which the model reads. Where that file is
// missing (a user the attribute refuses) the host cannot enable it.
//
// Each round uploads the firmware (no verification) directly and through
// the adapter at 1 ms (Linux: the low-latency flag) and 16 ms (the FTDI
// drivers' default, Windows unless lowered), each without and with the
// event character, side by side; the medians follow.
//
//   ftdi [KiB [rounds]]   (default 24 KiB, 3 rounds)
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "bench/bench_sim.h"
#include "bench/bench_stats.h"
#include "bench/bench_usage.h"
#include "core/run.h"
#include "core/scan.h"
#include "firmware/mdl.h"
#include "platform/serial_device.h"
#include "serial/sio.h"
#include "support/log.h"

namespace
{

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

const size_t kPacketData = 62;
const char kEventChar = '\n';

double seconds(Clock::time_point a, Clock::time_point b)
{
    return std::chrono::duration<double>(b - a).count();
}

class QuietView : public RunView
{
  public:
    void PhaseStarted(int) override {}
    void PhaseProgress(int, const RunStep &) override {}
    void PhaseEnded(int) override {}
    void RunFinished(UploadResult r) override { result = r; }
    UploadResult result = UPLOAD_FAILED;
};

void setRaw(int fd)
{
    termios t;
    if (tcgetattr(fd, &t) == 0) {
        cfmakeraw(&t);
        tcsetattr(fd, TCSANOW, &t);
    }
}

bool writeAll(int fd, const char *p, size_t n)
{
    while (n > 0) {
        ssize_t w = write(fd, p, n);
        if (w <= 0)
            return false;
        p += w;
        n -= (size_t)w;
    }
    return true;
}

// The adapter: host is the master of the host's pseudo-terminal, device
// the instrument's. Runs until stop.
void adapter(int host, int device, int latencyMs, const std::string &eventCharFile,
             std::atomic<bool> &stop)
{
    std::string held;
    Clock::time_point lastPacket = Clock::now();
    auto tick = std::chrono::milliseconds(latencyMs);
    auto enabled = [&] {
        std::ifstream f(eventCharFile);
        unsigned value = 0;
        return f >> value && (value & 0x100) && (char)(value & 0xFF) == kEventChar;
    };
    auto send = [&](size_t n) {
        writeAll(host, held.data(), n);
        held.erase(0, n);
        lastPacket = Clock::now();
    };
    char buf[4096];
    while (!stop.load()) {
        Clock::time_point now = Clock::now();
        if (now >= lastPacket + tick) {
            send(held.size()); // data, or the status packet alone
            continue;
        }
        int wait = (int)std::chrono::ceil<std::chrono::milliseconds>(lastPacket + tick - now).count();
        pollfd p[2] = {{host, POLLIN, 0}, {device, POLLIN, 0}};
        if (poll(p, 2, std::min(wait, 50)) <= 0)
            continue;
        if (p[0].revents & POLLIN) {
            ssize_t n = read(host, buf, sizeof buf);
            if (n > 0)
                writeAll(device, buf, (size_t)n);
        }
        if (p[1].revents & POLLIN) {
            ssize_t n = read(device, buf, sizeof buf);
            bool event = n > 0 && enabled();
            for (ssize_t i = 0; i < n; i++) {
                held += buf[i];
                if (held.size() == kPacketData || (event && buf[i] == kEventChar && held.size() > 1))
                    send(held.size());
            }
        }
    }
}

struct Case {
    const char *name;
    int latencyMs; // 0: no adapter
    bool eventChar;
};

// One upload through the adapter of c; seconds, or -1 when it failed.
double uploadOnce(const Firmware &firmware, const char *path, const Case &c, const fs::path &sysfs)
{
    BenchSim sim = BenchStartSim({"--baud", "115200", "--pace-received"});
    if (sim.path.empty()) {
        std::fprintf(stderr, "mirdel-sim did not start\n");
        return -1;
    }
    int master = -1, slave = -1, device = -1;
    char name[256];
    std::atomic<bool> stop{false};
    std::thread model;
    std::string portPath = sim.path;
    if (c.latencyMs > 0) {
        device = open(sim.path.c_str(), O_RDWR | O_NOCTTY);
        if (device < 0 || openpty(&master, &slave, name, nullptr, nullptr) != 0) {
            std::perror("adapter");
            BenchStopSim(sim);
            return -1;
        }
        setRaw(device);
        setRaw(master);
        portPath = name;
        // The attribute ftdi_sio would offer for this device, where the
        // host may write it.
        struct stat st;
        fstat(slave, &st);
        fs::path dir = sysfs / "dev/char" /
                       (std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev))) /
                       "device";
        fs::remove_all(dir);
        fs::create_directories(dir);
        if (c.eventChar)
            std::ofstream(dir / "event_char") << "0\n";
        model = std::thread(adapter, master, device, c.latencyMs, (dir / "event_char").string(),
                            std::ref(stop));
    }
    std::string portError;
    double took = -1;
    if (SioPort *port = RunOpenPort(portPath, portError)) {
        QuietView view;
        RunOptions options;
        options.verify = false;
        auto t0 = Clock::now();
        {
            UploadRun run(firmware, path, view, options);
            run.RunUpload(port);
        }
        double s = seconds(t0, Clock::now());
        SioClose(port);
        if (view.result == UPLOAD_OK)
            took = s;
        else
            std::fprintf(stderr, "%s: the upload did not succeed\n", c.name);
    } else {
        std::fprintf(stderr, "%s\n", portError.c_str());
    }
    stop.store(true);
    if (model.joinable())
        model.join();
    for (int fd : {master, slave, device})
        if (fd >= 0)
            close(fd);
    BenchStopSim(sim);
    return took;
}

void dropLog(const char *, bool) {}

} // namespace

int main(int argc, char **argv)
{
    const char *usage = "usage: ftdi [KiB [rounds]]   (default 24 KiB, 3 rounds)\n";
    if (int status = BenchUsage(argc, argv, usage, 2); status >= 0)
        return status;
    long kib = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 24;
    long rounds = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 3;
    if (argc > 3 || kib <= 0 || kib > 1024 || rounds <= 0 || rounds > 50) {
        std::fputs(usage, stderr);
        return 2;
    }
    LogOpen(nullptr, dropLog, nullptr, false);
    unsigned long records = 0;
    std::string file = BenchWriteFirmware((uint32_t)kib * 1024, 32, &records);
    if (file.empty())
        return 1;
    Firmware firmware{};
    ScanFileInfo info;
    std::string message;
    if (!ScanFirmwareFile(file.c_str(), &firmware, &info, &message)) {
        std::fprintf(stderr, "%s\n", message.c_str());
        return 1;
    }
    char sysfsName[] = "/tmp/mirdel-bench-sysfs-XXXXXX";
    if (!mkdtemp(sysfsName)) {
        std::perror("mkdtemp");
        return 1;
    }
    fs::path sysfs = sysfsName;
    PlatSerialSetSysfsRoot(sysfsName);

    const Case cases[] = {
        {"direct", 0, false},       {"1 ms", 1, false},         {"1 ms + event", 1, true},
        {"16 ms", 16, false},       {"16 ms + event", 16, true},
    };
    const size_t n = sizeof cases / sizeof cases[0];
    // The file's lines on the wire, both ways, each waiting for the other.
    double wire = 0;
    {
        std::ifstream in(file);
        std::string line;
        while (std::getline(in, line))
            wire += (double)(line.size() + 1 + 4) * 10 / 115200;
    }
    std::printf("firmware: %ld KiB, %lu records of up to 32 data bytes (+ S0, S7), no "
                "verification; mirdel-sim paced at 115200 baud both ways; %ld rounds\n",
                kib, records, rounds);
    std::printf("the lines and their \"+OK\" on the wire alone: %.2f s\n\n", wire);
    std::printf("%-7s", "round");
    for (const Case &c : cases)
        std::printf(" %14s", c.name);
    std::printf("\n");
    std::vector<std::vector<double>> times(n);
    int status = 0;
    for (long r = 0; r < rounds && status == 0; r++) {
        std::printf("%-7ld", r + 1);
        for (size_t i = 0; i < n; i++) {
            double s = uploadOnce(firmware, file.c_str(), cases[i], sysfs);
            if (s < 0) {
                status = 1;
                break;
            }
            times[i].push_back(s);
            std::printf(" %12.2f s", s);
            std::fflush(stdout);
        }
        std::printf("\n");
    }
    if (status == 0) {
        std::printf("%-7s", "median");
        for (size_t i = 0; i < n; i++)
            std::printf(" %12.2f s", BenchMedian(times[i]));
        std::printf("\n%-7s", "/direct");
        for (size_t i = 0; i < n; i++)
            std::printf(" %12.2f  ", BenchMedian(times[i]) / BenchMedian(times[0]));
        std::printf("\n");
    }
    PlatSerialSetSysfsRoot(nullptr);
    fs::remove_all(sysfs);
    std::remove(file.c_str());
    MdlFirmwareRelease(&firmware);
    return status;
}
