// The upload run, free of any window: the checks before a run, opening the
// port, the worker thread that drives MdlUpdate, the progress groups as
// numbers and texts, and the outcome message. The dialog and the
// command-line tool each supply a RunView that shows what the worker
// reports.
#pragma once
#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

struct Firmware;
struct FirmwareImage;
struct FirmwareSegment;
struct SioPort;
struct ScanFileInfo;

enum UploadResult {
    UPLOAD_OK = 0,      // upload, flash writing, verification (if chosen), finish sent
    UPLOAD_STOPPED = 1, // stopped by the user before verification
    VERIFY_STOPPED = 2, // stopped by the user during verification
    UPLOAD_FAILED = 3,  // errorCode and errorText tell why
    UPLOAD_TIMEOUT = 4, // the instrument did not answer in time
};

#define RUN_BAUD_RATE 115200
#define RUN_PORT_TIMEOUT 3000  // ms, the port's default time-out
#define RUN_FLASH_END 0xF0000u // one past the highest flash address
#define RUN_BAR_MAX 10000      // bar steps: a hundredth of a percent each

#define RUN_GROUP_COUNT 3
enum {
    RUN_GROUP_UPLOAD = 0,
    RUN_GROUP_FLASH = 1,
    RUN_GROUP_VERIFY = 2,
};
// " Uploading", " Writing to flash memory", " Verifying".
extern const char *const RunGroupLabels[RUN_GROUP_COUNT];
#define RUN_LABEL_BUSY " ..."
#define RUN_LABEL_DONE " ... done."

// The dialog's title and its Cancel button during a run, and the button's
// text once Stop has been pressed, until the run has ended.
#define RUN_TITLE_RUNNING "Uploading..."
#define RUN_BUTTON_CANCEL "&Cancel"
#define RUN_BUTTON_STOP "Sto&p"
#define RUN_BUTTON_STOPPING "Stopping..."

#define RUN_EXCEEDS_QUESTION                                                                       \
    "WARNING:\nThe selected firmware exceeds the highest possible flash address ($F_0000-1)\n\n"   \
    "Do you want to proceed with firmware upload ?"
#define RUN_NO_DATA_QUESTION "The firmware file holds no data. Upload anyway?"
#define RUN_OPEN_FAILED_FORMAT "Cannot open serial port:\n\n%s"
#define RUN_PORT_IN_USE_ADVICE "The port may be already in use in other application"
// The advice is kept as paragraphs: a message box wraps them to its width,
// the terminal front end with TextWrap. A command to type stands indented
// on a line of its own.
// After a device that does not exist, or that went away during a run.
#define RUN_PORT_MISSING_ADVICE                                                                    \
    "The device is not there: check the cable and the USB serial adapter, and choose a port "      \
    "that exists ('mirdel-cli ports' lists them)."
#define RUN_PORT_LOST_ADVICE                                                                       \
    "The device went away during the run: check the cable and the USB serial adapter, then "       \
    "upload again ('mirdel-cli ports' lists the ports that exist)."
// After a device the user may not open; RunPortAccessAdvice fills them in.
#define RUN_PORT_GROUP_ADVICE                                                                      \
    "You may not open this port: the device belongs to the group '%s'. Join the group, then "      \
    "log out and in again:\n\n    sudo usermod -aG %s $USER"
#define RUN_PORT_OWNER_ADVICE                                                                      \
    "You may not open this port: only its owner '%s' may open the device. Ask the "                \
    "administrator to give it to the group dialout, then join that group and log out and in "      \
    "again:\n\n    sudo usermod -aG dialout $USER"
#define RUN_PORT_ACCESS_ADVICE                                                                     \
    "You may not open this port. Join the group that owns the device (usually dialout), then "     \
    "log out and in again:\n\n    sudo usermod -aG dialout $USER"

// A stop during flash writing takes effect only when the instrument has
// written its flash: the protocol has no way to interrupt the writing.
// That group keeps moving after a stop, with this note beside it; the
// others stand as they were when the stop was seen.
#define RUN_STOP_FLASH_NOTE                                                                        \
    "The stop takes effect when the instrument has finished writing its flash."
bool RunGroupMovesAfterStop(int group);
// The note beside a group that goes on after a stop; null for the others.
const char *RunStopNote(int group);

