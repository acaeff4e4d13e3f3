// Timing, terminal progress lines and JSON lines of a run.
#include "core/runreport.h"

#include <cmath>
#include <filesystem>

#include "core/scan.h"
#include "firmware/mdl.h"
#include "support/json.h"
#include "support/sha256.h"

int RunExitStatus(UploadResult result)
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

int RunWorstStatus(const std::vector<int> &statuses)
{
    // A failed or timed-out run may have left an instrument half written;
    // a port that did not open left it untouched; a stop was asked for.
    static const int order[] = {CLI_EXIT_FAILED, CLI_EXIT_TIMEOUT, CLI_EXIT_PORT,
                                CLI_EXIT_FILE,   CLI_EXIT_OUTPUT,  CLI_EXIT_STOPPED};
    for (int severe : order)
        for (int s : statuses)
            if (s == severe)
                return s;
    for (int s : statuses)
        if (s != CLI_EXIT_OK)
            return CLI_EXIT_FAILED;
    return CLI_EXIT_OK;
}

std::string RunIsoTime(RunWallClock::time_point t)
{
    using namespace std::chrono;
    auto ms = time_point_cast<milliseconds>(t);
    auto day = floor<days>(ms);
    year_month_day ymd{day};
    hh_mm_ss<milliseconds> hms{ms - day};
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", (int)ymd.year(),
                  (unsigned)ymd.month(), (unsigned)ymd.day(), (int)hms.hours().count(),
                  (int)hms.minutes().count(), (int)hms.seconds().count(),
                  (int)hms.subseconds().count());
    return text;
}

