// The upload run: checks, port, worker thread, progress groups, outcome.
#include "core/run.h"
#include "core/scan.h"
#include "core/textfmt.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "firmware/mdl.h"
#include "firmware/mdl_write.h"
#include "platform/filestat.h"
#include "platform/locale.h"
#include "platform/memalloc.h"
#include "platform/port_access.h"
#include "platform/ports.h"
#include "platform/syserr.h"
#include "protocol/mdl_pc.h"
#include "serial/sio.h"
#include "support/intstr.h"
#include "support/log.h"
#include "support/winerr.h"

const char *const RunGroupLabels[RUN_GROUP_COUNT] = {
    " Uploading",
    " Writing to flash memory",
    " Verifying",
};

const char *RunGroupLabel(RunJob job, int group)
{
    if (group < 0 || group >= RUN_GROUP_COUNT)
        return "";
    return job == RUN_JOB_READ && group == RUN_GROUP_VERIFY ? " Reading" : RunGroupLabels[group];
}

static int32_t run_port_timeout = RUN_PORT_TIMEOUT;
static std::atomic<bool> run_fail_next_thread{false};

RunRange RunSegmentRange(const FirmwareImage &image, const FirmwareSegment &segment)
{
    uint32_t s = MdlFlashAddress(&image, &segment);
    return {s, (uint64_t)s + segment.size};
}

RunRange RunRangeShared(const RunRange &a, const RunRange &b)
{
    // From the later start to the earlier end.
    return {std::max(a.start, b.start), std::min(a.end, b.end)};
}

bool RunRangesOverlap(const RunRange &a, const RunRange &b)
{
    RunRange shared = RunRangeShared(a, b);
    return shared.start < shared.end;
}

bool RunRangeBeyond(const RunRange &range)
{
    return range.end > RUN_FLASH_END;
}

bool RunCheckOverlap(const Firmware &firmware, std::string &message)
{
    for (int32_t i = 0; i < firmware.imageCount; i++) {
        const FirmwareImage &a = firmware.images[i];
        for (int32_t j = 0; j < a.segmentCount; j++) {
            RunRange r = RunSegmentRange(a, a.segments[j]);
            for (int32_t k = 0; k < firmware.imageCount; k++) {
                const FirmwareImage &b = firmware.images[k];
                for (int32_t m = 0; m < b.segmentCount; m++) {
                    if (k == i && m == j)
                        continue;
                    RunRange q = RunSegmentRange(b, b.segments[m]);
                    if (RunRangesOverlap(r, q)) {
                        char text[512];
                        snprintf(text, sizeof text,
                                 "ERROR:\n\nSegment #%d of image #%d (0x%llX~0x%llX) overlaps\n"
                                 "segment #%d of image #%d (0x%llX~0x%llX)\n",
                                 (int)j, (int)i, (unsigned long long)r.start,
                                 (unsigned long long)r.end, (int)m, (int)k,
                                 (unsigned long long)q.start, (unsigned long long)q.end);
                        message = text;
                        return false;
                    }
                }
            }
        }
    }
    return true;
}

bool RunExceedsFlash(const Firmware &firmware)
{
    for (int32_t i = 0; i < firmware.imageCount; i++) {
        const FirmwareImage &image = firmware.images[i];
        for (int32_t j = 0; j < image.segmentCount; j++)
            if (RunRangeBeyond(RunSegmentRange(image, image.segments[j])))
                return true;
    }
    return false;
}

bool RunHoldsNoData(const Firmware &firmware)
{
    return firmware.totalSize == 0;
}

std::vector<RunCheck> RunUploadChecks(const Firmware &firmware)
{
    std::vector<RunCheck> checks;
    std::string message;
    if (!RunCheckOverlap(firmware, message)) {
        checks.push_back({RUN_CHECK_REFUSE, message});
        return checks;
    }
    if (RunExceedsFlash(firmware))
        checks.push_back({RUN_CHECK_ASK, RUN_EXCEEDS_QUESTION});
    if (RunHoldsNoData(firmware))
        checks.push_back({RUN_CHECK_ASK, RUN_NO_DATA_QUESTION});
    return checks;
}

