// The desktop program's run against the command line's on the same
// firmware and the same peer (mirdel-sim over a pseudo-terminal): a
// firmware of 32-byte S3 records, uploaded without verification. The dialog
// runs on Qt's offscreen platform, driven as a user would: file analysis,
// Verify unchecked, the port typed, Start, up to the outcome box. The
// command line's run is mirdel-cli upload --no-verify, from its start to
// its exit. Both times include the file's analysis; rounds alternate the
// two so that a busy machine slows both alike.
//
// By default the peer is paced like a 115200-baud wire both ways, where
// the wire sets the time and the goal is the dialog within 3 % of the
// command line's time (medians of the rounds). With --unpaced the peer
// answers at once, and the goal is the dialog at half the command line's
// rate or more (best rounds).
//
//   gui-run [--unpaced] [KiB [rounds]]
//       (default 24 KiB, 5 rounds; with --unpaced 512 KiB, 3 rounds)
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QEventLoop>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "bench/bench_sim.h"
#include "bench/bench_stats.h"
#include "bench/bench_usage.h"
#include "bench/upload_firmware.h"
#include "desktop_qt/downloaddlg.h"
#include "desktop_qt/mirdelapp.h"
#include "support/log.h"

namespace
{

using Clock = std::chrono::steady_clock;

const long kBaud = 115200;

double seconds(Clock::time_point a, Clock::time_point b)
{
    return std::chrono::duration<double>(b - a).count();
}

double cpuSeconds(const rusage &u)
{
    return (double)u.ru_utime.tv_sec + (double)u.ru_stime.tv_sec +
           ((double)u.ru_utime.tv_usec + (double)u.ru_stime.tv_usec) / 1e6;
}

void dropLog(const char *, bool) {}

// One timed run: wall and processor time in seconds; wall 0 when it did not
// succeed.
struct Timing {
    double wall = 0;
    double cpu = 0;
};

// One run through the upload dialog. Its processor time is the whole
// process's (the dialog's thread and the worker).
Timing dialogRun(const std::string &file, const std::vector<std::string> &simArgs)
{
    Timing t;
    BenchSim sim = BenchStartSim(simArgs);
    if (sim.path.empty()) {
        std::fprintf(stderr, "mirdel-sim did not start\n");
        return t;
    }
    std::string outcome;
    QEventLoop loop;
    AppSetMessageBoxHook([&](const AppMessage &m) {
        outcome = m.text;
        loop.quit();
        return APP_ANSWER_OK;
    });
    rusage u0, u1;
    getrusage(RUSAGE_SELF, &u0);
    auto t0 = Clock::now();
    double wall = 0;
    {
        CDownloadDlg dlg;
        if (dlg.ScanFile(file.c_str()) == 1) {
            dlg.show();
            dlg.findChild<QCheckBox *>("verifyCheck")->click();
            dlg.findChild<QComboBox *>("portBox")->setEditText(QString::fromStdString(sim.path));
            dlg.findChild<QPushButton *>("startButton")->click();
            QTimer::singleShot(600000, &loop, &QEventLoop::quit);
            if (outcome.empty())
                loop.exec();
            wall = seconds(t0, Clock::now());
        }
    }
    getrusage(RUSAGE_SELF, &u1);
    AppSetMessageBoxHook(nullptr);
    BenchStopSim(sim);
    if (outcome != "Upload successful.") {
        std::fprintf(stderr, "the dialog's run did not succeed: %s\n", outcome.c_str());
        return t;
    }
    t.wall = wall;
    t.cpu = cpuSeconds(u1) - cpuSeconds(u0);
    return t;
}

// One run of mirdel-cli.
Timing cliRun(const std::string &file, const std::vector<std::string> &simArgs)
{
    Timing t;
    BenchSim sim = BenchStartSim(simArgs);
    if (sim.path.empty()) {
        std::fprintf(stderr, "mirdel-sim did not start\n");
        return t;
    }
    std::string bin = std::string(MIRDEL_BIN_DIR) + "/cli/mirdel-cli";
    auto t0 = Clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        execl(bin.c_str(), bin.c_str(), "upload", "--no-verify", "--port", sim.path.c_str(),
              file.c_str(), (char *)nullptr);
        _exit(127);
    }
    int status = -1;
    rusage u{};
    wait4(pid, &status, 0, &u);
    double wall = seconds(t0, Clock::now());
    BenchStopSim(sim);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "mirdel-cli did not succeed (status 0x%X)\n", status);
        return t;
    }
    t.wall = wall;
    t.cpu = cpuSeconds(u);
    return t;
}

