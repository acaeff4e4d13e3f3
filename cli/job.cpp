// upload, verify and read: the upload dialog's run without a window. One
// port runs in this process; several ports run in child processes of this
// program (one each, with --json), whose lines this process shows or
// passes on.
#include "cli/job.h"

#include <atomic>
#include <cctype>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <mutex>
#include <thread>

#include "cli/cli.h"
#include "core/runreport.h"
#include "core/scan.h"
#include "core/startup.h"
#include "firmware/mdl.h"
#include "platform/console.h"
#include "platform/process.h"
#include "protocol/mdl_pc.h"
#include "support/log.h"
#include "support/sha256.h"

namespace
{

const char *const cli_job_names[] = {"upload", "verify", "read"};

// The human view of a run on one port: bars on a terminal, plain lines
// otherwise. All calls come from the worker thread; the main thread writes
// only after the worker has ended, or once to stderr when a stop was asked
// for (the groups no longer change then).
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
        Draw(group, false);
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
        std::string line = RunProgressLine(g.label, g.bar, elapsed, RunTimeLeft(elapsed, g.bar),
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

std::atomic<UploadRun *> cli_active_run{nullptr};
std::atomic<bool> cli_stop{false};

void cli_on_stop(void)
{
    cli_stop.store(true);
    UploadRun *run = cli_active_run.load();
    if (run)
        run->RequestStop();
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

bool cli_ask_yes(const char *question)
{
    std::fprintf(stderr, "%s [y/N] ", question);
    std::fflush(stderr);
    char answer[32];
    if (!std::fgets(answer, sizeof answer, stdin))
        return false;
    size_t n = std::strcspn(answer, "\r\n");
    answer[n] = '\0';
    for (char *p = answer; *p; p++)
        *p = (char)std::tolower((unsigned char)*p);
    return std::strcmp(answer, "y") == 0 || std::strcmp(answer, "yes") == 0;
}

// A question the dialog asks before a run (No by default): yes with --yes,
// asked on a terminal, refused without one.
bool cli_confirm(const char *question, bool yes)
{
    if (yes)
        return true;
    if (PlatIsTerminal(stdin))
        return cli_ask_yes(question);
    std::fprintf(stderr, "%s\n\nmirdel-cli: no terminal to ask on; give --yes to upload anyway\n",
                 question);
    return false;
}

int cli_exit_status(UploadResult result)
{
    switch (result) {
    case UPLOAD_OK:
        return CLI_EXIT_OK;
    case UPLOAD_STOPPED:
    case VERIFY_STOPPED:
        return CLI_EXIT_STOPPED;
    case UPLOAD_TIMEOUT:
        return CLI_EXIT_TIMEOUT;
    default:
        return CLI_EXIT_FAILED;
    }
}

void cli_drop_log_line(const char *, bool) {}

// --debug: the console channel on stderr. A message that continues the one
// before it starts with a line feed; one line each reads better here.
void cli_show_log_line(const char *line, bool)
{
    std::fprintf(stderr, "%s\n", line[0] == '\n' ? line + 1 : line);
}

// A whole number in C notation (0x for hexadecimal) within [low, high].
bool cli_number(const char *text, unsigned long long low, unsigned long long high,
                unsigned long long &value)
{
    if (!*text || *text == '-' || *text == '+')
        return false;
    char *end = nullptr;
    errno = 0;
    value = std::strtoull(text, &end, 0);
    return *end == '\0' && errno == 0 && value >= low && value <= high;
}

// The file's size and digest for the record; left empty when unknown.
void cli_file_facts(const std::string &path, RunRecord &record)
{
    std::error_code ec;
    uintmax_t size = std::filesystem::file_size(path, ec);
    record.fileSize = ec ? 0 : (uint64_t)size;
    std::string error;
    if (!Sha256File(path.c_str(), record.fileSha256, error))
        record.fileSha256.clear();
}

// The record of a run on port that begins now.
RunRecord cli_record(const CliJobOptions &o, const Firmware &firmware, const std::string &port)
{
    RunRecord r;
    r.job = o.job;
    r.port = port;
    r.firmware = o.job == RUN_JOB_READ ? nullptr : &firmware;
    r.read = o.read;
    r.filePath = o.job == RUN_JOB_READ ? o.read.path : o.path;
    r.startTime = RunWallClock::now();
    return r;
}

// Completes the record of a run that ended now; returns its JSON line.
std::string cli_record_line(RunRecord &r, bool ran, UploadResult result, int status,
                            int errorCode, const std::string &errorText,
                            const std::string &outcome)
{
    r.ran = ran;
    r.result = result;
    r.exitStatus = status;
    r.errorCode = errorCode;
    r.errorText = errorText;
    r.outcome = outcome;
    r.endTime = RunWallClock::now();
    r.finished = RunClock::now();
    if (ran || r.job != RUN_JOB_READ) // a read-back that never ran wrote nothing
        cli_file_facts(r.filePath, r);
    return RunRecordJson(r);
}

// The run on one port, in this process.
int cli_run_port(const CliJobOptions &o, const Firmware &firmware, const std::string &port)
{
    RunRecord record = cli_record(o, firmware, port);
    std::string message;
    SioPort *sio = RunOpenPort(port, message);
    if (!sio) {
        char text[1024];
        std::snprintf(text, sizeof text, RUN_OPEN_FAILED_FORMAT, message.c_str());
        if (o.json) {
            std::printf("%s\n", cli_record_line(record, false, UPLOAD_FAILED, CLI_EXIT_PORT, -1,
                                                message, text).c_str());
        } else {
            std::fprintf(stderr, "%s\n", text);
        }
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
    RunOptions options;
    options.job = o.job;
    options.verify = o.verify;
    options.read = o.read;
    UploadRun run(firmware, o.path, view, options);
    cli_active_run.store(&run);

    int status;
    bool started = run.Start(sio);
    if (started && cli_stop.load()) // asked before the run existed
        run.RequestStop();
    if (!started) {
        std::fprintf(stderr, "mirdel-cli: the %s could not be started\n", cli_job_names[o.job]);
        status = CLI_EXIT_FAILED;
    } else {
        bool told = o.json; // JSON lines say it in the result
        while (run.WorkerRunning()) {
            if (run.StopRequested() && !told) {
                std::fprintf(stderr, "\nStop requested: the run ends at its next step.\n");
                told = true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        run.Join();
        UploadResult result = o.json ? json.Result() : human.Result();
        RunOutcome outcome =
            RunJobOutcomeText(o.job, result, run.errorCode, run.errorText, run.mismatch,
                              run.deviceLost);
        status = cli_exit_status(result);
        if (o.json) {
            record.phases = json.Phases();
            std::printf("%s\n", cli_record_line(record, true, result, status, run.errorCode,
                                                run.errorText, outcome.text).c_str());
        } else {
            std::fprintf(result == UPLOAD_OK ? progress : stderr, "%s\n", outcome.text.c_str());
        }
        RunLogOutcome(result, run.errorText);
    }
    cli_active_run.store(nullptr);
    return status;
}

// One child's state as its lines tell it.
struct CliChild {
    std::string port;
    PlatProcess *process = nullptr;
    bool open = false; // its output has not ended
    int status = CLI_EXIT_FAILED;
    RunLineState state;
    int printed = -1;    // plain output: the last percentage written
    std::string outcome; // from its result line, or why there is none
    RunClock::time_point start, end;
};

struct CliLine {
    size_t child;
    std::string text;
    bool end; // the child's output ended
};

// The lines of all children, as their reader threads hand them over.
struct CliLineQueue {
    std::mutex lock;
    std::condition_variable ready;
    std::deque<CliLine> lines;

    void Put(CliLine line)
    {
        std::lock_guard<std::mutex> hold(lock);
        lines.push_back(std::move(line));
        ready.notify_one();
    }
};

void cli_read_child(FILE *in, size_t index, CliLineQueue &queue)
{
    std::string line;
    char buf[4096];
    while (std::fgets(buf, sizeof buf, in)) {
        line += buf;
        if (line.back() != '\n')
            continue;
        line.pop_back();
        queue.Put({index, line, false});
        line.clear();
    }
    if (!line.empty())
        queue.Put({index, line, false});
    queue.Put({index, "", true});
}

// Each port's lines prefixed with its name, so that a log stays readable.
void cli_plain_event(CliChild &c, const std::string &event)
{
    std::string label = RunPhaseLabel(c.state.phase);
    int percent = (c.state.bar + 50) / 100;
    if (event == "phase_start") {
        std::printf("%s:%s ...\n", c.port.c_str(), label.c_str());
        c.printed = -1;
    } else if (event == "phase_end") {
        std::printf("%s:%s ... done.\n", c.port.c_str(), label.c_str());
    } else if (event == "progress" && percent / 10 != c.printed / 10 && percent >= 10) {
        c.printed = percent;
        std::printf("%s:%s %d%%\n", c.port.c_str(), label.c_str(), percent);
    }
    std::fflush(stdout);
}

// The terminal's rows, one per port, drawn over the previous drawing.
void cli_draw_rows(const std::vector<CliChild> &children, size_t portWidth, bool again)
{
    int width = PlatTerminalWidth(stdout);
    width = (width > 0 ? width : 80) - 1;
    if (again)
        std::printf("\x1b[%zuA", children.size());
    for (const CliChild &c : children) {
        std::string label = c.port + std::string(portWidth - c.port.size() + 1, ' ');
        std::string line;
        if (!c.outcome.empty()) {
            line = label + " " + c.outcome.substr(0, c.outcome.find('\n'));
            if ((int)line.size() > width)
                line.resize((size_t)(width > 0 ? width : 0));
        } else {
            const RunLineState &st = c.state;
            std::string phase = st.phase.empty() ? " starting ..."
                                : RunPhaseLabel(st.phase) + (st.phaseDone ? RUN_LABEL_DONE : RUN_LABEL_BUSY);
            line = RunProgressLine(label + phase, st.bar, st.elapsed, st.left, width);
        }
        std::printf("\r%s\x1b[K\n", line.c_str());
    }
    std::fflush(stdout);
}

// The outcome on one line: its line breaks as blanks.
std::string cli_one_line(const std::string &text)
{
    std::string out;
    for (char ch : text) {
        if (ch == '\n') {
            if (!out.empty() && out.back() != ' ')
                out += ' ';
        } else {
            out += ch;
        }
    }
    return out;
}

// The result line of a run that could not give its own.
std::string cli_lost_result(const CliJobOptions &o, const Firmware &firmware,
                            const std::string &port, const std::string &text,
                            RunWallClock::time_point start)
{
    RunRecord record = cli_record(o, firmware, port);
    record.startTime = start;
    return cli_record_line(record, true, UPLOAD_FAILED, CLI_EXIT_FAILED, -1, text, text);
}

int cli_run_parallel(const CliJobOptions &o, const Firmware &firmware)
{
    RunWallClock::time_point wallStart = RunWallClock::now();
    std::string self = PlatSelfPath("mirdel-cli");
    bool terminal = !o.json && PlatIsTerminal(stdout) && PlatEnableTerminalControls(stdout);
    std::vector<CliChild> children(o.ports.size());
    std::vector<std::thread> readers;
    CliLineQueue queue;
    size_t portWidth = 4;
    for (const std::string &p : o.ports)
        portWidth = p.size() > portWidth ? p.size() : portWidth;

    for (size_t i = 0; i < o.ports.size(); i++) {
        CliChild &c = children[i];
        c.port = o.ports[i];
        // The checks were made here once: the children do not ask again.
        std::vector<std::string> args = {"mirdel-cli", cli_job_names[o.job], "--json", "--port", c.port};
        if (o.job == RUN_JOB_UPLOAD) {
            args.push_back("--yes");
            if (!o.verify)
                args.push_back("--no-verify");
        }
        if (o.debug)
            args.push_back("--debug");
        if (!o.logFile.empty()) {
            args.push_back("-l");
            args.push_back(o.logFile);
        }
        args.push_back("--");
        args.push_back(o.path);
        std::string error;
        c.start = RunClock::now();
        c.process = PlatProcessStart(self, args, error);
        if (!c.process) {
            c.outcome = "mirdel-cli: cannot start the run for " + c.port + ": " + error;
            c.end = RunClock::now();
            continue;
        }
        c.open = true;
        readers.emplace_back(cli_read_child, PlatProcessOutput(c.process), i, std::ref(queue));
    }

    if (terminal)
        cli_draw_rows(children, portWidth, false);
    bool stopPassed = false;
    size_t open = 0;
    for (const CliChild &c : children)
        open += c.open ? 1 : 0;
    RunClock::time_point lastDraw = RunClock::now();
    while (open > 0) {
        std::deque<CliLine> lines;
        {
            std::unique_lock<std::mutex> hold(queue.lock);
            queue.ready.wait_for(hold, std::chrono::milliseconds(100),
                                 [&] { return !queue.lines.empty(); });
            lines.swap(queue.lines);
        }
        if (cli_stop.load() && !stopPassed) {
            stopPassed = true;
            for (CliChild &c : children)
                if (c.open)
                    PlatProcessStop(c.process);
            if (!o.json)
                std::fprintf(stderr, "\nStop requested: the runs end at their next step.\n");
            if (terminal) // the rows begin again below the message
                cli_draw_rows(children, portWidth, false);
        }
        for (CliLine &l : lines) {
            CliChild &c = children[l.child];
            if (l.end) {
                c.open = false;
                c.end = RunClock::now();
                open--;
                continue;
            }
            std::string event = RunLineTake(c.state, l.text);
            if (event == "result") {
                c.outcome = c.state.outcome;
                c.status = c.state.exitStatus;
            }
            if (o.json) {
                std::printf("%s\n", l.text.c_str());
                std::fflush(stdout);
            } else if (!terminal) {
                cli_plain_event(c, event);
            }
        }
        if (terminal && RunClock::now() - lastDraw >= std::chrono::milliseconds(100)) {
            cli_draw_rows(children, portWidth, true);
            lastDraw = RunClock::now();
        }
    }
    for (std::thread &t : readers)
        t.join();
    std::vector<int> statuses;
    for (CliChild &c : children) {
        if (c.process) {
            int status = PlatProcessWait(c.process);
            // A child that ended without its result line failed as a whole.
            if (c.outcome.empty() || status < 0) {
                if (c.outcome.empty()) {
                    c.outcome = "mirdel-cli: the run for " + c.port + " ended without a result";
                    if (o.json)
                        std::printf("%s\n", cli_lost_result(o, firmware, c.port, c.outcome,
                                                            wallStart).c_str());
                }
                status = status < 0 || status == 0 ? CLI_EXIT_FAILED : status;
            }
            c.status = status;
        } else if (o.json) {
            std::printf("%s\n", cli_lost_result(o, firmware, c.port, c.outcome, wallStart).c_str());
        }
        statuses.push_back(c.status);
    }
    if (terminal)
        cli_draw_rows(children, portWidth, true);

    if (!o.json) {
        std::printf("\n%-*s  %-8s  %s\n", (int)portWidth, "Port", "Time", "Outcome");
        for (const CliChild &c : children) {
            double seconds = std::chrono::duration<double>(c.end - c.start).count();
            std::printf("%-*s  %-8s  %s\n", (int)portWidth, c.port.c_str(),
                        RunDurationText(seconds).c_str(), cli_one_line(c.outcome).c_str());
        }
        // The whole text of every run that did not succeed.
        for (const CliChild &c : children)
            if (c.status != CLI_EXIT_OK)
                std::fprintf(stderr, "\n%s:\n%s\n", c.port.c_str(), c.outcome.c_str());
    }
    return CliWorstStatus(statuses);
}

} // namespace

int CliWorstStatus(const std::vector<int> &statuses)
{
    // A failed or timed-out run may have left an instrument half written;
    // a port that did not open left it untouched; a stop was asked for.
    static const int order[] = {CLI_EXIT_FAILED, CLI_EXIT_TIMEOUT, CLI_EXIT_PORT, CLI_EXIT_FILE,
                                CLI_EXIT_OUTPUT, CLI_EXIT_STOPPED};
    for (int severe : order)
        for (int s : statuses)
            if (s == severe)
                return s;
    for (int s : statuses)
        if (s != CLI_EXIT_OK)
            return CLI_EXIT_FAILED;
    return CLI_EXIT_OK;
}

int CliParseJob(const char *command, int argc, char **argv, CliJobOptions &o)
{
    bool options = true, readJob = o.job == RUN_JOB_READ;
    bool address = false, length = false, output = false;
    for (int i = 0; i < argc; i++) {
        const char *a = argv[i];
        const char *value = nullptr;
        // Options with a value, as "--opt VALUE" or "--opt=VALUE".
        static const char *const valued[] = {"--port", "-l", "--address", "--length", "-o"};
        const char *named = nullptr;
        for (const char *v : valued) {
            size_t n = std::strlen(v);
            if (options && std::strcmp(a, v) == 0) {
                if (i + 1 >= argc)
                    return CliUsageError(command, "option '%s' needs an argument", a);
                named = v;
                value = argv[++i];
            } else if (options && v[1] == '-' && std::strncmp(a, v, n) == 0 && a[n] == '=') {
                named = v;
                value = a + n + 1;
            }
            if (named)
                break;
        }
        if (options && std::strcmp(a, "--") == 0) {
            options = false;
        } else if (named && std::strcmp(named, "--port") == 0) {
            if (!*value)
                return CliUsageError(command, "empty port name");
            o.ports.push_back(value);
        } else if (named && std::strcmp(named, "-l") == 0) {
            o.logFile = value;
        } else if (named && readJob && std::strcmp(named, "--address") == 0) {
            unsigned long long v;
            if (!cli_number(value, 0, 0xFFFFFFFFull, v))
                return CliUsageError(command, "'%s': not a flash address (0 to 0xFFFFFFFF)", value);
            o.read.address = (uint32_t)v;
            address = true;
        } else if (named && readJob && std::strcmp(named, "--length") == 0) {
            unsigned long long v;
            if (!cli_number(value, 1, INT32_MAX, v))
                return CliUsageError(command, "'%s': not a length (1 to %d bytes)", value, INT32_MAX);
            o.read.length = (int32_t)v;
            length = true;
        } else if (named && readJob && std::strcmp(named, "-o") == 0) {
            o.read.path = value;
            output = true;
        } else if (options && std::strcmp(a, "--json") == 0) {
            o.json = true;
        } else if (options && readJob && std::strcmp(a, "--binary") == 0) {
            o.read.binary = true;
        } else if (options && o.job == RUN_JOB_UPLOAD && std::strcmp(a, "--no-verify") == 0) {
            o.verify = false;
        } else if (options && o.job == RUN_JOB_UPLOAD && std::strcmp(a, "--yes") == 0) {
            o.yes = true;
        } else if (options && std::strcmp(a, "--debug") == 0) {
            o.debug = true;
        } else if (options && std::strcmp(a, "-v") == 0) {
            // accepted, as by the desktop program
        } else if (options && a[0] == '-' && a[1] != '\0') {
            return CliUsageError(command, "unknown option '%s'", a);
        } else if (readJob) {
            return CliUsageError(command, "unexpected argument '%s'", a);
        } else if (!o.path.empty()) {
            return CliUsageError(command, "more than one file given");
        } else {
            o.path = a;
        }
    }
    if (o.ports.empty())
        return CliUsageError(command, "no port given (--port NAME)");
    if (readJob) {
        if (!address || !length)
            return CliUsageError(command, "the range is needed (--address A --length N)");
        if (!output || o.read.path.empty())
            o.read.path = "-";
        if (o.ports.size() > 1)
            return CliUsageError(command, "one port at a time");
        if (o.json && o.read.path == "-")
            return CliUsageError(command, "--json writes to standard output: give -o FILE");
    } else if (o.path.empty()) {
        return CliUsageError(command, "no firmware file given");
    }
    return -1;
}

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
    cli_stop.store(false);
    PlatInstallStopHandler(cli_on_stop);
    int status = CLI_EXIT_OK;
    Firmware firmware{};
    ScanFileInfo info;
    std::string message;
    bool fileJob = o.job != RUN_JOB_READ;
    // A refusal is told on stderr; a question needs a yes.
    auto checksPassed = [&firmware, &o]() {
        for (const RunCheck &check : RunUploadChecks(firmware)) {
            if (check.kind == RUN_CHECK_REFUSE) {
                std::fprintf(stderr, "%s", check.text.c_str());
                return false;
            }
            if (!cli_confirm(check.text.c_str(), o.yes))
                return false;
        }
        return true;
    };
    if (fileJob && !ScanFirmwareFile(o.path.c_str(), &firmware, &info, &message)) {
        std::fprintf(stderr, "%s\n", ScanReportError(message).c_str());
        status = CLI_EXIT_FILE;
    } else if (o.job == RUN_JOB_UPLOAD && !checksPassed()) {
        status = CLI_EXIT_FILE;
    } else if (o.ports.size() > 1) {
        status = cli_run_parallel(o, firmware);
    } else {
        status = cli_run_port(o, firmware, o.ports[0]);
    }
    MdlFirmwareRelease(&firmware);
    if (!o.logFile.empty())
        StartupTrace(STARTUP_TRACE_END);
    status = CliFinishOutput(status); // a closed output is told, not a signal's death
    PlatRemoveStopHandler();
    return status;
}