std::string RunDurationText(double seconds)
{
    if (!(seconds >= 0) || seconds > 359999)
        return "-:--";
    long s = std::lround(seconds);
    char text[32];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

double RunTimeLeft(double elapsed, int barPosition)
{
    if (barPosition >= RUN_BAR_MAX)
        return 0;
    // Below half a percent or a second the pace says too little.
    if (barPosition < 50 || elapsed < 1.0)
        return -1;
    return elapsed * (RUN_BAR_MAX - barPosition) / barPosition;
}

std::string RunProgressLine(const std::string &label, int barPosition, double elapsed,
                            double left, int width)
{
    if (barPosition < 0)
        barPosition = 0;
    char tail[64];
    std::snprintf(tail, sizeof tail, " %3d%% %s left %s", (barPosition + 50) / 100,
                  RunDurationText(elapsed).c_str(), RunDurationText(left).c_str());
    std::string line = label;
    int room = width - (int)line.size() - (int)std::string(tail).size() - 3; // " [" and "]"
    if (room >= 10) {
        int cells = room > 40 ? 40 : room;
        int full = (int)((int64_t)(barPosition > RUN_BAR_MAX ? RUN_BAR_MAX : barPosition) * cells /
                         RUN_BAR_MAX);
        line += " [" + std::string((size_t)full, '#') + std::string((size_t)(cells - full), '.') + "]";
    }
    line += tail;
    if (width > 0 && (int)line.size() > width)
        line.resize((size_t)width);
    return line;
}

const char *RunPhaseName(RunJob job, int group)
{
    static const char *const names[RUN_GROUP_COUNT] = {"upload", "flash", "verify"};
    if (group == RUN_GROUP_VERIFY && job == RUN_JOB_READ)
        return "read";
    return group >= 0 && group < RUN_GROUP_COUNT ? names[group] : "";
}

const char *RunResultName(UploadResult result)
{
    switch (result) {
    case UPLOAD_OK: return "UPLOAD_OK";
    case UPLOAD_STOPPED: return "UPLOAD_STOPPED";
    case VERIFY_STOPPED: return "VERIFY_STOPPED";
    case UPLOAD_FAILED: return "UPLOAD_FAILED";
    case UPLOAD_TIMEOUT: return "UPLOAD_TIMEOUT";
    }
    return "UPLOAD_FAILED";
}

void RunPhaseTimes::Start(int group, RunClock::time_point now)
{
    started[group] = true;
    ended[group] = false;
    start[group] = now;
}

void RunPhaseTimes::End(int group, RunClock::time_point now)
{
    if (started[group]) {
        ended[group] = true;
        end[group] = now;
    }
}

double RunPhaseTimes::Elapsed(int group, RunClock::time_point now) const
{
    if (!started[group])
        return -1;
    return std::chrono::duration<double>((ended[group] ? end[group] : now) - start[group]).count();
}

std::string RunRecordJson(const RunRecord &r)
{
    std::string images = "[";
    if (r.firmware) {
        for (int32_t i = 0; i < r.firmware->imageCount; i++) {
            const FirmwareImage &image = r.firmware->images[i];
            std::string segments = "[";
            for (int32_t j = 0; j < image.segmentCount; j++) {
                JsonObject s;
                s.Add("flash_address", MdlFlashAddress(&image, &image.segments[j]))
                    .Add("size", image.segments[j].size);
                segments += (j ? "," : "") + s.Text();
            }
            JsonObject o;
            o.Add("name", image.name)
                .Add("base_address", (uint32_t)image.baseAddress)
                .AddRaw("segments", segments + "]");
            images += (i ? "," : "") + o.Text();
        }
    }
    images += "]";

    // Phases that ran: their time; a phase cut short counts to the end.
    JsonObject seconds;
    for (int g = 0; g < RUN_GROUP_COUNT; g++) {
        const RunPhaseTimes &t = r.phases;
        if (!t.started[g])
            seconds.AddNull(RunPhaseName(r.job, g));
        else
            seconds.Add(RunPhaseName(r.job, g),
                        std::chrono::duration<double>((t.ended[g] ? t.end[g] : r.finished) -
                                                      t.start[g])
                            .count());
    }

    static const char *const commands[] = {"upload", "verify", "read"};
    JsonObject o;
    o.Add("event", "result").Add("command", commands[r.job]).Add("port", r.port);
    o.Add("file_path", r.filePath).Add("file_size", r.fileSize);
    if (r.fileSha256.empty())
        o.AddNull("file_sha256");
    else
        o.Add("file_sha256", r.fileSha256);
    o.Add("total_size", r.firmware ? r.firmware->totalSize : 0u).AddRaw("images", images);
    if (r.job == RUN_JOB_READ)
        o.Add("address", r.read.address).Add("length", (int64_t)r.read.length).Add("binary", r.read.binary);
    else
        o.AddNull("address").AddNull("length").AddNull("binary");
    if (r.backupFile.empty())
        o.AddNull("backup_file");
    else
        o.Add("backup_file", r.backupFile);
    o.Add("result", r.ran ? RunResultName(r.result) : "PORT_FAILED")
        .Add("exit_status", r.exitStatus)
        .Add("error_code", r.errorCode)
        .Add("error_text", r.errorText)
        .Add("outcome", r.outcome)
        .Add("start_time", RunIsoTime(r.startTime))
        .Add("end_time", RunIsoTime(r.endTime))
        .AddRaw("seconds", seconds.Text());
    return o.Text();
}

RunRecord RunRecordBegin(const RunOptions &options, const std::string &port,
                         const Firmware &firmware, const std::string &path)
{
    RunRecord r;
    r.job = options.job;
    r.port = port;
    r.firmware = options.job == RUN_JOB_READ ? nullptr : &firmware;
    r.read = options.read;
    const std::string &file = options.job == RUN_JOB_READ ? options.read.path : path;
    r.filePath = file == "-" ? file : ScanAbsolutePath(file); // "-": standard output
    r.startTime = RunWallClock::now();
    return r;
}

static std::string run_record_end(RunRecord &r, bool ran, UploadResult result, int exitStatus,
                                  int errorCode, const std::string &errorText,
                                  const std::string &outcome)
{
    r.ran = ran;
    r.result = result;
    r.exitStatus = exitStatus;
    r.errorCode = errorCode;
    r.errorText = errorText;
    r.outcome = outcome;
    r.endTime = RunWallClock::now();
    r.finished = RunClock::now();
    // The file's size and digest, left empty when unknown; a read-back that
    // never ran wrote nothing.
    if (ran || r.job != RUN_JOB_READ) {
        std::error_code ec;
        uintmax_t size = std::filesystem::file_size(ScanFsPath(r.filePath), ec);
        r.fileSize = ec ? 0 : (uint64_t)size;
        std::string error;
        if (!Sha256File(r.filePath.c_str(), r.fileSha256, error))
            r.fileSha256.clear();
    }
    return RunRecordJson(r);
}

std::string RunRecordFinish(RunRecord &r, const UploadRun &run, UploadResult result,
                            const RunPhaseTimes &phases)
{
    RunOutcome outcome = RunJobOutcomeText(run.Job(), result, run.errorCode, run.errorText,
                                           run.mismatch, run.deviceLost);
    r.phases = phases;
    r.backupFile = run.backupFile.empty() ? "" : ScanAbsolutePath(run.backupFile);
    return run_record_end(r, true, result, RunExitStatus(result), run.errorCode, run.errorText,
                          outcome.text);
}

std::string RunRecordFail(RunRecord &r, bool ran, int exitStatus, const std::string &errorText,
                          const std::string &outcome)
{
    return run_record_end(r, ran, UPLOAD_FAILED, exitStatus, -1, errorText, outcome);
}

RunJsonView::RunJsonView(FILE *out, const std::string &port, RunJob job)
    : out_(out), port_(port), job_(job)
{
}

void RunJsonView::Emit(const std::string &line)
{
    std::fputs(line.c_str(), out_);
    std::fputc('\n', out_);
    std::fflush(out_);
}

void RunJsonView::Phase(int group, bool start)
{
    RunClock::time_point now = RunClock::now();
    if (start)
        phases_.Start(group, now);
    else
        phases_.End(group, now);
    JsonObject o;
    o.Add("event", start ? "phase_start" : "phase_end")
        .Add("port", port_)
        .Add("phase", RunPhaseName(job_, group))
        .Add("time", RunIsoTime(RunWallClock::now()));
    if (!start)
        o.Add("seconds", phases_.Elapsed(group, now));
    lastProgress_[group] = now;
    Emit(o.Text());
}

void RunJsonView::PhaseProgress(int group, const RunStep &step)
{
    int position = step.bar;
    RunClock::time_point now = RunClock::now();
    if (now - lastProgress_[group] < std::chrono::milliseconds(250))
        return;
    lastProgress_[group] = now;
    double elapsed = phases_.Elapsed(group, now);
    double left = RunTimeLeft(elapsed, position);
    JsonObject o;
    o.Add("event", "progress")
        .Add("port", port_)
        .Add("phase", RunPhaseName(job_, group))
        .Add("percent", position / 100.0)
        .Add("elapsed", elapsed)
        .Add("resends", step.resends);
    if (left < 0)
        o.AddNull("left");
    else
        o.Add("left", left);
    Emit(o.Text());
}

std::string RunLineTake(RunLineState &state, const std::string &line)
{
    std::string event, phase;
    double number;
    if (!JsonGetString(line, "event", event))
        return "";
    JsonGetString(line, "phase", phase);
    if (event == "phase_start") {
        state.phase = phase;
        state.phaseDone = false;
        state.bar = 0;
        state.resends = 0;
        state.elapsed = state.left = -1;
    } else if (event == "phase_end") {
        state.phase = phase;
        state.phaseDone = true;
        state.bar = RUN_BAR_MAX;
        state.left = 0;
        if (JsonGetNumber(line, "seconds", number))
            state.elapsed = number;
    } else if (event == "progress") {
        if (JsonGetNumber(line, "percent", number))
            state.bar = (int)(number * 100 + 0.5);
        state.elapsed = JsonGetNumber(line, "elapsed", number) ? number : -1;
        state.left = JsonGetNumber(line, "left", number) ? number : -1;
        state.resends = JsonGetNumber(line, "resends", number) ? (uint32_t)number : 0;
    } else if (event == "result") {
        state.finished = true;
        JsonGetString(line, "outcome", state.outcome);
        state.exitStatus = JsonGetNumber(line, "exit_status", number) ? (int)number : -1;
    } else {
        return "";
    }
    return event;
}

std::string RunPhaseLabel(const std::string &phase)
{
    for (RunJob job : {RUN_JOB_UPLOAD, RUN_JOB_READ})
        for (int g = 0; g < RUN_GROUP_COUNT; g++)
            if (phase == RunPhaseName(job, g))
                return RunGroupLabel(job, g);
    return " " + phase;
}
