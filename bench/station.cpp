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
// without running (10 ms when nothing held it up). Beside it: how the
// window's thread spent that gap by the scheduler's count (on a processor,
// or ready but waiting for one), the processor time the host of a virtual
// machine took meanwhile (steal), and the longest single event the loop
// handled with its processor time, so that a gap the window did not cause
// (a machine too busy to run the process, a host that stops the machine)
// can be told from one it did.
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
#include <fcntl.h>
#include <functional>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <vector>

#include "bench/bench_sim.h"
#include "bench/bench_stats.h"
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

// Where the counts come from, open for reading (-1: not counted here): the
// window's thread's scheduler counts, and the system's processor times.
struct CountFiles {
    int sched = -1; // /proc/thread-self/schedstat, opened on the window's thread
    int stat = -1;  // /proc/stat
};

// Seconds: the window's thread on a processor and ready but waiting for
// one; the machine's processors taken by the host of this virtual machine
// (steal, all processors together). -1 where not counted.
struct Counts {
    double run = -1, wait = -1, steal = -1;
};

Counts countsNow(const CountFiles &files)
{
    Counts c;
    char buf[256];
    ssize_t n = files.sched >= 0 ? pread(files.sched, buf, sizeof buf - 1, 0) : -1;
    unsigned long long run, wait;
    if (n > 0) {
        buf[n] = '\0';
        if (std::sscanf(buf, "%llu %llu", &run, &wait) == 2) {
            c.run = (double)run / 1e9;
            c.wait = (double)wait / 1e9;
        }
    }
    // "cpu  user nice system idle iowait irq softirq steal ..." in clock ticks.
    n = files.stat >= 0 ? pread(files.stat, buf, sizeof buf - 1, 0) : -1;
    unsigned long long t[8];
    if (n > 0) {
        buf[n] = '\0';
        if (std::sscanf(buf, "cpu %llu %llu %llu %llu %llu %llu %llu %llu", &t[0], &t[1], &t[2],
                        &t[3], &t[4], &t[5], &t[6], &t[7]) == 8)
            c.steal = (double)t[7] / (double)sysconf(_SC_CLK_TCK);
    }
    return c;
}

// A gap between the timer's stamps, when it ended (seconds after Start),
// and the counts over it.
struct Gap {
    double length = 0, at = 0;
    Counts during;
};

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
    double longestCpu = 0; // of it on a processor
    std::string longestWhat;

  private:
    int depth_ = 0;
};

// One round on some ports: wall time 0 when it did not succeed.
struct Round {
    double wall = 0;
    Gap gap;            // the longest
    Gap ownGap;         // the longest in which the host took nothing
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
                   const std::string &results, const CountFiles &files)
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
            Clock::time_point t0 = Clock::now(), last = t0;
            Counts lastCounts;
            auto stamp = [&] {
                Clock::time_point now = Clock::now();
                Counts c = countsNow(files);
                Gap g{seconds(last, now), seconds(t0, now), {}};
                auto delta = [](double a, double b) { return a >= 0 && b >= 0 ? a - b : -1; };
                g.during = {delta(c.run, lastCounts.run), delta(c.wait, lastCounts.wait),
                            delta(c.steal, lastCounts.steal)};
                if (g.length > r.gap.length)
                    r.gap = g;
                if (g.during.steal == 0 && g.length > r.ownGap.length)
                    r.ownGap = g;
                last = now;
                lastCounts = c;
            };
            QTimer tick;
            tick.setTimerType(Qt::PreciseTimer);
            tick.setInterval(kTickMs);
            QObject::connect(&tick, &QTimer::timeout, stamp);
            app.longest = 0;
            // Events sent during the click come here too, before the run.
            bool started = false, done = false;
            app.afterEvent = [&] {
                if (started && !done && !dlg.Running()) {
                    done = true;
                    stamp();
                    loop.quit();
                }
            };
            t0 = last = Clock::now();
            lastCounts = countsNow(files);
            tick.start();
            dlg.findChild<QPushButton *>("startButton")->click();
            started = true;
            if (dlg.Running())
                loop.exec();
            else
                stamp();
            app.afterEvent = nullptr;
            tick.stop();
            r.wall = seconds(t0, last);
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

