// The whole upload run against mirdel-sim over a pseudo-terminal without
// pacing: a 1 MiB firmware in 32-byte S3 records, uploaded and verified.
// Prints records per second for the upload and bytes per second for the
// read-back, and, in the same run, the bare round-trip rate of a
// pseudo-terminal for lines of the same sizes (write, poll, read; a peer
// thread that answers at once). Ends with the time the same run would take
// on a 115200-baud line (10 bits per byte, both directions).
//
//   upload [KiB [rounds]]      (default 1024 KiB, 3 rounds)
#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "bench/bench_sim.h"
#include "bench/bench_usage.h"
#include "bench/upload_firmware.h"
#include "core/run.h"
#include "core/scan.h"
#include "firmware/mdl.h"
#include "serial/sio.h"
#include "support/log.h"

namespace
{

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point a, Clock::time_point b)
{
    return std::chrono::duration<double>(b - a).count();
}

// Notes when each group starts and ends; shows nothing.
class TimingView : public RunView
{
  public:
    void PhaseStarted(int group) override { start[group] = Clock::now(); }
    void PhaseProgress(int, const RunStep &) override {}
    void PhaseEnded(int group) override { end[group] = Clock::now(); }
    void RunFinished(UploadResult r) override { result = r; }

    Clock::time_point start[RUN_GROUP_COUNT], end[RUN_GROUP_COUNT];
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

// Reads one line ending in a line feed; false on a time-out or an error.
bool readLine(int fd, std::string &pending, std::string &line)
{
    for (;;) {
        size_t nl = pending.find('\n');
        if (nl != std::string::npos) {
            line.assign(pending, 0, nl);
            pending.erase(0, nl + 1);
            return true;
        }
        pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, 3000) != 1)
            return false;
        char buf[4096];
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EAGAIN)
            continue;
        if (n <= 0)
            return false;
        pending.append(buf, (size_t)n);
    }
}

bool writeAll(int fd, const std::string &s)
{
    return write(fd, s.data(), s.size()) == (ssize_t)s.size();
}

// Exchanges per second of one line (with its line feed) answered by
// another, the peer on the master side answering each line at once.
double bareRate(const std::string &ask, const std::string &answer, long count)
{
    int master, slave;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
        return 0;
    setRaw(master);
    setRaw(slave);
    std::thread peer([&] {
        std::string pending, line;
        for (long i = 0; i < count; i++)
            if (!readLine(master, pending, line) || !writeAll(master, answer))
                return;
    });
    std::string pending, line;
    auto t0 = Clock::now();
    long done = 0;
    for (; done < count; done++)
        if (!writeAll(slave, ask) || !readLine(slave, pending, line))
            break;
    double s = seconds(t0, Clock::now());
    peer.join();
    close(master);
    close(slave);
    return done == count && s > 0 ? count / s : 0;
}

void dropLog(const char *, bool) {}

struct Figures {
    double upRate = 0, readRate = 0, bareUp = 0, bareRead = 0, flash = 0, total = 0;
};