bool RunChecksPass(const Firmware &firmware, const std::function<bool(const RunCheck &)> &tell)
{
    for (const RunCheck &check : RunUploadChecks(firmware))
        if (!tell(check) || check.kind == RUN_CHECK_REFUSE)
            return false;
    return true;
}

bool RunAddPortName(std::vector<std::string> &ports, const std::string &name)
{
    for (const std::string &p : ports)
        if (TextCompareNoCase(p, name) == 0)
            return false;
    ports.push_back(name);
    return true;
}

void RunSetPortTimeout(int32_t ms)
{
    run_port_timeout = ms;
}

// Names the group to join, or says that the device is its owner's alone.
static std::string run_access_advice(const char *path)
{
    PlatPortAccess access;
    char text[512];
    if (!PlatPortGetAccess(path, access))
        return RUN_PORT_ACCESS_ADVICE;
    if (access.groupMayOpen && access.group != "root")
        snprintf(text, sizeof text, RUN_PORT_GROUP_ADVICE, access.group.c_str(),
                 access.group.c_str());
    else
        snprintf(text, sizeof text, RUN_PORT_OWNER_ADVICE, access.owner.c_str());
    return text;
}

SioPort *RunOpenPort(const std::string &portName, std::string &portError)
{
    std::string path = PlatPortDevicePath(portName);
    SioPort *port = SioOpen(path.c_str(), RUN_BAUD_RATE, run_port_timeout);
    if (port)
        return port;
    // Before anything else can change the system's error.
    PlatPortFault fault = PlatPortLastFault(PLAT_PORT_OPENING);
    Log("%s(): ::SioOpen(): %s", "CDownloadDlg::SioOpen", SioErrStr());
    portError = SioErrStr();
    // The Win32 device prefix means nothing to the user. POSIX paths have
    // none and stay whole: there the path is what the user has to check.
    size_t at = portError.find("\\\\.\\");
    if (at != std::string::npos)
        portError.erase(at, 4);
    if (fault == PLAT_PORT_FAULT_NO_ACCESS)
        portError += "\n\n" + run_access_advice(path.c_str());
    else if (fault == PLAT_PORT_FAULT_MISSING)
        portError += "\n\n" RUN_PORT_MISSING_ADVICE;
    else if (fault == PLAT_PORT_FAULT_IN_USE ||
             portError.find("ERROR_ACCESS_DENIED") != std::string::npos)
        portError += "\n\n" RUN_PORT_IN_USE_ADVICE;
    return nullptr;
}

double RunProgress::Percent(uint32_t value, uint32_t total)
{
    if (total == 0)
        return 0.0;
    return (double)value * 100.0 / (double)total;
}

// An instrument that reports far more than the file holds must not push
// the conversion out of the range of int.
static int run_to_int(double x)
{
    if (x >= (double)INT_MAX)
        return INT_MAX;
    return (int)x;
}

int RunProgress::BarPosition(double percent)
{
    return run_to_int(percent * 100.0 + 0.5);
}

int RunProgress::ShownNumber(double percent)
{
    return run_to_int(percent + 0.5);
}

std::string RunResendText(uint32_t resends)
{
    if (resends == 0)
        return "";
    return resends == 1 ? std::string("1 resend") : std::string(IntStrGroup(resends)) + " resends";
}

bool RunGroupMovesAfterStop(int group)
{
    return group == RUN_GROUP_FLASH;
}

const char *RunStopNote(int group)
{
    return RunGroupMovesAfterStop(group) ? RUN_STOP_FLASH_NOTE : nullptr;
}

bool RunProgress::Event(int event, uint32_t a, uint32_t b)
{
    bool stopped = stopRequested_.load();
    int group;
    switch (event) {
    case EV_UPLOAD_START:
    case EV_UPLOAD_PROGRESS:
    case EV_UPLOAD_DONE:
        group = RUN_GROUP_UPLOAD;
        break;
    case EV_FLASH_START:
    case EV_FLASH_PROGRESS:
    case EV_FLASH_DONE:
        group = RUN_GROUP_FLASH;
        break;
    case EV_VERIFY_START:
    case EV_VERIFY_PROGRESS:
    case EV_VERIFY_RETRY:
    case EV_VERIFY_DONE:
        group = RUN_GROUP_VERIFY;
        break;
    case EV_SEND_RETRY:
        // Job lines asked for again belong to no group; records do.
        if (!uploadOpen_)
            return !stopped;
        group = RUN_GROUP_UPLOAD;
        break;
    default:
        return !stopped;
    }
    if (stopped && !RunGroupMovesAfterStop(group))
        return false;
    Show(event, group, a, b);
    bool ended = event == EV_UPLOAD_DONE || event == EV_FLASH_DONE || event == EV_VERIFY_DONE;
    if (stopped && !stopShown_ && !ended) {
        stopShown_ = true;
        view_.PhaseStopping(group);
    }
    return !stopped;
}

