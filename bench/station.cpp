// The station window on eight instruments against the same window on one:
// each instrument a mirdel-sim on a pseudo-terminal, paced like a
// 115200-baud wire both ways, the same firmware of 32-byte S3 records to
// each, uploaded without verification (--verify: with). The window runs on
// Qt's offscreen platform, driven as a user would: the ports checked, the
// file analysed, Start, up to the summary. Each round runs one port, then
// eight, each on simulators of its own; a round's time runs from Start to
// the summary.
//
// Meanwhile a 10 ms timer on the window's event loop stamps each of its
// turns: the longest gap between stamps is the longest the window went
// without running (10 ms when nothing held it up). The longest single event the loop handled is shown
// beside it with the processor time its thread spent on it, so that a gap
// the window did not cause (a machine too busy to run the process) can be
// told from one it did.
//
// The goals: eight ports in at most 1.15 times one port's time (best
// rounds), and no gap over 100 ms.
//
//   station [--verify] [KiB [rounds [ports]]]   (default 24 KiB, 5 rounds, 8 ports)
#include <QApplication>
#include <QCheckBox>
#include <QEventLoop>
#include <QLabel>
#include <QMetaEnum>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>
#include <vector>

#include "bench/bench_sim.h"
#include "bench/bench_usage.h"
#include "desktop_qt/mirdelapp.h"
#include "desktop_qt/stationdlg.h"
#include "support/log.h"

namespace
{

using Clock = std::chrono::steady_clock;

const long kBaud = 115200;
const int kTickMs = 10;
const double kRatioGoal = 1.15;
const double kGapGoalMs = 100;

double seconds(Clock::time_point a, Clock::time_point b)
{
    return std::chrono::duration<double>(b - a).count();
}

double threadCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

double cpuSeconds(int who)
{
    rusage u{};
    getrusage(who, &u);
    return (double)u.ru_utime.tv_sec + (double)u.ru_stime.tv_sec +
           ((double)u.ru_utime.tv_usec + (double)u.ru_stime.tv_usec) / 1e6;
}

void dropLog(const char *, bool) {}

// Times every event the loop hands out itself (not those sent from inside
// another), and calls afterEvent after each while it is set.
class BenchApp : public QApplication
{
  public:
    using QApplication::QApplication;

    bool notify(QObject *receiver, QEvent *event) override
    {
        if (depth_ > 0 || !afterEvent)
            return QApplication::notify(receiver, event);
        // Both may be gone once handled.
        QEvent::Type type = event->type();
        const char *name = receiver->metaObject()->className();
        depth_++;
        Clock::time_point t0 = Clock::now();
        double cpu0 = threadCpuSeconds();
        bool handled = QApplication::notify(receiver, event);
        double took = seconds(t0, Clock::now());
        depth_--;
        if (took > longest) {
            longest = took;
            longestCpu = threadCpuSeconds() - cpu0;
            const char *key = QMetaEnum::fromType<QEvent::Type>().valueToKey(type);
            longestWhat = std::string(key ? key : std::to_string(type).c_str()) + " to " + name;
        }
        if (afterEvent)
            afterEvent();
        return handled;
    }

    std::function<void()> afterEvent;
    double longest = 0;
    double longestCpu = 0; // of it on the processor
    std::string longestWhat;

