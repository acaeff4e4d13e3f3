// The station: a reader thread per child hands its lines over; the station's
// own thread sleeps until a line, the end of an output or a stop comes.
#include "core/station.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

#include "core/scan.h"
#include "core/textfmt.h"
#include "platform/desktop.h"

#include "platform/process.h"

Station::Station(const StationJob &job) : job_(job)
{
    for (const std::string &name : job_.ports) {
        StationPort port;
        port.name = name;
        ports_.push_back(port);
    }
    processes_.resize(ports_.size(), nullptr);
}

void Station::RequestStop()
{
    std::lock_guard<std::mutex> hold(lock_);
    stop_ = stopRequested_ = true;
    ready_.notify_one();
}

bool Station::StopRequested()
{
    std::lock_guard<std::mutex> hold(lock_);
    return stopRequested_;
}

// One line each, appended as it comes: a run that ends the program early
// keeps the others' lines.
void Station::KeepResult(const std::string &line)
{
    if (job_.resultsFile.empty() || line.empty())
        return;
    FILE *f = std::fopen(job_.resultsFile.c_str(), "a");
    if (!f)
        return; // checked before the start; a file taken away since loses the line
    std::fprintf(f, "%s\n", line.c_str());
    std::fclose(f);
}

bool StationCheckJob(const StationJob &job, std::string &message)
{
    FILE *f = std::fopen(job.program.c_str(), "rb");
    if (!f) {
        message = TextFormat("The command-line tool that runs each port is missing:\n\n%s: %s",
                             job.program.c_str(), std::strerror(errno));
        return false;
    }
    std::fclose(f);
    if (!job.resultsFile.empty() && !(f = std::fopen(job.resultsFile.c_str(), "a"))) {
        message = TextFormat("The results file cannot be written:\n\n%s: %s",
                             job.resultsFile.c_str(), std::strerror(errno));
        return false;
    }
    if (f)
        std::fclose(f);
    std::string reason;
    if (!job.backupDir.empty() && job.options.job == RUN_JOB_UPLOAD &&
        !RunFolderWritable(job.backupDir, reason)) {
        message = "The backup folder cannot be written:\n\n" + reason;
        return false;
    }
    return true;
}

std::string StationProgramPath(const std::string &selfPath)
{
    std::string dir = selfPath.substr(0, selfPath.find_last_of("\\/") + 1);
    bool exe = selfPath.size() > 4 && selfPath.compare(selfPath.size() - 4, 4, ".exe") == 0;
    const std::string tool = exe ? "mirdel-cli.exe" : "mirdel-cli";
    const std::string places[] = {dir + tool, dir + "../../bin/" + tool, dir + "../cli/" + tool};
    for (const std::string &place : places) {
        // Walked to by name: a folder on the way need not exist.
        std::string path = ScanAbsolutePath(place);
        if (FILE *f = std::fopen(path.c_str(), "rb")) {
            std::fclose(f);
            return path;
        }
    }
    return places[0];
}

std::string StationDefaultResultsFile()
{
    return PlatDocumentsFolder() + "/mirdel-results.jsonl";
}

StationRow StationRowOf(const StationPort &port, bool stopRequested, RunClock::time_point now)
{
    StationRow row;
    const RunLineState &st = port.state;
    row.bar = port.running ? st.bar : RUN_BAR_MAX;
    bool ended = !port.running && !port.outcome.empty();
    if (ended) {
        row.phase = port.outcome.substr(0, port.outcome.find('\n'));
        row.outcome = port.outcome;
        row.icon = StationStatusIcon(port.status);
        row.bar = port.status == CLI_EXIT_OK ? RUN_BAR_MAX : st.bar;
    } else if (st.phase.empty()) {
        row.phase = " starting ...";
    } else {
        row.phase = RunPhaseLabel(st.phase) + (st.phaseDone ? RUN_LABEL_DONE : RUN_LABEL_BUSY);
        if (stopRequested && st.phase == "flash" && !st.phaseDone)
            row.note = RUN_STOP_FLASH_NOTE;
    }
    row.percent = std::to_string((std::clamp(row.bar, 0, RUN_BAR_MAX) + 50) / 100);
    RunClock::time_point end = port.running || port.end < port.start ? now : port.end;
    row.elapsed = RunDurationText(std::chrono::duration<double>(end - port.start).count());
    return row;
}

RunIcon StationStatusIcon(int exitStatus)
{
    return exitStatus == CLI_EXIT_OK        ? RUN_ICON_INFORMATION
           : exitStatus == CLI_EXIT_STOPPED ? RUN_ICON_EXCLAMATION
                                            : RUN_ICON_STOP;
}

std::string StationSummary(const std::vector<StationPort> &ports)
{
    size_t counts[3] = {};
    for (const StationPort &p : ports)
        counts[p.status == CLI_EXIT_OK ? 0 : p.status == CLI_EXIT_STOPPED ? 1 : 2]++;
    static const char *const words[] = {"succeeded", "stopped", "failed"};
    std::string text;
    for (int i = 0; i < 3; i++)
        if (counts[i])
            text += (text.empty() ? "" : ", ") + std::to_string(counts[i]) + " " + words[i];
    return text;
}

void Station::Put(Line line)
{
    std::lock_guard<std::mutex> hold(lock_);
    lines_.push_back(std::move(line));
    ready_.notify_one();
}

void Station::ReadChild(Station *station, FILE *in, size_t port)
{
    std::string line;
    char buf[4096];
    while (std::fgets(buf, sizeof buf, in)) {
        line += buf;
        if (line.back() != '\n')
            continue;
        line.pop_back();
        station->Put({port, line, false});
        line.clear();
    }
    if (!line.empty())
        station->Put({port, line, false});
    station->Put({port, "", true});
}