void RunProgress::Show(int event, int group, uint32_t a, uint32_t b)
{
    switch (event) {
    case EV_UPLOAD_START:
    case EV_FLASH_START:
    case EV_VERIFY_START:
        // Every segment's read-back starts anew; the group starts once.
        if (event == EV_VERIFY_START && (verifyImage_ != 0 || verifySegment_ != 0))
            return;
        view_.PhaseStarted(group);
        if (event == EV_UPLOAD_START)
            uploadOpen_ = true;
        if (event == EV_FLASH_START)
            flashBytes_ = 0;
        else if (event == EV_VERIFY_START)
            verifyBytes_ = 0;
        return;

    case EV_SEND_RETRY:
        uploadStep_.resends++;
        view_.PhaseProgress(group, uploadStep_);
        return;

    case EV_UPLOAD_PROGRESS:
    case EV_FLASH_PROGRESS:
    case EV_VERIFY_PROGRESS:
    case EV_VERIFY_RETRY: {
        uint32_t value, total;
        if (group == RUN_GROUP_UPLOAD) {
            value = a;
            total = b;
        } else if (group == RUN_GROUP_FLASH) {
            flashBytes_ += a;
            value = flashBytes_;
            total = firmware_.totalSize;
        } else {
            verifyBytes_ += b;
            value = verifyBytes_;
            total = verifyTotalSet_ ? verifyTotal_ : firmware_.totalSize;
        }
        double percent = Percent(value, total);
        RunStep step;
        step.done = value;
        step.total = total;
        step.bar = BarPosition(percent);
        step.percent = ShownNumber(percent);
        if (group == RUN_GROUP_UPLOAD) {
            step.resends = uploadStep_.resends;
            uploadStep_ = step;
        }
        view_.PhaseProgress(group, step);
        return;
    }

    default: // the done events
        if (event == EV_UPLOAD_DONE)
            uploadOpen_ = false;
        if (event == EV_FLASH_DONE) {
            verifyImage_ = 0;
            verifySegment_ = 0;
        } else if (event == EV_VERIFY_DONE) {
            // Images without segments have no read-back: count past them,
            // or the group would wait for a segment that never comes.
            auto skipEmpty = [this] {
                while (verifyImage_ < firmware_.imageCount &&
                       firmware_.images[verifyImage_].segmentCount <= 0)
                    verifyImage_++;
            };
            skipEmpty();
            verifySegment_++;
            if (verifyImage_ < firmware_.imageCount &&
                verifySegment_ >= firmware_.images[verifyImage_].segmentCount) {
                verifyImage_++;
                verifySegment_ = 0;
                skipEmpty();
            }
            if (verifyImage_ < firmware_.imageCount)
                return;
        }
        view_.PhaseEnded(group);
        return;
    }
}

UploadRun::UploadRun(const Firmware &firmware, const std::string &filePath, RunView &view,
                     const RunOptions &options)
    : firmware_(firmware), filePath_(filePath), view_(view), options_(options)
{
}

UploadRun::~UploadRun()
{
    if (thread_.joinable())
        RequestStop();
    Join();
}

void RunFailNextThreadStart(void)
{
    run_fail_next_thread.store(true);
}