  private:
    int depth_ = 0;
};

// One round on some ports: wall time 0 when it did not succeed.
struct Round {
    double wall = 0;
    double gap = 0;     // the longest the event loop went without a turn, s
    double gapAt = 0;   // when it ended, s after Start
    double longest = 0; // the longest single event, s
    double longestCpu = 0;
    std::string longestWhat;
    double cpu = 0;      // this process: window, station and its readers
    double childCpu = 0; // the mirdel-cli children and the simulators
};

void settle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

Round stationRound(BenchApp &app, const std::string &file, int ports, bool verify,
                   const std::string &results)
{
    Round r;
    double cpu0 = cpuSeconds(RUSAGE_SELF), child0 = cpuSeconds(RUSAGE_CHILDREN);
    std::vector<BenchSim> sims;
    std::vector<std::string> paths;
    for (int i = 0; i < ports; i++) {
        sims.push_back(BenchStartSim({"--baud", std::to_string(kBaud), "--pace-received"}));
        paths.push_back(sims.back().path);
    }
    std::string box, summary;
    AppSetMessageBoxHook([&](const AppMessage &m) {
        box = m.text;
        return APP_ANSWER_NO;
    });
    if (std::count(paths.begin(), paths.end(), std::string()) == 0) {
        CStationDlg dlg;
        dlg.program = std::string(MIRDEL_BIN_DIR) + "/cli/mirdel-cli";
        dlg.Choose(paths, results);
        if (dlg.ScanFile(file.c_str()) == 1) {
            dlg.findChild<QCheckBox *>("verifyCheck")->setChecked(verify);
            dlg.show();
            settle(300); // shown and drawn before the user reaches Start

            QEventLoop loop;
            QTimer tick;
            tick.setTimerType(Qt::PreciseTimer);
            tick.setInterval(kTickMs);
            Clock::time_point t0 = Clock::now(), last = t0, end = t0;
            QObject::connect(&tick, &QTimer::timeout, [&] {
                Clock::time_point now = Clock::now();
                if (seconds(last, now) > r.gap) {
                    r.gap = seconds(last, now);
                    r.gapAt = seconds(t0, now);
                }
                last = now;
            });
            app.longest = 0;
            app.afterEvent = [&] {
                if (!dlg.Running()) {
                    end = Clock::now();
                    loop.quit();
                }
            };
            t0 = last = Clock::now();
            tick.start();
            dlg.findChild<QPushButton *>("startButton")->click();
            if (dlg.Running())
                loop.exec();
            else
                end = Clock::now();
            app.afterEvent = nullptr;
            tick.stop();
            if (seconds(last, end) > r.gap) {
                r.gap = seconds(last, end);
                r.gapAt = seconds(t0, end);
            }
            r.wall = seconds(t0, end);
            r.longest = app.longest;
            r.longestCpu = app.longestCpu;
            r.longestWhat = app.longestWhat;
            summary = dlg.findChild<QLabel *>("summaryText")->text().toStdString();
        }
    }
    AppSetMessageBoxHook(nullptr);
    for (BenchSim &sim : sims)
        BenchStopSim(sim);
    r.cpu = cpuSeconds(RUSAGE_SELF) - cpu0;
    r.childCpu = cpuSeconds(RUSAGE_CHILDREN) - child0;
    std::string want = std::to_string(ports) + " succeeded";
    if (summary != want) {
        std::fprintf(stderr, "station: %d ports: %s%s%s\n", ports,
                     summary.empty() ? "no summary" : summary.c_str(), box.empty() ? "" : ": ",
                     box.c_str());
        r.wall = 0;
    }
    return r;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

void printSpread(const std::string &name, const std::vector<double> &v, const char *unit)
{
    auto [lo, hi] = std::minmax_element(v.begin(), v.end());
    std::printf("%-20s best %7.3f%s   median %7.3f%s   (%.3f to %.3f)\n", name.c_str(), *lo, unit,
                median(v), unit, *lo, *hi);
}

void printLoad(const char *when)
{
    double load[3] = {};
    if (getloadavg(load, 3) == 3)
        std::printf("load average %s: %.2f %.2f %.2f\n", when, load[0], load[1], load[2]);
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const char *usage = "usage: station [--verify] [KiB [rounds [ports]]]\n";
    if (int status = BenchUsage(argc, argv, usage, 2, "--verify"); status >= 0)
        return status;
    BenchApp app(argc, argv);
    int arg = 1;
    bool verify = arg < argc && std::strcmp(argv[arg], "--verify") == 0;
    arg += verify;
    long kib = arg < argc ? std::strtol(argv[arg++], nullptr, 10) : 24;
    long rounds = arg < argc ? std::strtol(argv[arg++], nullptr, 10) : 5;
    long ports = arg < argc ? std::strtol(argv[arg++], nullptr, 10) : 8;
    if (arg < argc || kib <= 0 || kib > 1024 || rounds <= 0 || rounds > 100 || ports < 2 ||
        ports > 32) {
        std::fputs(usage, stderr);
        return 2;
    }
    LogOpen(nullptr, dropLog, nullptr, false);

    unsigned long records = 0;
    std::string path = BenchWriteFirmware((uint32_t)kib * 1024, 32, &records);
    if (path.empty())
        return 1;
    std::string results = path + ".jsonl";
    struct stat st {
    };
    stat(path.c_str(), &st);
    std::printf("firmware: %ld KiB, %lu records of up to 32 data bytes, %s, %ld rounds of 1 "
                "port, then %ld\n",
                kib, records + 2, verify ? "verified" : "no verification", rounds, ports);
    std::printf("mirdel-sim paced at %ld baud both ways; the file's lines alone take %.2f s on "
                "such a wire\n",
                kBaud, (double)st.st_size * 10 / kBaud);
    std::printf("the event loop stamped by a %d ms timer\n", kTickMs);
    printLoad("before");

    std::vector<double> one, many, ratio, gapOne, gapMany, eventMany;
    double eventCpu = 0;
    double gapManyAt = 0;
    std::string eventWhat;
    bool ok = true;
    for (long i = 0; i < rounds && ok; i++) {
        Round a = stationRound(app, path, 1, verify, results);
        Round b = a.wall > 0 ? stationRound(app, path, (int)ports, verify, results) : Round();
        ok = a.wall > 0 && b.wall > 0;
        if (!ok)
            break;
        std::printf("round %ld: 1 port %.3f s (gap %.0f ms at %.2f s, event %.0f/%.0f ms, cpu "
                    "%.2f s + %.2f s), %ld ports %.3f s (gap %.0f ms at %.2f s, event %.0f/%.0f "
                    "ms, cpu %.2f s + %.2f s), %ld / 1: %.3f\n",
                    i + 1, a.wall, a.gap * 1e3, a.gapAt, a.longest * 1e3, a.longestCpu * 1e3, a.cpu,
                    a.childCpu, ports, b.wall, b.gap * 1e3, b.gapAt, b.longest * 1e3,
                    b.longestCpu * 1e3, b.cpu, b.childCpu, ports, b.wall / a.wall);
        std::fflush(stdout);
        one.push_back(a.wall);
        many.push_back(b.wall);
        ratio.push_back(b.wall / a.wall);
        gapOne.push_back(a.gap);
        if (gapMany.empty() || b.gap > *std::max_element(gapMany.begin(), gapMany.end()))
            gapManyAt = b.gapAt;
        gapMany.push_back(b.gap);
        if (eventMany.empty() ||
            b.longest > *std::max_element(eventMany.begin(), eventMany.end())) {
            eventWhat = b.longestWhat;
            eventCpu = b.longestCpu;
        }
        eventMany.push_back(b.longest);
    }
    std::remove(path.c_str());
    std::remove(results.c_str());
    if (!ok)
        return 1;
    printSpread("1 port:", one, " s");
    printSpread(std::to_string(ports) + " ports:", many, " s");
    printSpread(std::to_string(ports) + " / 1, per round:", ratio, "");
    std::printf("%ld / 1, best rounds: %.3f   (goal: at most %.2f)\n", ports,
                *std::min_element(many.begin(), many.end()) /
                    *std::min_element(one.begin(), one.end()),
                kRatioGoal);
    std::printf("longest event-loop gap: %.0f ms with 1 port, %.0f ms with %ld (%.2f s after "
                "Start)   (goal: at most %.0f ms)\n",
                *std::max_element(gapOne.begin(), gapOne.end()) * 1e3,
                *std::max_element(gapMany.begin(), gapMany.end()) * 1e3, ports, gapManyAt,
                kGapGoalMs);
    std::printf("longest single event with %ld ports: %.0f ms (%s), %.1f ms of it on the "
                "processor\n",
                ports, *std::max_element(eventMany.begin(), eventMany.end()) * 1e3,
                eventWhat.c_str(), eventCpu * 1e3);
    printLoad("after");
    return 0;
}
