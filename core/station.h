// Several ports at once: one child process of the command-line tool per
// port, each running the job on its port and reporting in JSON lines. The
// station starts them, reads their lines, passes a stop on to all of them
// (a line on each child's standard input, which waits there until the child
// can take it) and sums their ends up in one exit status; a front end is
// told what happens on each port and draws it.
#pragma once

#include <condition_variable>
#include <cstdio>
#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/runreport.h"

struct PlatProcess;

// What every child runs: "mirdel-cli JOB --json --stop-input --port NAME
// ... -- PATH".
struct StationJob {
    std::string program;                // the command-line tool's path
    RunOptions options;                 // an upload (verified or not) or a verification
    std::string path;                   // the firmware file
    const Firmware *firmware = nullptr; // its contents, for a result made here
    bool debug = false;                 // the children's console messages on stderr
    std::string logFile;                // empty: no log
    std::string backupDir;              // upload: each port's backup goes there first
    std::string resultsFile;            // each port's result line is appended (empty: none)
    std::vector<std::string> ports;
};

// One port's run as its child's lines tell it.
struct StationPort {
    std::string name;
    RunLineState state;
    bool running = false;         // its output has not ended
    int status = CLI_EXIT_FAILED; // final once the port has ended
    std::string outcome;          // from its result line, or why there is none
    RunClock::time_point start, end;
};

// What a front end is told, on the thread that runs the station.
class StationView
{
  public:
    virtual ~StationView() = default;
    // Every child has been started, or has its outcome telling why not.
    virtual void Begin() {}
    // A line of the child on port (an index into Station::Ports()); event
    // is what RunLineTake made of it (empty for a line that is none), the
    // port's state is updated.
    virtual void PortLine(size_t port, const std::string &event, const std::string &line) = 0;
    // The stop was passed on to the children still running; notPassed has
    // a text per port, empty where the stop went (or was not needed), else
    // why the child could not be told.
    virtual void StopPassed(const std::vector<std::string> &notPassed) = 0;
    // The run on port is over, its status and outcome final. lostResult:
    // the result line made here for a run that gave none (empty otherwise).
    virtual void PortEnded(size_t port, const std::string &lostResult) = 0;
    // How long the view may go without Tick while nothing happens, in
    // milliseconds; -1: as long as it takes.
    virtual int TickDelay() { return -1; }
    // Called after every wake-up of the station.
    virtual void Tick() {}
};

class Station
{
  public:
    explicit Station(const StationJob &job);
    Station(const Station &) = delete;
    Station &operator=(const Station &) = delete;

    // Starts a child per port and runs until every one has ended; returns
    // the worst of their exit statuses. Once per station.
    int Run(StationView &view);
    // Passes a stop on to every child, once; from any thread (not a signal
    // handler). A stop before Run is passed on as soon as the children run.
    void RequestStop();
    bool StopRequested();
    const std::vector<StationPort> &Ports() const { return ports_; }

  private:
    struct Line {
        size_t port;
        std::string text;
        bool end; // the child's output ended
    };
    static void ReadChild(Station *station, FILE *in, size_t port);
    void KeepResult(const std::string &line);
    void Put(Line line);
    std::vector<std::string> ChildArgs(const std::string &port) const;

    StationJob job_;
    std::vector<StationPort> ports_;
    std::vector<PlatProcess *> processes_;
    std::mutex lock_; // guards what follows
    std::condition_variable ready_;
    std::deque<Line> lines_;
    bool stop_ = false;
    bool stopRequested_ = false; // for the rows: set with stop_
};

// What is to be checked before a station starts, so that nothing is sent
// when its record or backups could not be kept: the command-line tool is
// there, the results file can be appended to, the backup folder written.
// False with the message to show.
bool StationCheckJob(const StationJob &job, std::string &message);
// The command-line tool a desktop program's station runs, found from the
// program's own path: beside it (the Windows installer's one folder), else
// in the bin folder that the packages link the program from, else in the
// build tree's cli folder; the first of them when none is there, so that
// the missing tool is named.
std::string StationProgramPath(const std::string &selfPath);
// Where the results go unless the user chooses: a file in the user's
// documents folder.
std::string StationDefaultResultsFile();

// What a window draws of one port's row.
struct StationRow {
    std::string phase;      // " Uploading ...", " starting ..."; the outcome's first line once ended
    int bar = 0;            // 0..RUN_BAR_MAX
    std::string percent;    // "42"
    std::string elapsed;    // since the port's run began: "0:12"
    std::string outcome;    // the whole text once ended, advice included
    RunIcon icon = RUN_ICON_NONE; // once ended
    const char *note = nullptr;   // RUN_STOP_FLASH_NOTE while a stop waits for the flash writing
};
StationRow StationRowOf(const StationPort &port, bool stopRequested, RunClock::time_point now);
// The icon of an exit status: information for success, exclamation for a
// stop, the stop icon for the others.
RunIcon StationStatusIcon(int exitStatus);
// "3 succeeded, 1 failed": the ports by outcome, in that order with
// "stopped" between, the empty counts left out.
std::string StationSummary(const std::vector<StationPort> &ports);

// Before a station starts, through tell (as RunChecksPass): StationCheckJob's
// refusal, then for an upload the firmware's checks, asked once for all
// ports. True when the station may start.
bool StationChecksPass(const StationJob &job, const std::function<bool(const RunCheck &)> &tell);

// A station run for a window. The station runs on a thread of its own;
// wake is called there when the rows changed (at least every
// STATION_ROWS_TICK_MS while a run goes, for the elapsed times), once until
// the window has taken them with Rows, and done with the exit status as that
// thread's last step. The rest is for the window's thread.
#define STATION_ROWS_TICK_MS 500
class StationRun : private StationView
{
  public:
    StationRun(const StationJob &job, std::function<void()> wake, std::function<void(int)> done);
    ~StationRun(); // a run still going is stopped and waited for
    StationRun(const StationRun &) = delete;
    StationRun &operator=(const StationRun &) = delete;

    void RequestStop() { station_.RequestStop(); }
    bool StopRequested() { return station_.StopRequested(); }
    // What each port's row shows now.
    std::vector<StationRow> Rows();
    // Once done was called: waits for the thread; Rows and Summary are
    // then final.
    void Finish();
    std::string Summary() const { return StationSummary(station_.Ports()); }

  private:
    void Begin() override { Changed(); }
    void PortLine(size_t, const std::string &, const std::string &) override {}
    void StopPassed(const std::vector<std::string> &) override { Changed(); }
    void PortEnded(size_t, const std::string &) override { Changed(); }
    int TickDelay() override { return STATION_ROWS_TICK_MS; }
    void Tick() override { Changed(); }
    void Changed();

    Station station_;
    std::function<void()> wake_;
    std::thread thread_;
    std::mutex lock_; // guards the copy for the window
    std::vector<StationPort> copy_;
    bool stopRequested_ = false;
    std::atomic<bool> woken_{false}; // a wake is on its way to the window
};