bool UploadRun::Start(SioPort *port)
{
    Join(); // a previous run of this object is over before a new one begins
    port_ = port;
    stopRequested_.store(false);
    // Set before the thread exists, so that a Cancel pressed before the
    // worker's first step sees a run and stops it instead of leaving it.
    workerRunning_.store(true);
    try {
        if (run_fail_next_thread.exchange(false))
            throw std::system_error(
                std::make_error_code(std::errc::resource_unavailable_try_again));
        thread_ = std::thread([this] {
            RunUpload(port_);
            workerRunning_.store(false);
        });
    } catch (const std::system_error &e) {
        workerRunning_.store(false);
        PlatSetLastErrorFromErrno(e.code().value());
        Log("%s(): CreateThread(): %W", "CDownloadDlg::OnStart");
        SioClose(port_);
        port_ = nullptr;
        return false;
    }
    return true;
}

void UploadRun::Join()
{
    if (thread_.joinable())
        thread_.join();
    if (port_) {
        SioClose(port_);
        port_ = nullptr;
    }
}

bool UploadRun::ProgressCallback(int event, void *context, uint32_t a, uint32_t b, const char *)
{
    UploadRun *run = static_cast<UploadRun *>(context);
    return run->progress_ ? run->progress_->Event(event, a, b) : !run->StopRequested();
}

static void run_take_error(int &code, std::string &text)
{
    code = MdlGetError();
    text = MdlErrorText();
}

static std::string run_number_text(uint32_t value)
{
    std::string text = IntStrGroup(value);
    char hex[32];
    snprintf(hex, sizeof hex, " = 0x%lX", (unsigned long)value);
    return text + hex;
}

UploadResult UploadRun::Verify(SioPort *port)
{
    for (int32_t i = 0; i < firmware_.imageCount; i++) {
        const FirmwareImage &image = firmware_.images[i];
        for (int32_t j = 0; j < image.segmentCount; j++) {
            const FirmwareSegment &segment = image.segments[j];
            // At least one byte: its 0 is the empty name that makes the
            // read-back go into memory.
            uint8_t *buffer = (uint8_t *)_mem_calloc(segment.size > 0 ? segment.size : 1);
            if (!buffer) {
                char text[64];
                snprintf(text, sizeof text, "Cannot allocate %lu bytes.",
                         (unsigned long)segment.size);
                errorText = text;
                return UPLOAD_FAILED;
            }
            uint32_t address = MdlFlashAddress(&image, &segment);
            int r = MdlUpdate(port, MDL_MODE_READBACK, ProgressCallback, this,
                              reinterpret_cast<const char *>(buffer), true, address,
                              (int32_t)segment.size);
            if (r < 0 || r == 0 || stopRequested_.load()) {
                _mem_free(buffer);
                if (r < 0) {
                    run_take_error(errorCode, errorText);
                    return UPLOAD_FAILED;
                }
                return r == 0 ? UPLOAD_TIMEOUT : VERIFY_STOPPED;
            }
            // The first 16 bytes of an image are not compared; a first
            // segment that short has nothing left to compare.
            uint32_t from = j == 0 ? 16 : 0;
            for (uint32_t k = from; k < segment.size; k++) {
                if (buffer[k] == segment.data[k])
                    continue;
                std::string addressText = run_number_text(address);
                std::string sizeText = run_number_text(segment.size);
                std::string offsetText = run_number_text(k);
                char text[768];
                snprintf(text, sizeof text,
                         "Verification failed for segment #%d of image #%d:\n\n"
                         "Flash memory contents does not match the original\n"
                         "data from the firmware file.\n\n"
                         "Segment's flash address: %s\nSegment's size: %s\n"
                         "Data mismatch at offset: %s",
                         (int)j, (int)i, addressText.c_str(), sizeText.c_str(), offsetText.c_str());
                errorText = text;
                mismatch = true;
                _mem_free(buffer);
                return UPLOAD_FAILED;
            }
            _mem_free(buffer);
        }
    }
    // The callback only lets a stop end an instrument that asks for the
    // finish again and again; its result is not looked at.
    MdlUpdate(port, MDL_MODE_FINISH, ProgressCallback, this);
    return UPLOAD_OK;
}