// Flash range of a segment: its flash address and one past its last byte.
// The end is kept in 64 bits so that a segment running past the top of the
// 32-bit address space neither slips through the highest-address check nor
// hides an overlap by wrapping to a small end. A segment without bytes has
// an empty range at its flash address, as the advanced information shows
// it: it shares no byte with another segment, yet its end counts toward
// the highest flash address like any other.
struct RunRange {
    uint32_t start;
    uint64_t end;
};
RunRange RunSegmentRange(const FirmwareImage &image, const FirmwareSegment &segment);
// True when the two ranges share a byte; an empty range shares none.
bool RunRangesOverlap(const RunRange &a, const RunRange &b);
// The bytes the two ranges share; meaningful only when they overlap.
RunRange RunRangeShared(const RunRange &a, const RunRange &b);
// True when the range ends past RUN_FLASH_END: its highest flash address,
// or the one it counts toward, lies beyond the end of flash.
bool RunRangeBeyond(const RunRange &range);

// True when no two segments share a flash byte; otherwise false with the
// error text for the first overlapping pair.
bool RunCheckOverlap(const Firmware &firmware, std::string &message);
// True when a segment reaches RUN_FLASH_END or beyond: the user is to be
// asked RUN_EXCEEDS_QUESTION (No by default) before the run.
bool RunExceedsFlash(const Firmware &firmware);
// True when the firmware holds no data byte: the user is to be asked
// RUN_NO_DATA_QUESTION (No by default) before the run.
bool RunHoldsNoData(const Firmware &firmware);
// One check before an upload: a refusal (the run does not start; its text
// is an error) or a question (the run starts only on Yes, No by default).
enum RunCheckKind {
    RUN_CHECK_REFUSE = 0,
    RUN_CHECK_ASK = 1,
};
struct RunCheck {
    RunCheckKind kind;
    std::string text;
};
// The checks before an upload, in the order the user meets them: an
// overlap refuses with RunCheckOverlap's message (and nothing follows it),
// then RUN_EXCEEDS_QUESTION when RunExceedsFlash, then
// RUN_NO_DATA_QUESTION when RunHoldsNoData. Empty: nothing to tell.
std::vector<RunCheck> RunUploadChecks(const Firmware &firmware);
// Meets RunUploadChecks through tell, in order: a refusal is told (its
// answer does not matter) and ends them, a question lets them go on only
// when tell answers true. True when the run may start.
bool RunChecksPass(const Firmware &firmware, const std::function<bool(const RunCheck &)> &tell);
// The port box rule: a name not in ports (compared ignoring case) is
// appended. Returns true when it was appended (the box is to be refilled).
bool RunAddPortName(std::vector<std::string> &ports, const std::string &name);

// Opens the port by its name (as the port box shows it) at RUN_BAUD_RATE.
// On failure null with the text to show after RUN_OPEN_FAILED_FORMAT in
// portError: the system's reason, then advice that fits it; the failure is
// logged.
SioPort *RunOpenPort(const std::string &portName, std::string &portError);
// The default time-out RunOpenPort gives the port (tests and the
// command-line tool's hidden option; RUN_PORT_TIMEOUT otherwise).
void RunSetPortTimeout(int32_t ms);

// What a run does on the instrument. An upload is the dialog's run; the
// other two are the command-line tool's: the verification alone (then the
// finish command), and the read-back of a flash range into a file.
enum RunJob {
    RUN_JOB_UPLOAD = 0,
    RUN_JOB_VERIFY = 1,
    RUN_JOB_READ = 2,
};
struct RunReadRequest {
    std::string path;    // "-": standard output
    bool binary = false; // the data bytes; otherwise the S-records as received
    uint32_t address = 0;
    int32_t length = 0;
};

// The firmware file as its analysis found it: an upload sends the file
// only while it still has this size and modification time, so that what
// goes to the instrument is what the checks saw.
struct RunFileStamp {
    bool known = false; // false: not analysed here, not checked
    uint64_t size = 0;
    std::time_t modified = 0;
};
RunFileStamp RunFileStampOf(const ScanFileInfo &info);
#define RUN_FILE_CHANGED_FORMAT                                                                    \
    "The firmware file has changed since it was analysed:\n\n%s\n\n"                               \
    "Open it again to check and upload what it holds now."

