// The desktop program's run against the command line's on the same
// firmware and the same fast peer (mirdel-sim without pacing, over a
// pseudo-terminal): a firmware of 32-byte S3 records, uploaded without
// verification. The dialog runs on Qt's offscreen platform, driven as a
// user would: file analysis, Verify unchecked, the port typed, Start, up to
// the outcome box. The command line's run is mirdel-cli upload --no-verify,
// from its start to its exit. Both times include the file's analysis.
// Prints both rates and the dialog's share of the command line's.
//
//   gui-run [KiB [rounds]]      (default 512 KiB, 3 rounds)
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
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "bench/bench_sim.h"
#include "bench/upload_firmware.h"
#include "desktop_qt/downloaddlg.h"
#include "desktop_qt/mirdelapp.h"
#include "support/log.h"

namespace
{

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point a, Clock::time_point b)
{
    return std::chrono::duration<double>(b - a).count();
}

void dropLog(const char *, bool) {}

// One run through the upload dialog; its time in seconds, or 0 when it did
// not succeed.
double dialogRun(const std::string &file)
{
    BenchSim sim = BenchStartSim();
    if (sim.path.empty()) {
        std::fprintf(stderr, "mirdel-sim did not start\n");
        return 0;
    }
    std::string outcome;
    QEventLoop loop;
    AppSetMessageBoxHook([&](const AppMessage &m) {
        outcome = m.text;
        loop.quit();
        return APP_ANSWER_OK;
    });
    auto t0 = Clock::now();
    double s = 0;
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
            s = seconds(t0, Clock::now());
        }
    }
    AppSetMessageBoxHook(nullptr);
    BenchStopSim(sim);
    if (outcome != "Upload successful.") {
        std::fprintf(stderr, "the dialog's run did not succeed: %s\n", outcome.c_str());
        return 0;
    }
    return s;
}

// One run of mirdel-cli; its time in seconds, or 0 when it did not succeed.
double cliRun(const std::string &file)
{
    BenchSim sim = BenchStartSim();
    if (sim.path.empty()) {
        std::fprintf(stderr, "mirdel-sim did not start\n");
        return 0;
    }
    auto t0 = Clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        std::string bin = std::string(MIRDEL_BIN_DIR) + "/cli/mirdel-cli";
        execl(bin.c_str(), bin.c_str(), "upload", "--no-verify", "--port", sim.path.c_str(),
              file.c_str(), (char *)nullptr);
        _exit(127);
    }
    int status = -1;
    waitpid(pid, &status, 0);
    double s = seconds(t0, Clock::now());
    BenchStopSim(sim);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "mirdel-cli did not succeed (status 0x%X)\n", status);
        return 0;
    }
    return s;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    long kib = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 512;
    long rounds = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 3;
    if (kib <= 0 || kib > 64 * 1024 || rounds <= 0 || rounds > 100) {
        std::fprintf(stderr, "usage: gui-run [KiB [rounds]]\n");
        return 2;
    }
    LogOpen(nullptr, dropLog, nullptr, false);

    unsigned long records = 0;
    std::string path = BenchWriteFirmware((uint32_t)kib * 1024, 32, &records);
    if (path.empty())
        return 1;
    // S0 and S7 are sent and acknowledged like the data records.
    const double lines = (double)(records + 2);
    std::printf("firmware: %ld KiB, %.0f records of up to 32 data bytes, no verification, "
                "%ld rounds\n",
                kib, lines, rounds);

    // Rounds alternate the two so that a busy machine slows both alike; the
    // best of each counts.
    double bestDialog = 0, bestCli = 0;
    bool ok = true;
    for (long i = 0; i < rounds && ok; i++) {
        double d = dialogRun(path);
        double c = cliRun(path);
        ok = d > 0 && c > 0;
        if (!ok)
            break;
        std::printf(
            "round %ld: dialog %.2f s (%.0f records/s), mirdel-cli %.2f s (%.0f records/s)\n",
            i + 1, d, lines / d, c, lines / c);
        bestDialog = std::max(bestDialog, lines / d);
        bestCli = std::max(bestCli, lines / c);
    }
    std::remove(path.c_str());
    if (!ok)
        return 1;
    std::printf("dialog:     %8.0f records/s\n", bestDialog);
    std::printf("mirdel-cli: %8.0f records/s\n", bestCli);
    std::printf("dialog / mirdel-cli: %5.1f %%   (goal: at least 50 %%)\n",
                100.0 * bestDialog / bestCli);
    return 0;
}