std::string gapText(const Gap &g)
{
    char text[200];
    int n = std::snprintf(text, sizeof text, "%.0f ms at %.2f s", g.length * 1e3, g.at);
    const Counts &c = g.during;
    if (c.run >= 0)
        n += std::snprintf(text + n, sizeof text - (size_t)n, ": %.0f running, %.0f waiting",
                           c.run * 1e3, c.wait * 1e3);
    if (c.steal >= 0)
        std::snprintf(text + n, sizeof text - (size_t)n, "%s%.0f taken by the host",
                      c.run >= 0 ? ", " : ": ", c.steal * 1e3);
    return text;
}

void printRound(long i, const char *what, const Round &r)
{
    std::printf("round %ld, %-8s %6.3f s   gap %s   event %.0f ms (%.0f on a processor)   cpu "
                "%.2f s + %.2f s\n",
                i, what, r.wall, gapText(r.gap).c_str(), r.longest * 1e3, r.longestCpu * 1e3, r.cpu,
                r.childCpu);
}

void printSpread(const std::string &name, const std::vector<double> &v, const char *unit)
{
    auto [lo, hi] = std::minmax_element(v.begin(), v.end());
    std::printf("%-20s best %7.3f%s   median %7.3f%s   (%.3f to %.3f)\n", name.c_str(), *lo, unit,
                BenchMedian(v), unit, *lo, *hi);
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
    // Opened on the window's thread: the file stays that thread's.
    CountFiles files{open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC),
                     open("/proc/stat", O_RDONLY | O_CLOEXEC)};
    std::printf("the event loop stamped by a %d ms timer; a gap's time in ms: the window's "
                "thread running and waiting for a processor%s, the processors taken by the "
                "host%s\n",
                kTickMs, files.sched < 0 ? " (not counted by this system)" : "",
                files.stat < 0 ? " (not counted by this system)" : "");
    printLoad("before");

    std::vector<double> one, many, ratio;
    // The one-port round with the longest gap; the many ports' rounds with
    // the longest gap and the longest event.
    Round worstOne, worstGap, worstOwnGap, worstEvent;
    bool ok = true;
    for (long i = 1; i <= rounds && ok; i++) {
        Round a = stationRound(app, path, 1, verify, results, files);
        Round b =
            a.wall > 0 ? stationRound(app, path, (int)ports, verify, results, files) : Round();
        ok = a.wall > 0 && b.wall > 0;
        if (!ok)
            break;
        printRound(i, "1 port:", a);
        printRound(i, (std::to_string(ports) + " ports:").c_str(), b);
        std::printf("round %ld, %ld / 1: %.3f\n", i, ports, b.wall / a.wall);
        std::fflush(stdout);
        one.push_back(a.wall);
        many.push_back(b.wall);
        ratio.push_back(b.wall / a.wall);
        if (a.gap.length > worstOne.gap.length)
            worstOne = a;
        if (b.gap.length > worstGap.gap.length)
            worstGap = b;
        if (b.ownGap.length > worstOwnGap.ownGap.length)
            worstOwnGap = b;
        if (b.longest > worstEvent.longest)
            worstEvent = b;
    }
    for (int fd : {files.sched, files.stat})
        if (fd >= 0)
            close(fd);
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
    std::printf("longest event-loop gap, 1 port: %s\n", gapText(worstOne.gap).c_str());
    std::printf("longest event-loop gap, %ld ports: %s   (goal: at most %.0f ms)\n", ports,
                gapText(worstGap.gap).c_str(), kGapGoalMs);
    if (files.stat >= 0)
        std::printf("longest event-loop gap, %ld ports, the host taking nothing: %s\n", ports,
                    gapText(worstOwnGap.ownGap).c_str());
    std::printf("longest single event, %ld ports: %.0f ms (%s), %.1f ms of it on a processor\n",
                ports, worstEvent.longest * 1e3, worstEvent.longestWhat.c_str(),
                worstEvent.longestCpu * 1e3);
    printLoad("after");
    return 0;
}
