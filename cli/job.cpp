// upload, verify and read: the upload dialog's run without a window. One
// port runs in this process; several ports run in child processes of this
// program (one each, with --json), whose lines this process shows or
// passes on.
#include "cli/job.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

#include "cli/cli.h"
#include "cli/prompt.h"
#include "cli/rows.h"
#include "core/runreport.h"
#include "core/scan.h"
#include "core/startup.h"
#include "core/station.h"
#include "firmware/mdl.h"
#include "platform/console.h"
#include "platform/process.h"
#include "protocol/mdl_pc.h"
#include "support/log.h"

namespace
{

const char *const cli_job_names[] = {"upload", "verify", "read"};

// The human view of a run on one port: bars on a terminal, plain lines
// otherwise. All calls come from the worker thread; the main thread writes
// only after the worker has ended, and the stop handler's thread once to
// stderr when a stop was asked for (the groups no longer change then).
class CliRunView : public RunView
{
  public:
    CliRunView(FILE *out, RunJob job)
        : out_(out), job_(job), terminal_(PlatIsTerminal(out) && PlatEnableTerminalControls(out))
    {
    }

    void PhaseStarted(int group) override
    {
        Group &g = groups_[group];
        g.label = std::string(RunGroupLabel(job_, group)) + RUN_LABEL_BUSY;
        phases_.Start(group, RunClock::now());
        EndLine();
        open_ = group;
        g.printed = -1;
        if (!terminal_)
            std::fprintf(out_, "%s\n", g.label.c_str());
        Draw(group, true);
        std::fflush(out_);
    }

    void PhaseProgress(int group, const RunStep &step) override
    {
        Group &g = groups_[group];
        g.bar = step.bar;
        bool resent = step.resends != g.resends;
        g.resends = step.resends;
        Draw(group, false);
        // Plain output: the resends at 1, 10, 100...: a line that keeps
        // asking shows, without a line per resend.
        if (!terminal_ && resent) {
            uint32_t n = step.resends;
            while (n >= 10 && n % 10 == 0)
                n /= 10;
            if (n == 1) {
                std::fprintf(out_, "%s %s\n", RunGroupLabel(job_, group),
                             RunResendText(step.resends).c_str());
                std::fflush(out_);
            }
        }
        if (step.percent == g.percent)
            return;
        g.percent = step.percent;
        // Plain output: a line every ten percent.
        if (!terminal_ && g.percent / 10 != g.printed / 10 && g.percent >= 10) {
            g.printed = g.percent;
            std::fprintf(out_, "%s %d%%\n", RunGroupLabel(job_, group), g.percent);
            std::fflush(out_);
        }
    }

    void PhaseEnded(int group) override
    {
        Group &g = groups_[group];
        g.label = std::string(RunGroupLabel(job_, group)) + RUN_LABEL_DONE;
        phases_.End(group, RunClock::now());
        if (terminal_) {
            Draw(group, true);
            EndLine();
        } else {
            std::fprintf(out_, "%s\n", g.label.c_str());
            open_ = -1;
        }
        std::fflush(out_);
    }

    // The note on a line of its own, then the group's line goes on below it.
    void PhaseStopping(int group) override
    {
        const char *note = RunStopNote(group);
        if (!note)
            return;
        std::string text = CliFit(out_, note);
        if (terminal_)
            std::fprintf(out_, "\r%s\x1b[K\n", text.c_str());
        else
            std::fprintf(out_, "%s\n", text.c_str());
        Draw(group, true);
        std::fflush(out_);
    }

    void RunFinished(UploadResult result) override
    {
        result_ = result;
        EndLine();
        std::fflush(out_);
    }

    UploadResult Result() const { return result_; }
    const RunPhaseTimes &Phases() const { return phases_; }

  private:
    struct Group {
        std::string label;
        int bar = 0;
        int percent = 0;
        int printed = -1; // plain output: the last percentage written
        uint32_t resends = 0;
    };

    // Redrawn at most ten times a second, and whenever a phase starts or
    // ends; the width is asked each time, so a resized window is followed.
    void Draw(int group, bool now)
    {
        if (!terminal_)
            return;
        RunClock::time_point t = RunClock::now();
        if (!now && t - lastDraw_ < std::chrono::milliseconds(100))
            return;
        lastDraw_ = t;
        const Group &g = groups_[group];
        int width = PlatTerminalWidth(out_);
        double elapsed = phases_.Elapsed(group, t);
        std::string label = g.label;
        if (g.resends > 0)
            label += " (" + RunResendText(g.resends) + ")";
        std::string line = RunProgressLine(label, g.bar, elapsed, RunTimeLeft(elapsed, g.bar),
                                           (width > 0 ? width : 80) - 1);
        std::fprintf(out_, "\r%s\x1b[K", line.c_str());
        std::fflush(out_);
    }