// What the run is to do, fixed when it is made.
struct RunOptions {
    RunJob job = RUN_JOB_UPLOAD;
    bool verify = true;  // an upload reads every segment back afterwards
    RunReadRequest read; // the read-back's range and where it goes
    RunFileStamp file;   // the upload's file as analysed
    // An upload first reads the flash it will write into this file (none
    // when empty), one image per range, so that the file uploads it back.
    std::string backupPath;
};

// The flash ranges an upload of firmware writes, in address order, ranges
// that touch merged into one; segments without bytes write none.
std::vector<RunRange> RunWrittenRanges(const Firmware &firmware);
// A backup's file name for port at when (local time):
// "PORT-YYYYMMDD-HHMMSS.srec", the port's name without its folder and with
// any character a file name cannot carry as '_'.
std::string RunBackupFileName(const std::string &port, std::time_t when);
// A backup's text: per range an S0 naming its flash address, S3 records of
// 32 bytes of data (data holds each range's bytes), S7.
std::string RunBackupText(const std::vector<RunRange> &ranges,
                          const std::vector<std::vector<uint8_t>> &data);
// True when a file can be made in folder; otherwise false with the reason.
bool RunFolderWritable(const std::string &folder, std::string &message);
#define RUN_BACKUP_FAILED_FORMAT "The backup before the upload failed, nothing was uploaded:\n\n%s"


// How far a phase has come: done of total (records for the upload, bytes
// for the others), the bar position (0..RUN_BAR_MAX; beyond it when the
// instrument reports more than the file holds) and the percentage shown.
struct RunStep {
    uint32_t done = 0;
    uint32_t total = 0;
    int bar = 0;
    int percent = 0;
    uint32_t resends = 0; // lines of this phase the instrument asked for again
};
// What a group shows of its resends beside its progress ("" for none).
std::string RunResendText(uint32_t resends);

// What the worker tells its view: the phases (the groups) as they start,
// progress and end, then the end of the run. Every call comes from the
// worker thread, in this order; a view never makes the worker wait for a
// screen. RunFinished is the worker's last contact: errorCode and
// errorText are in place.
class RunView
{
  public:
    virtual ~RunView() = default;
    virtual void RunBegin() {}
    virtual void PhaseStarted(int group) = 0;
    virtual void PhaseProgress(int group, const RunStep &step) = 0;
    virtual void PhaseEnded(int group) = 0;
    // A stop was seen while group goes on (RunGroupMovesAfterStop): its
    // events keep coming until it ends, and RunStopNote(group) is to be
    // shown beside it. Once per run at most.
    virtual void PhaseStopping(int /*group*/) {}
    virtual void RunFinished(UploadResult result) = 0;
};

// The label of a group for a job, as the front ends show it: " Reading"
// for a read-back's third group, RunGroupLabels otherwise.
const char *RunGroupLabel(RunJob job, int group);

// The three groups as the worker's progress callback drives them. One per
// run; used by the worker thread only.
class RunProgress
{
  public:
    RunProgress(const Firmware &firmware, RunView &view, const std::atomic<bool> &stopRequested)
        : firmware_(firmware), view_(view), stopRequested_(stopRequested)
    {
    }
    // False when the run is to stop. After a stop only the groups that go
    // on (RunGroupMovesAfterStop) still reach the view.
    bool Event(int event, uint32_t a, uint32_t b);
    // The percentage of value in total (0 for a total of 0), not capped.
    static double Percent(uint32_t value, uint32_t total);
    static int BarPosition(double percent); // int(percent*100+0.5)
    static int ShownNumber(double percent); // int(percent+0.5)
    // The bytes the Verifying group counts up to: the firmware's size
    // unless a read-back of another length is set.
    void SetVerifyTotal(uint32_t total)
    {
        verifyTotal_ = total;
        verifyTotalSet_ = true;
    }

  private:
    void Show(int event, int group, uint32_t a, uint32_t b);