UploadResult UploadRun::ReadFlash(SioPort *port)
{
    const RunReadRequest &read = options_.read;
    // A file is replaced only by a complete, checked read-back: until then
    // it goes to a file beside it, so that a failed or stopped read never
    // costs the backup already there.
    bool replace = read.path != "-" && PlatFileIsPlain(read.path.c_str());
    std::string path = replace ? read.path + ".part" : read.path;
    int r = MdlUpdate(port, MDL_MODE_READBACK, ProgressCallback, this, path.c_str(), read.binary,
                      read.address, read.length);
    UploadResult result = r < 0 ? UPLOAD_FAILED
                          : r == 0 ? UPLOAD_TIMEOUT
                          : stopRequested_.load() ? VERIFY_STOPPED
                                                  : UPLOAD_OK;
    if (r < 0)
        run_take_error(errorCode, errorText);
    if (replace && result == UPLOAD_OK && !PlatFileReplace(path.c_str(), read.path.c_str())) {
        errorCode = MDL_ERR_LOCAL;
        errorText = TextFormat("rename(): %s: %s", read.path.c_str(), WinLastErrStr());
        result = UPLOAD_FAILED;
    }
    if (replace && result != UPLOAD_OK)
        std::remove(path.c_str());
    return result;
}

std::vector<RunRange> RunWrittenRanges(const Firmware &firmware)
{
    std::vector<RunRange> ranges;
    for (int32_t i = 0; i < firmware.imageCount; i++)
        for (int32_t j = 0; j < firmware.images[i].segmentCount; j++) {
            RunRange r = RunSegmentRange(firmware.images[i], firmware.images[i].segments[j]);
            if (r.end > r.start)
                ranges.push_back(r);
        }
    std::sort(ranges.begin(), ranges.end(),
              [](const RunRange &a, const RunRange &b) { return a.start < b.start; });
    std::vector<RunRange> merged;
    for (const RunRange &r : ranges) {
        if (!merged.empty() && r.start <= merged.back().end)
            merged.back().end = std::max(merged.back().end, r.end);
        else
            merged.push_back(r);
    }
    return merged;
}

std::string RunBackupFileName(const std::string &port, std::time_t when)
{
    std::string name = port.substr(port.find_last_of("/\\") + 1);
    for (char &c : name)
        if (!std::isalnum((unsigned char)c) && c != '-' && c != '.' && c != '_')
            c = '_';
    std::tm local{};
    char stamp[32] = "";
    if (PlatLocalTime(when, &local))
        std::strftime(stamp, sizeof stamp, "-%Y%m%d-%H%M%S", &local);
    return name + stamp + ".srec";
}

std::string RunBackupText(const std::vector<RunRange> &ranges,
                          const std::vector<std::vector<uint8_t>> &data)
{
    std::string text;
    for (size_t i = 0; i < ranges.size() && i < data.size(); i++) {
        const std::vector<uint8_t> &bytes = data[i];
        std::string name = TextFormat("Backup of %llu bytes", (unsigned long long)bytes.size());
        text += MdlImageStartRecord(ranges[i].start, name.c_str()) + "\n";
        for (size_t at = 0; at < bytes.size(); at += 32)
            text += MdlRecordText('3', ranges[i].start + (uint32_t)at, 4, bytes.data() + at,
                                  std::min<size_t>(32, bytes.size() - at)) +
                    "\n";
        text += MdlRecordText('7', 0, 4, nullptr, 0) + "\n";
    }
    return text;
}

bool RunFolderWritable(const std::string &folder, std::string &message)
{
    std::string probe = folder + "/.mirdel-write-test";
    FILE *f = std::fopen(probe.c_str(), "w");
    if (!f) {
        message = TextFormat("%s: %s", folder.c_str(), std::strerror(errno));
        return false;
    }
    std::fclose(f);
    std::remove(probe.c_str());
    return true;
}