    void EndLine()
    {
        if (terminal_ && open_ >= 0)
            std::fputs("\n", out_);
        open_ = -1;
    }

    FILE *out_;
    RunJob job_;
    bool terminal_;
    int open_ = -1; // the group whose line is being drawn
    Group groups_[RUN_GROUP_COUNT];
    RunPhaseTimes phases_;
    RunClock::time_point lastDraw_;
    UploadResult result_ = UPLOAD_FAILED;
};

// What a stop reaches. The stop handler runs on a thread of its own: the
// run or station it tells is set and cleared under the lock, and is
// destroyed only after it was cleared.
std::mutex cli_stop_lock;
bool cli_stop = false;      // a stop came
bool cli_stop_told = false; // and was told on stderr
UploadRun *cli_active_run = nullptr;
bool cli_active_json = false; // the run's JSON lines say it in the result
Station *cli_active_station = nullptr;

// Passes a stop on to what runs; with the lock held.
void cli_pass_stop(void)
{
    if (cli_active_run && cli_active_run->WorkerRunning()) {
        cli_active_run->RequestStop();
        if (!cli_active_json && !cli_stop_told)
            std::fprintf(stderr, "\nStop requested: the run ends at its next step.\n");
        cli_stop_told = true;
    }
    if (cli_active_station)
        cli_active_station->RequestStop();
}

void cli_on_stop(void)
{
    std::lock_guard<std::mutex> hold(cli_stop_lock);
    cli_stop = true;
    cli_pass_stop();
}

// Makes run or station what a stop reaches (both null: nothing). A stop
// that came before it existed reaches it at once.
void cli_watch(UploadRun *run, bool json, Station *station)
{
    std::lock_guard<std::mutex> hold(cli_stop_lock);
    cli_active_run = run;
    cli_active_json = json;
    cli_active_station = station;
    if (cli_stop)
        cli_pass_stop();
}

// A positive whole number of milliseconds from the environment, or fallback.
long cli_env_ms(const char *name, long fallback)
{
    const char *text = std::getenv(name);
    if (!text || !*text)
        return fallback;
    char *end = nullptr;
    long value = std::strtol(text, &end, 10);
    return (*end == '\0' && value > 0 && value <= 86400000L) ? value : fallback;
}

void cli_drop_log_line(const char *, bool) {}

// --debug: the console channel on stderr. A message that continues the one
// before it starts with a line feed; one line each reads better here.
void cli_show_log_line(const char *line, bool)
{
    std::fprintf(stderr, "%s\n", line[0] == '\n' ? line + 1 : line);
}

// The run on one port, in this process.
int cli_run_port(const CliJobOptions &o, const Firmware &firmware, const ScanFileInfo &info,
                 const std::string &port)
{
    RunOptions options;
    if (o.job == RUN_JOB_UPLOAD)
        options.file = RunFileStampOf(info);
    if (!o.backupDir.empty())
        options.backupPath = o.backupDir + "/" + RunBackupFileName(port, std::time(nullptr));
    options.job = o.job;
    options.verify = o.verify;
    options.read = o.read;
    RunRecord record = RunRecordBegin(options, port, firmware, o.path);
    std::string message;
    SioPort *sio = RunOpenPort(port, message);
    if (!sio) {
        char text[1024];
        std::snprintf(text, sizeof text, RUN_OPEN_FAILED_FORMAT, message.c_str());
        if (o.json)
            std::printf("%s\n", RunRecordFail(record, false, CLI_EXIT_PORT, message, text).c_str());
        else
            std::fprintf(stderr, "%s\n", CliFit(stderr, text).c_str());
        return CLI_EXIT_PORT;
    }

    // With the data on standard output, the progress goes to standard error.
    bool toStdout = o.job == RUN_JOB_READ && o.read.path == "-";
    if (toStdout && o.read.binary)
        PlatSetBinary(stdout);
    FILE *progress = toStdout ? stderr : stdout;
    CliRunView human(progress, o.job);
    RunJsonView json(stdout, port, o.job);
    RunView &view = o.json ? (RunView &)json : (RunView &)human;
    UploadRun run(firmware, o.path, view, options);

    if (!run.Start(sio)) {
        std::fprintf(stderr, "mirdel-cli: the %s could not be started\n", cli_job_names[o.job]);
        return CLI_EXIT_FAILED;
    }
    cli_watch(&run, o.json, nullptr);
    run.Join();
    cli_watch(nullptr, false, nullptr);
    UploadResult result = o.json ? json.Result() : human.Result();
    if (o.json) {
        std::printf("%s\n", RunRecordFinish(record, run, result, json.Phases()).c_str());
    } else {
        RunOutcome outcome = RunJobOutcomeText(o.job, result, run.errorCode, run.errorText,
                                               run.mismatch, run.deviceLost);
        FILE *to = result == UPLOAD_OK ? progress : stderr;
        std::fprintf(to, "%s\n", CliFit(to, outcome.text).c_str());
    }
    RunLogOutcome(result, run.errorText);
    return RunExitStatus(result);
}

int cli_run_parallel(const CliJobOptions &o, const Firmware &firmware)
{
    StationJob job;
    job.program = PlatSelfPath("mirdel-cli");
    job.options.job = o.job;
    job.options.verify = o.verify;
    job.path = o.path;
    job.firmware = &firmware;
    job.debug = o.debug;
    job.logFile = o.logFile;
    job.backupDir = o.backupDir;
    job.ports = o.ports;
    Station station(job);
    CliRows rows(station, o.json);
    cli_watch(nullptr, o.json, &station);
    int status = station.Run(rows);
    cli_watch(nullptr, false, nullptr);
    rows.Summary();
    return status;
}

} // namespace