std::vector<std::string> Station::ChildArgs(const std::string &port) const
{
    static const char *const names[] = {"upload", "verify", "read"};
    // The checks were made here once: the children do not ask again.
    std::vector<std::string> args = {
        "mirdel-cli", names[job_.options.job], "--json", "--stop-input", "--port", port};
    if (job_.options.job == RUN_JOB_UPLOAD) {
        args.push_back("--yes");
        if (!job_.options.verify)
            args.push_back("--no-verify");
        if (!job_.backupDir.empty())
            args.insert(args.end(), {"--backup", job_.backupDir});
    }
    if (job_.debug)
        args.push_back("--debug");
    if (!job_.logFile.empty()) {
        args.push_back("-l");
        args.push_back(job_.logFile);
    }
    args.push_back("--");
    args.push_back(job_.path);
    return args;
}

int Station::Run(StationView &view)
{
    RunWallClock::time_point wallStart = RunWallClock::now();
    std::vector<std::thread> readers;
    size_t open = 0;
    for (size_t i = 0; i < ports_.size(); i++) {
        StationPort &p = ports_[i];
        std::string error;
        p.start = RunClock::now();
        processes_[i] = PlatProcessStart(job_.program, ChildArgs(p.name), error);
        if (!processes_[i]) {
            p.outcome = "mirdel-cli: cannot start the run for " + p.name + ": " + error;
            p.end = RunClock::now();
            continue;
        }
        p.running = true;
        open++;
        readers.emplace_back(ReadChild, this, PlatProcessOutput(processes_[i]), i);
    }
    view.Begin();

    bool stopPassed = false;
    while (open > 0) {
        std::deque<Line> lines;
        bool stop;
        int delay = view.TickDelay();
        {
            std::unique_lock<std::mutex> hold(lock_);
            auto woken = [&] { return !lines_.empty() || (stop_ && !stopPassed); };
            if (delay < 0)
                ready_.wait(hold, woken);
            else
                ready_.wait_for(hold, std::chrono::milliseconds(delay), woken);
            lines.swap(lines_);
            stop = stop_;
        }
        if (stop && !stopPassed) {
            stopPassed = true;
            std::vector<std::string> notPassed(ports_.size());
            for (size_t i = 0; i < ports_.size(); i++) {
                std::string error;
                if (ports_[i].running && !PlatProcessStop(processes_[i], error))
                    notPassed[i] = error;
            }
            view.StopPassed(notPassed);
        }
        for (Line &l : lines) {
            StationPort &p = ports_[l.port];
            if (l.end) {
                p.running = false;
                p.end = RunClock::now();
                open--;
                continue;
            }
            std::string event = RunLineTake(p.state, l.text);
            if (event == "result") {
                p.outcome = p.state.outcome;
                p.status = p.state.exitStatus;
                KeepResult(l.text);
            }
            view.PortLine(l.port, event, l.text);
        }
        view.Tick();
    }
    for (std::thread &t : readers)
        t.join();

    std::vector<int> statuses;
    for (size_t i = 0; i < ports_.size(); i++) {
        StationPort &p = ports_[i];
        bool lost = !processes_[i];
        if (processes_[i]) {
            int status = PlatProcessWait(processes_[i]);
            processes_[i] = nullptr;
            // A child that ended without its result line failed as a whole.
            if (p.outcome.empty() || status < 0) {
                if (p.outcome.empty()) {
                    p.outcome = "mirdel-cli: the run for " + p.name + " ended without a result";
                    lost = true;
                }
                status = status < 0 || status == 0 ? CLI_EXIT_FAILED : status;
            }
            p.status = status;
        }
        std::string lostResult;
        if (lost) {
            RunRecord record = RunRecordBegin(job_.options, p.name, *job_.firmware, job_.path);
            record.startTime = wallStart;
            lostResult = RunRecordFail(record, true, CLI_EXIT_FAILED, p.outcome, p.outcome);
            KeepResult(lostResult);
        }
        view.PortEnded(i, lostResult);
        statuses.push_back(p.status);
    }
    return RunWorstStatus(statuses);
}

bool StationChecksPass(const StationJob &job, const std::function<bool(const RunCheck &)> &tell)
{
    std::string message;
    if (!StationCheckJob(job, message)) {
        tell({RUN_CHECK_REFUSE, message});
        return false;
    }
    return job.options.job != RUN_JOB_UPLOAD || RunChecksPass(*job.firmware, tell);
}

StationRun::StationRun(const StationJob &job, std::function<void()> wake,
                       std::function<void(int)> done)
    : station_(job), wake_(std::move(wake)), copy_(station_.Ports())
{
    thread_ = std::thread([this, done = std::move(done)] { done(station_.Run(*this)); });
}

StationRun::~StationRun()
{
    if (thread_.joinable()) {
        station_.RequestStop();
        thread_.join();
    }
}

void StationRun::Changed()
{
    {
        std::lock_guard<std::mutex> hold(lock_);
        copy_ = station_.Ports();
        stopRequested_ = station_.StopRequested();
    }
    if (!woken_.exchange(true))
        wake_();
}

std::vector<StationRow> StationRun::Rows()
{
    woken_.store(false);
    std::vector<StationPort> ports;
    bool stopRequested;
    {
        std::lock_guard<std::mutex> hold(lock_);
        ports = copy_;
        stopRequested = stopRequested_;
    }
    std::vector<StationRow> rows;
    RunClock::time_point now = RunClock::now();
    for (const StationPort &port : ports)
        rows.push_back(StationRowOf(port, stopRequested, now));
    return rows;
}

void StationRun::Finish()
{
    if (thread_.joinable())
        thread_.join();
    std::lock_guard<std::mutex> hold(lock_);
    copy_ = station_.Ports();
    stopRequested_ = station_.StopRequested();
}