// The flash the upload will write, read first into the backup file: the
// read-backs are checked as a verification's, and the file appears only
// when complete.
UploadResult UploadRun::Backup(SioPort *port)
{
    std::vector<RunRange> ranges = RunWrittenRanges(firmware_);
    std::vector<std::vector<uint8_t>> data;
    RunProgress *shown = progress_;
    progress_ = nullptr; // no group of the upload's is the backup's
    int r = 1;
    for (const RunRange &range : ranges) {
        if (range.end - range.start > (uint64_t)INT32_MAX) {
            errorCode = MDL_ERR_LOCAL;
            errorText = TextFormat("0x%08lX: a range too large to back up", (unsigned long)range.start);
            r = -1;
            break;
        }
        // One byte more: its 0 is the empty name that makes the read-back
        // go into memory.
        data.emplace_back((size_t)(range.end - range.start) + 1, 0);
        r = MdlUpdate(port, MDL_MODE_READBACK, ProgressCallback, this,
                      reinterpret_cast<const char *>(data.back().data()), true, range.start,
                      (int32_t)(range.end - range.start));
        data.back().pop_back();
        if (r < 0)
            run_take_error(errorCode, errorText);
        if (r <= 0 || stopRequested_.load())
            break;
    }
    progress_ = shown;
    std::string part = options_.backupPath + ".part";
    if (r > 0 && !stopRequested_.load()) {
        std::string text = RunBackupText(ranges, data);
        FILE *f = std::fopen(part.c_str(), "wb");
        bool written = f && std::fwrite(text.data(), 1, text.size(), f) == text.size();
        if (f && std::fclose(f) != 0)
            written = false;
        if (written && PlatFileReplace(part.c_str(), options_.backupPath.c_str())) {
            backupFile = options_.backupPath;
            return UPLOAD_OK;
        }
        std::remove(part.c_str());
        errorCode = MDL_ERR_LOCAL;
        errorText = TextFormat("%s: %s", options_.backupPath.c_str(), std::strerror(errno));
        r = -1;
    }
    if (r < 0)
        errorText = TextFormat(RUN_BACKUP_FAILED_FORMAT, errorText.c_str());
    return r < 0 ? UPLOAD_FAILED : r == 0 ? UPLOAD_TIMEOUT : UPLOAD_STOPPED;
}

RunFileStamp RunFileStampOf(const ScanFileInfo &info)
{
    RunFileStamp stamp;
    stamp.known = info.statValid;
    stamp.size = info.fileSize;
    stamp.modified = info.modifiedTime;
    return stamp;
}

// The upload sends the file again from disk: only the one analysed.
bool UploadRun::FileUnchanged()
{
    const RunFileStamp &was = options_.file;
    if (!was.known)
        return true;
    RunFileStamp now;
    FILE *file = std::fopen(filePath_.c_str(), "rb");
    const char *failedCall = nullptr;
    now.known = file && PlatFileStat(file, &now.size, &now.modified, &failedCall);
    if (file)
        std::fclose(file);
    if (now.known && now.size == was.size && now.modified == was.modified)
        return true;
    errorCode = MDL_ERR_LOCAL;
    errorText = TextFormat(RUN_FILE_CHANGED_FORMAT, filePath_.c_str());
    return false;
}

UploadResult UploadRun::RunUpload(SioPort *port)
{
    view_.RunBegin();
    errorCode = -1;
    errorText.clear();
    deviceLost = false;
    backupFile.clear();
    mismatch = false;
    RunProgress progress(firmware_, view_, stopRequested_);
    if (options_.job == RUN_JOB_READ)
        progress.SetVerifyTotal(options_.read.length > 0 ? (uint32_t)options_.read.length : 0);
    progress_ = &progress;

    UploadResult result;
    if (options_.job != RUN_JOB_UPLOAD) {
        result = options_.job == RUN_JOB_READ ? ReadFlash(port) : Verify(port);
    } else if (!FileUnchanged()) {
        result = UPLOAD_FAILED;
    } else if (!options_.backupPath.empty() && (result = Backup(port)) != UPLOAD_OK) {
        // told by Backup
    } else {
        // Read as the analysis read it: as bytes, line ends taken by the
        // line reader (a text-mode read may end early or change them).
        int r = MdlUpdate(port, MDL_MODE_UPLOAD, ProgressCallback, this, filePath_.c_str(), true);
        if (r < 0) {
            run_take_error(errorCode, errorText);
            result = UPLOAD_FAILED;
        } else if (r == 0) {
            result = UPLOAD_TIMEOUT;
        } else if (stopRequested_.load()) {
            result = UPLOAD_STOPPED;
        } else if (!options_.verify || firmware_.imageCount == 0) {
            MdlUpdate(port, MDL_MODE_FINISH, ProgressCallback, this);
            result = UPLOAD_OK;
        } else {
            result = Verify(port);
        }
    }

    // Every job can lose its device, and each says so.
    if (result == UPLOAD_FAILED && errorCode == MDL_ERR_LOCAL)
        deviceLost = SioDeviceLost();
    progress_ = nullptr;
    view_.RunFinished(result);
    return result;
}