// One whole run against a fresh simulator; false when it did not succeed.
bool runOnce(const Firmware &firmware, const char *path, unsigned long records, uint32_t size,
             Figures &f)
{
    BenchSim sim = BenchStartSim();
    if (sim.path.empty()) {
        std::fprintf(stderr, "mirdel-sim did not start\n");
        return false;
    }
    std::string portError;
    SioPort *port = RunOpenPort(sim.path, portError);
    if (!port) {
        std::fprintf(stderr, "%s\n", portError.c_str());
        BenchStopSim(sim);
        return false;
    }
    TimingView view;
    UploadResult result;
    auto t0 = Clock::now();
    {
        UploadRun run(firmware, path, view);
        result = run.RunUpload(port);
    }
    f.total = seconds(t0, Clock::now());
    SioClose(port);
    BenchStopSim(sim);
    if (result != UPLOAD_OK) {
        std::fprintf(stderr, "the run did not succeed (result %d)\n", (int)result);
        return false;
    }
    f.upRate = records / seconds(view.start[RUN_GROUP_UPLOAD], view.end[RUN_GROUP_UPLOAD]);
    f.flash = seconds(view.start[RUN_GROUP_FLASH], view.end[RUN_GROUP_FLASH]);
    f.readRate = size / seconds(view.start[RUN_GROUP_VERIFY], view.end[RUN_GROUP_VERIFY]);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    const char *usage = "usage: upload [KiB [rounds]]\n";
    if (int status = BenchUsage(argc, argv, usage, 2); status >= 0)
        return status;
    long kib = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 1024;
    long rounds = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 3;
    if (kib <= 0 || kib > 64 * 1024 || rounds <= 0 || rounds > 100) {
        std::fputs(usage, stderr);
        return 2;
    }
    LogOpen(nullptr, dropLog, nullptr, false);
    const unsigned recordBytes = 32;
    const uint32_t size = (uint32_t)kib * 1024;

    unsigned long records = 0;
    std::string file = BenchWriteFirmware(size, recordBytes, &records);
    if (file.empty())
        return 1;
    const char *path = file.c_str();
    Firmware firmware{};
    ScanFileInfo info;
    std::string message;
    if (!ScanFirmwareFile(path, &firmware, &info, &message)) {
        std::fprintf(stderr, "%s\n", message.c_str());
        return 1;
    }
    // The S0 and S7 records are sent and acknowledged like the others.
    unsigned long lines = records + 2;

    // The same line sizes: an S3 record of 32 data bytes and its line feed
    // against "+OK" and its line feed.
    std::string record =
        UploadRecord('3', 0, 4, std::vector<uint8_t>(recordBytes, 0x5A).data(), recordBytes) + "\n";
    std::string ack = "+OK\n";
    std::printf("firmware: %lu KiB, %lu S3 records of %u data bytes (%zu characters a line), "
                "%ld rounds\n",
                (unsigned long)kib, records, recordBytes, record.size(), rounds);

    // Rounds alternate the run and the bare exchanges so that a busy
    // machine slows both alike; the best of each figure counts.
    Figures best;
    bool ok = true;
    for (long i = 0; i < rounds && ok; i++) {
        Figures f;
        ok = runOnce(firmware, path, lines, size, f);
        if (!ok)
            break;
        f.bareUp = bareRate(record, ack, (long)lines);   // host sends the record
        f.bareRead = bareRate(ack, record, (long)lines); // host answers each record
        std::printf(
            "round %ld: upload %7.0f/s (bare %7.0f/s), read-back %8.0f B/s (bare %8.0f B/s), "
            "flash %.2f s, run %.2f s\n",
            i + 1, f.upRate, f.bareUp, f.readRate, f.bareRead * recordBytes, f.flash, f.total);
        best.upRate = std::max(best.upRate, f.upRate);
        best.readRate = std::max(best.readRate, f.readRate);
        best.bareUp = std::max(best.bareUp, f.bareUp);
        best.bareRead = std::max(best.bareRead, f.bareRead);
    }
    std::remove(path);
    MdlFirmwareRelease(&firmware);
    if (!ok)
        return 1;

    double bareReadBytes = best.bareRead * recordBytes;
    std::printf("upload:    %9.0f records/s   bare pty %9.0f/s     %5.1f %%\n", best.upRate,
                best.bareUp, best.bareUp > 0 ? 100.0 * best.upRate / best.bareUp : 0.0);
    std::printf("read-back: %9.0f bytes/s     bare pty %9.0f B/s   %5.1f %%\n", best.readRate,
                bareReadBytes, bareReadBytes > 0 ? 100.0 * best.readRate / bareReadBytes : 0.0);
    std::printf("goal: at least 65 %% of the bare rate\n");

    // On the wire every byte costs 10 bits, and every line waits for its
    // answer, so both directions add up.
    const double bytesPerSecond = 115200.0 / 10.0;
    double perRecord = (double)(record.size() + ack.size());
    double wire = lines * perRecord / bytesPerSecond;
    std::printf(
        "115200 baud model: upload %.0f s (%.0f records/s), read-back %.0f s (%.0f bytes/s)\n",
        wire, bytesPerSecond / perRecord, wire, bytesPerSecond / perRecord * recordBytes);
    return 0;
}