void printSpread(const char *name, const std::vector<double> &v, const char *unit)
{
    auto [lo, hi] = std::minmax_element(v.begin(), v.end());
    std::printf("%-22s median %7.3f %s   (%.3f to %.3f)\n", name, BenchMedian(v), unit, *lo, *hi);
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const char *usage = "usage: gui-run [--unpaced] [KiB [rounds]]\n";
    if (int status = BenchUsage(argc, argv, usage, 2, "--unpaced"); status >= 0)
        return status;
    QApplication app(argc, argv);
    int arg = 1;
    bool paced = true;
    if (arg < argc && std::strcmp(argv[arg], "--unpaced") == 0) {
        paced = false;
        arg++;
    }
    long kib = arg < argc ? std::strtol(argv[arg++], nullptr, 10) : paced ? 24 : 512;
    long rounds = arg < argc ? std::strtol(argv[arg++], nullptr, 10) : paced ? 5 : 3;
    if (arg < argc || kib <= 0 || kib > 64 * 1024 || rounds <= 0 || rounds > 100) {
        std::fputs(usage, stderr);
        return 2;
    }
    LogOpen(nullptr, dropLog, nullptr, false);

    unsigned long records = 0;
    std::string path = BenchWriteFirmware((uint32_t)kib * 1024, 32, &records);
    if (path.empty())
        return 1;
    // S0 and S7 are sent and acknowledged like the data records.
    const double lines = (double)(records + 2);
    std::vector<std::string> simArgs;
    std::printf("firmware: %ld KiB, %.0f records of up to 32 data bytes, no verification, "
                "%ld rounds\n",
                kib, lines, rounds);
    if (paced) {
        simArgs = {"--baud", std::to_string(kBaud), "--pace-received"};
        // Each line of the file crosses the wire once, at 10 bits a byte.
        struct stat st {
        };
        stat(path.c_str(), &st);
        std::printf("mirdel-sim paced at %ld baud both ways; the file's lines alone take "
                    "%.2f s on such a wire\n",
                    kBaud, (double)st.st_size * 10 / kBaud);
    } else {
        std::printf("mirdel-sim without pacing\n");
    }

    std::vector<double> dialogWall, cliWall, dialogCpu, cliCpu, ratio;
    bool ok = true;
    for (long i = 0; i < rounds && ok; i++) {
        Timing d = dialogRun(path, simArgs);
        Timing c = cliRun(path, simArgs);
        ok = d.wall > 0 && c.wall > 0;
        if (!ok)
            break;
        std::printf("round %ld: dialog %.3f s (%.0f records/s, cpu %.3f s), mirdel-cli %.3f s "
                    "(%.0f records/s, cpu %.3f s), dialog / mirdel-cli %.1f %%\n",
                    i + 1, d.wall, lines / d.wall, d.cpu, c.wall, lines / c.wall, c.cpu,
                    100.0 * d.wall / c.wall);
        std::fflush(stdout);
        dialogWall.push_back(d.wall);
        cliWall.push_back(c.wall);
        dialogCpu.push_back(d.cpu);
        cliCpu.push_back(c.cpu);
        ratio.push_back(100.0 * d.wall / c.wall);
    }
    std::remove(path.c_str());
    if (!ok)
        return 1;
    printSpread("dialog time:", dialogWall, "s");
    printSpread("mirdel-cli time:", cliWall, "s");
    printSpread("dialog cpu:", dialogCpu, "s");
    printSpread("mirdel-cli cpu:", cliCpu, "s");
    printSpread("dialog / mirdel-cli:", ratio, "%");
    if (paced) {
        std::printf("dialog / mirdel-cli, medians: %5.1f %%   (goal: at most 103 %%)\n",
                    100.0 * BenchMedian(dialogWall) / BenchMedian(cliWall));
    } else {
        double bestDialog = lines / *std::min_element(dialogWall.begin(), dialogWall.end());
        double bestCli = lines / *std::min_element(cliWall.begin(), cliWall.end());
        std::printf("dialog:     %8.0f records/s (best round)\n", bestDialog);
        std::printf("mirdel-cli: %8.0f records/s (best round)\n", bestCli);
        std::printf("dialog / mirdel-cli rate: %5.1f %%   (goal: at least 50 %%)\n",
                    100.0 * bestDialog / bestCli);
    }
    return 0;
}