int CliRunJob(const CliJobOptions &o)
{
    LogCallback console = o.debug ? cli_show_log_line : cli_drop_log_line;
    if (o.debug && o.logFile.empty())
        LogOpen(nullptr, console, nullptr, false);
    if (!o.logFile.empty()) {
        if (!LogOpen(o.logFile.c_str(), console, "mirdel-cli: ", true)) {
            std::fprintf(stderr, "mirdel-cli: LogOpen() failed: cannot open '%s'\n",
                         o.logFile.c_str());
            return CLI_EXIT_OUTPUT;
        }
        Log("-------------------- Start: --------------------");
    }
    RunSetPortTimeout((int32_t)cli_env_ms("MIRDEL_PORT_TIMEOUT_MS", RUN_PORT_TIMEOUT));
    MdlSetTimings((uint32_t)cli_env_ms("MIRDEL_BUSY_PAUSE_MS", 2000),
                  (int32_t)cli_env_ms("MIRDEL_FLASH_TIMEOUT_MS", 30000));

    // From the start: a stop that comes before the run begins stops it as
    // soon as it begins (a second Ctrl-C ends the program).
    {
        std::lock_guard<std::mutex> hold(cli_stop_lock);
        cli_stop = cli_stop_told = false;
    }
    PlatInstallStopHandler(cli_on_stop);
    // Only now: a stop that the station wrote before waits on the input.
    if (o.stopInput)
        PlatWatchStopInput(cli_on_stop);
    int status = CLI_EXIT_OK;
    Firmware firmware{};
    ScanFileInfo info;
    std::string message;
    bool fileJob = o.job != RUN_JOB_READ;
    if (fileJob && !ScanFirmwareFile(o.path.c_str(), &firmware, &info, &message)) {
        std::string place = ScanErrorPlace(info);
        std::fprintf(stderr, "%s%s\n", place.c_str(), ScanReportError(message, place).c_str());
        status = CLI_EXIT_FILE;
    } else if (o.job == RUN_JOB_UPLOAD && !CliPassChecks(firmware, o.yes)) {
        status = CLI_EXIT_FILE;
    } else if (!o.backupDir.empty() && !RunFolderWritable(o.backupDir, message)) {
        // Refused before anything is sent: the backup could not be kept.
        std::fprintf(stderr, "mirdel-cli: --backup %s\n", message.c_str());
        status = CLI_EXIT_OUTPUT;
    } else if (o.ports.size() > 1) {
        status = cli_run_parallel(o, firmware);
    } else {
        status = cli_run_port(o, firmware, info, o.ports[0]);
    }
    MdlFirmwareRelease(&firmware);
    if (!o.logFile.empty())
        StartupTrace(STARTUP_TRACE_END);
    status = CliFinishOutput(status); // a closed output is told, not a signal's death
    PlatRemoveStopHandler();
    return status;
}
