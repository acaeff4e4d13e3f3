// Reports of a run for the command-line tool: the timing of the three
// phases, the progress line of a terminal, and the JSON lines a script
// reads (the events of a run and the record of its result).
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "core/run.h"

struct Firmware;

// The command-line tool's exit statuses; the station reads them back from
// the children it starts.
enum {
    CLI_EXIT_OK = 0,
    CLI_EXIT_STOPPED = 1, // the user stopped the upload or the verification
    CLI_EXIT_FAILED = 2,  // the upload failed
    CLI_EXIT_TIMEOUT = 3, // the instrument did not answer in time
    CLI_EXIT_FILE = 4,    // the firmware file cannot be read or is faulty, or a check failed
    CLI_EXIT_PORT = 5,    // the serial port cannot be opened
    CLI_EXIT_USAGE = 64,  // wrong command line
    CLI_EXIT_OUTPUT = 74, // the results could not be written
};
// The exit status of a run that ended with result.
int RunExitStatus(UploadResult result);
// The overall status of several runs: 0 when all are 0, otherwise the most
// severe: failed, time-out, port not opened, file, output, stopped.
int RunWorstStatus(const std::vector<int> &statuses);

using RunClock = std::chrono::steady_clock;
using RunWallClock = std::chrono::system_clock;

// "2026-12-08T09:15:02.123Z"
std::string RunIsoTime(RunWallClock::time_point t);
// Seconds as "m:ss", or "h:mm:ss" from an hour on; negative: "-:--".
std::string RunDurationText(double seconds);
// The time a phase still needs at its pace so far; -1 when not known yet
// (too little done or too little time passed to tell).
double RunTimeLeft(double elapsed, int barPosition);

// One terminal line of a phase, at most width characters: the label, a bar
// as wide as the room allows, the percent, the elapsed time and the time
// left ("left -:--" while unknown). Parts are dropped from the right when
// the line is narrow, the bar first.
std::string RunProgressLine(const std::string &label, int barPosition, double elapsed,
                            double left, int width);

// The name of a phase in JSON: upload, flash, verify (read for a read-back).
const char *RunPhaseName(RunJob job, int group);
// UPLOAD_OK and the other result names.
const char *RunResultName(UploadResult result);

// When each group started and ended, as the run's events tell.
struct RunPhaseTimes {
    bool started[RUN_GROUP_COUNT] = {};
    bool ended[RUN_GROUP_COUNT] = {};
    RunClock::time_point start[RUN_GROUP_COUNT], end[RUN_GROUP_COUNT];

    void Start(int group, RunClock::time_point now);
    void End(int group, RunClock::time_point now); // a phase that never started stays so
    double Elapsed(int group, RunClock::time_point now) const;
};

// What the final JSON object tells of one port's run.
struct RunRecord {
    RunJob job = RUN_JOB_UPLOAD;
    std::string port;
    std::string filePath; // the firmware file's absolute path; for a read-back the output's
    uint64_t fileSize = 0;
    std::string fileSha256;       // empty: not known
    const Firmware *firmware = nullptr; // images and segments; none for a read-back
    RunReadRequest read;          // a read-back's range
    std::string backupFile;       // what an upload's backup wrote (empty: none)
    bool ran = false;             // false: the port could not be opened
    UploadResult result = UPLOAD_FAILED;
    int exitStatus = 0;
    int errorCode = -1;
    std::string errorText;
    std::string outcome;
    RunWallClock::time_point startTime, endTime;
    RunPhaseTimes phases;
    RunClock::time_point finished; // when the run ended, for phases cut short
};

// The final object, one line without its line end.
std::string RunRecordJson(const RunRecord &record);
// The record of a run on port that begins now: of the firmware file at
// path, or for a read-back (firmware unused) of the output options name.
RunRecord RunRecordBegin(const RunOptions &options, const std::string &port,
                         const Firmware &firmware, const std::string &path);
// Completes the record of a run that ended now with result, as run tells
// it, the phases timed as given; returns its JSON line.
std::string RunRecordFinish(RunRecord &record, const UploadRun &run, UploadResult result,
                            const RunPhaseTimes &phases);
// Completes the record of a run that failed without a result of its own:
// its port did not open (ran false), or it gave none; returns its JSON line.
std::string RunRecordFail(RunRecord &record, bool ran, int exitStatus, const std::string &errorText,
                          const std::string &outcome);

// The JSON renderer of a run's events: "phase_start", "progress" (at most
// four times a second per phase), "phase_end", one line each, flushed.
class RunJsonView : public RunView
{
  public:
    RunJsonView(FILE *out, const std::string &port, RunJob job);
    void PhaseStarted(int group) override { Phase(group, true); }
    void PhaseProgress(int group, const RunStep &step) override;
    void PhaseEnded(int group) override { Phase(group, false); }
    void RunFinished(UploadResult result) override { result_ = result; }

    UploadResult Result() const { return result_; }
    const RunPhaseTimes &Phases() const { return phases_; }

  private:
    void Phase(int group, bool start);
    void Emit(const std::string &line);

    FILE *out_;
    std::string port_;
    RunJob job_;
    RunPhaseTimes phases_;
    RunClock::time_point lastProgress_[RUN_GROUP_COUNT];
    UploadResult result_ = UPLOAD_FAILED;
};

// One run as its JSON lines tell it: what a display of several runs, each
// in a process of its own, shows of it.
struct RunLineState {
    std::string phase;      // the name of the phase shown; empty before the first
    bool phaseDone = false; // it has ended
    int bar = 0;            // 0..RUN_BAR_MAX
    double elapsed = -1;    // seconds, -1 unknown
    double left = -1;       // seconds, -1 unknown
    uint32_t resends = 0;   // lines of the phase the instrument asked for again
    bool finished = false;  // its result line came
    std::string outcome;
    int exitStatus = -1;
};
// Takes one line into state; returns its event ("phase_start", "progress",
// "phase_end", "result"), or an empty text for a line that is none.
std::string RunLineTake(RunLineState &state, const std::string &line);
// The display label of a phase name: " Uploading", " Writing to flash
// memory", " Verifying", " Reading".
std::string RunPhaseLabel(const std::string &phase);