    const Firmware &firmware_;
    RunView &view_;
    const std::atomic<bool> &stopRequested_;
    bool stopShown_ = false; // PhaseStopping was called
    bool uploadOpen_ = false; // the Uploading group started and has not ended
    RunStep uploadStep_;      // what it showed last
    uint32_t flashBytes_ = 0;
    uint32_t verifyBytes_ = 0;
    int32_t verifyImage_ = 0;
    int32_t verifySegment_ = 0;
    bool verifyTotalSet_ = false;
    uint32_t verifyTotal_ = 0;
};

// One upload run of a firmware file on an open port.
class UploadRun
{
  public:
    UploadRun(const Firmware &firmware, const std::string &filePath, RunView &view,
              const RunOptions &options = RunOptions());
    ~UploadRun(); // waits for the worker and closes the port
    UploadRun(const UploadRun &) = delete;
    UploadRun &operator=(const UploadRun &) = delete;

    RunJob Job() const { return options_.job; }

    // Takes over the port and starts the worker. When the worker cannot be
    // started, logs it, closes the port and returns false.
    bool Start(SioPort *port);
    // The cooperative stop: seen at the next progress event or after the
    // current MdlUpdate call. Safe from a signal handler.
    void RequestStop() { stopRequested_.store(true); }
    bool StopRequested() const { return stopRequested_.load(); }
    // True from Start until the worker's last step (after RunFinished).
    bool WorkerRunning() const { return workerRunning_.load(); }
    // Waits for the worker to end, then closes the port.
    void Join();

    // The worker's body, also callable on the caller's thread (port given,
    // not taken over). Ends with view.RunFinished(result).
    UploadResult RunUpload(SioPort *port);

    int errorCode = -1;      // -1 none; otherwise the mdl error state's code
    std::string errorText;   // empty: no reason known
    bool deviceLost = false; // the run failed because the device went away
    bool mismatch = false;   // the failure is a read-back that differs from the file
    std::string backupFile;  // the backup written before the upload (empty: none)

  private:
    static bool ProgressCallback(int event, void *context, uint32_t a, uint32_t b,
                                 const char *line);
    UploadResult Verify(SioPort *port);
    UploadResult ReadFlash(SioPort *port);
    bool FileUnchanged();
    UploadResult Backup(SioPort *port);

    const Firmware &firmware_;
    std::string filePath_;
    RunView &view_;
    SioPort *port_ = nullptr;
    std::thread thread_;
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> workerRunning_{false};
    RunProgress *progress_ = nullptr;
    RunOptions options_;
};

// Makes the next UploadRun::Start fail as if no thread could be created
// (tests only).
void RunFailNextThreadStart(void);

enum RunIcon {
    RUN_ICON_NONE = 0, // no message
    RUN_ICON_INFORMATION,
    RUN_ICON_EXCLAMATION,
    RUN_ICON_STOP,
};
struct RunOutcome {
    std::string text; // the message box text
    RunIcon icon = RUN_ICON_NONE;
};
// deviceLost adds RUN_PORT_LOST_ADVICE to a failure.
RunOutcome RunOutcomeText(UploadResult result, int errorCode, const std::string &errorText,
                          bool deviceLost = false);
// The outcome of any job: an upload's is RunOutcomeText's; the others use
// their own words in the same forms. A verification that found a
// difference says only that (mismatch set, its text in errorText).
RunOutcome RunJobOutcomeText(RunJob job, UploadResult result, int errorCode,
                             const std::string &errorText, bool mismatch, bool deviceLost = false);
// After the message: the log line of a failed or timed-out run, with its
// reason (nothing for the others).
void RunLogOutcome(UploadResult result, const std::string &errorText);

// A dialog's Start once the checks have passed: opens the port and starts
// the run on it. Null when the port could not be opened (failure holds the
// text of the box to show) or the worker could not start (logged; failure
// empty).
std::unique_ptr<UploadRun> RunStartOn(const std::string &portName, const Firmware &firmware,
                                      const std::string &filePath, RunView &view,
                                      const RunOptions &options, std::string &failure);
// A dialog's end of a run, once the worker has reported result: waits for
// the worker and closes the port, logs the outcome and gives the box to
// show (RUN_ICON_NONE: none). run is null afterwards.
RunOutcome RunEnd(std::unique_ptr<UploadRun> &run, UploadResult result);