RunOutcome RunOutcomeText(UploadResult result, int errorCode, const std::string &errorText,
                          bool deviceLost)
{
    RunOutcome o;
    switch (result) {
    case UPLOAD_OK:
        o.text = "Upload successful.";
        o.icon = RUN_ICON_INFORMATION;
        break;
    case UPLOAD_STOPPED:
        o.text = "Upload stopped by user.";
        o.icon = RUN_ICON_EXCLAMATION;
        break;
    case VERIFY_STOPPED:
        o.text = "Verification stopped by user.";
        o.icon = RUN_ICON_EXCLAMATION;
        break;
    case UPLOAD_FAILED:
        o.text = "Upload failed";
        if (errorText.empty()) {
            o.text += ".";
        } else {
            if (errorCode == MDL_ERR_INSTRUMENT)
                o.text += ". The instrument returned the following error";
            o.text += ":\n\n" + errorText;
        }
        if (deviceLost)
            o.text += "\n\n" RUN_PORT_LOST_ADVICE;
        o.icon = RUN_ICON_STOP;
        break;
    case UPLOAD_TIMEOUT:
        o.text = "I/O timeout.\n\nMake sure to:\n\n"
                 " - select appropriate serial port\n"
                 " - check your serial cable connection\n"
                 " - check that the instrument is powered on,\n"
                 "   running and its system interface is set to RS232";
        o.icon = RUN_ICON_STOP;
        break;
    }
    return o;
}

RunOutcome RunJobOutcomeText(RunJob job, UploadResult result, int errorCode,
                             const std::string &errorText, bool mismatch, bool deviceLost)
{
    RunOutcome o = RunOutcomeText(result, errorCode, errorText, deviceLost);
    if (job == RUN_JOB_UPLOAD || result == UPLOAD_TIMEOUT)
        return o;
    const char *words = job == RUN_JOB_VERIFY ? "Verification" : "Read-back";
    switch (result) {
    case UPLOAD_OK:
        o.text = std::string(words) + " successful.";
        break;
    case UPLOAD_STOPPED:
    case VERIFY_STOPPED:
        o.text = std::string(words) + " stopped by user.";
        break;
    case UPLOAD_FAILED:
        if (mismatch) {
            o.text = errorText;
        } else {
            // The upload's wording with the job's first word.
            o.text = std::string(words) + " failed" + o.text.substr(std::strlen("Upload failed"));
        }
        break;
    default:
        break;
    }
    return o;
}

void RunLogOutcome(UploadResult result, const std::string &errorText)
{
    // A time-out has no text of its own: the message's first line is its reason.
    if (result == UPLOAD_FAILED)
        Log("%s(): MIRDEL_ERROR: %s", "CDownloadDlg::OnMirdelDone", errorText.c_str());
    else if (result == UPLOAD_TIMEOUT)
        Log("%s(): MIRDEL_ERROR: %s", "CDownloadDlg::OnMirdelDone", "I/O timeout.");
}

std::unique_ptr<UploadRun> RunStartOn(const std::string &portName, const Firmware &firmware,
                                      const std::string &filePath, RunView &view,
                                      const RunOptions &options, std::string &failure)
{
    failure.clear();
    std::string portError;
    SioPort *port = RunOpenPort(portName, portError);
    if (!port) {
        failure = TextFormat(RUN_OPEN_FAILED_FORMAT, portError.c_str());
        return nullptr;
    }
    auto run = std::make_unique<UploadRun>(firmware, filePath, view, options);
    if (!run->Start(port))
        return nullptr;
    return run;
}

RunOutcome RunEnd(std::unique_ptr<UploadRun> &run, UploadResult result)
{
    int errorCode = -1;
    std::string errorText;
    bool deviceLost = false;
    if (run) {
        // The worker's report is its last contact; it ends right after.
        run->Join();
        errorCode = run->errorCode;
        errorText = run->errorText;
        deviceLost = run->deviceLost;
        run.reset();
    }
    RunLogOutcome(result, errorText);
    return RunOutcomeText(result, errorCode, errorText, deviceLost);
}
