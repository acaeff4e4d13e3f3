// Every fault mirdel-sim can inject, at the first, a middle and the last
// event of each phase of a whole run with verification, and of the phases
// a verification or a read-back has: the result, the message the user
// sees, that the run ended and that it gave the port back.
#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>

#include "proc_counts.h"
#include "protocol/mdl_pc.h"
#include "run_helpers.h"
#include "serial/sio.h"
#include "support/log.h"
#include "tests/common/sim_process.h"

namespace
{

// The time-outs: short only for the waits whose answer cannot come, long
// (a bound against hangs) for every other, so that an answer made late by a
// loaded machine is never taken for silence. A run expected to time out
// has the short ones throughout: a late answer ends it the same way.
const int32_t kShortTimeoutMs = 150;
const int32_t kShortFlashTimeoutMs = 300;
const int32_t kLongTimeoutMs = 10000;
const uint32_t kBusyPauseMs = 20;
// A run that takes longer hangs.
const int64_t kHangMs = 60000;

// Two images, three segments, 32 data bytes per record: 18 records
// (S0, 8 S3, S7; S0, 4 + 2 S3, S7), 448 bytes. With 128 bytes per flash
// indication there are five ("+OK 128" three times, "+OK 64", "+OK .").
// The read-backs of 256, 128 and 64 bytes are 11, 7 and 5 lines (S0, the
// S3 records, S7, "."): 23 in all. A run has five handshakes: the upload,
// three read-backs, the finish.
std::vector<UploadImageLayout> MatrixLayout()
{
    return {
        {0x1000, "Boot", {{0x100, 256}}},
        {0x20000, "Main", {{0x0, 128}, {0x400, 64}}},
    };
}

struct Expect {
    UploadResult result;
    int code;
    std::string text; // errorText
    std::string outcome;
    std::string alsoText = {}; // another errorText that is as right
};

Expect Ok()
{
    return {UPLOAD_OK, -1, "", "Upload successful."};
}
Expect Timeout()
{
    return {UPLOAD_TIMEOUT, -1, "",
            "I/O timeout.\n\nMake sure to:\n\n"
            " - select appropriate serial port\n"
            " - check your serial cable connection\n"
            " - check that the instrument is powered on,\n"
            "   running and its system interface is set to RS232"};
}
Expect Refused(const std::string &reason)
{
    return {UPLOAD_FAILED, MDL_ERR_INSTRUMENT, reason,
            reason.empty()
                ? "Upload failed."
                : "Upload failed. The instrument returned the following error:\n\n" + reason};
}
Expect Local(const std::string &reason)
{
    return {UPLOAD_FAILED, MDL_ERR_LOCAL, reason, "Upload failed:\n\n" + reason};
}

const char kRefusal[] = "refused by the simulator";
const char kSoh[] = "first line\nsecond line\nthird line";
const char kPrintf[] = "%s%n%x%s%n%p";
// The device gone: the pending read ends with EIO.
const char kHangupRead[] = "read(4096): Input/output error <ERROR_GEN_FAILURE>";

// The link's text for a line of n characters that did not fit its buffer.
std::string NotTerminated(size_t n)
{
    return "'" + std::string(n, 'x') + "' not terminated with end of line character !";
}
std::string NotRecord(const std::string &line)
{
    return "'" + line + "': not a S-record !";
}

// The port's time-out becomes timeoutMs at the count-th call of the run's
// view that begins with call (made on the worker's thread, between waits).
struct TimeoutSwitch {
    std::string call;
    int count;
    int32_t timeoutMs;
};

struct FaultCase {
    std::string name; // PHASE:N:KIND[:TEXT] for a --fault, else instrument:...
    std::vector<std::string> options;
    Expect expect;
    // For an expectation that quotes data of the firmware file.
    std::function<Expect(const Firmware &)> derive = {};
    // For a run that ends well although the simulator falls silent: where
    // the silence begins and ends.
    std::vector<TimeoutSwitch> switches = {};
    RunJob job = RUN_JOB_UPLOAD;
    std::string stopAt = {}; // the view's call that the user's stop follows ("start": at once)
};

struct Row {
    const char *phase;
    std::vector<int> at;
    const char *kind;
    Expect expect;
    std::vector<TimeoutSwitch> switches = {};
};

// After the last read-back only the finish is left, whose result is not
// looked at.
const TimeoutSwitch kFinishOnly = {"label 2 normal  Verifying ... done.", 1, kShortTimeoutMs};

// The replies to the handshake: anything not beginning with "-" lets the
// job line follow, which an instrument that answered oddly leaves
// unanswered.
std::vector<Row> HandshakeRows(std::vector<int> at)
{
    return {
        {"handshake", at, "refuse", Refused(kRefusal)},
        {"handshake", at, "retry", Refused("-RETRY")},
        {"handshake", at, "wait", Ok()},
        {"handshake", at, "stop", Ok()},
        {"handshake", at, "text", Ok()},
        {"handshake", at, "silent", Timeout()},
        {"handshake", at, "hangup", Local(std::string("SioMsgRecv(): ") + kHangupRead)},
        {"handshake", at, "garbage", Timeout()},
        // The 1023 characters taken are quoted only as far as the reason still
        // fits the link's error text of 1024 bytes.
        {"handshake", at, "long", Local("SioMsgRecv(): " + NotTerminated(977))},
        {"handshake", at, "nul", Timeout()},
        {"handshake", at, "soh", Refused(kSoh)},
        {"handshake", at, "printf", Refused(kPrintf)},
        {"handshake", at, "cr", Timeout()},
    };
}

// Acknowledgements of a line sent with the wait on (job lines, records).
std::vector<Row> AckRows(const char *phase, std::vector<int> at)
{
    return {
        {phase, at, "refuse", Refused(kRefusal)},
        {phase, at, "retry", Ok()},
        {phase, at, "wait", Refused("Wait")},
        {phase, at, "stop", Ok()},
        {phase, at, "text", Ok()},
        {phase, at, "silent", Timeout()},
        {phase, at, "hangup", Local(std::string("SioMsgSend(): ") + kHangupRead)},
        {phase, at, "garbage", Local("SioMsgSend(): '?garbage~*': unrecognized acknowledgement !")},
        {phase, at, "long", Local("SioMsgSend(): " + NotTerminated(SIO_ACK_BUFFER_SIZE - 1))},
        {phase, at, "nul", Local("SioMsgSend(): '': unrecognized acknowledgement !")},
        {phase, at, "soh", Refused(kSoh)},
        {phase, at, "printf", Refused(kPrintf)},
        {phase, at, "cr", Timeout()},
    };
}

// Flash-writing indications: only "+OK" lines are progress; anything else
// is the instrument's error, shown by its display text.
std::vector<Row> FlashRows(const char *phase, std::vector<int> at, Expect onText)
{
    return {
        {phase, at, "refuse", Refused(kRefusal)},
        {phase, at, "retry", Refused("-RETRY")},
        {phase, at, "wait", Refused("Wait")},
        {phase, at, "stop", Refused("+STOP")},
        {phase, at, "text", onText},
        {phase, at, "silent", Timeout()},
        {phase, at, "hangup", Local(std::string("SioMsgRecv(): ") + kHangupRead)},
        {phase, at, "garbage", Refused("?garbage~*")},
        {phase, at, "long", Local("SioMsgRecv(): " + NotTerminated(MDL_READBACK_LINE - 1))},
        // Nothing to show of a line of NUL bytes.
        {phase, at, "nul", Refused("")},
        {phase, at, "soh", Refused(kSoh)},
        {phase, at, "printf", Refused(kPrintf)},
        {phase, at, "cr", Timeout()},
    };
}

// Lines of a read-back stream: anything but an S-record (or ".", "#") is
// refused by the host, which tells the instrument too.
std::vector<Row> ReadbackRows(std::vector<int> at, Expect onCr)
{
    return {
        {"readback", at, "refuse", Local(NotRecord(std::string("-ERR ") + kRefusal))},
        {"readback", at, "retry", Ok()}, // a stream line cannot be retried: sent as it is
        {"readback", at, "wait", Local(NotRecord("-ERR Wait"))},
        {"readback", at, "stop", Local(NotRecord("+STOP"))},
        {"readback", at, "text", Local(NotRecord("+OK done"))},
        {"readback", at, "silent", Timeout()},
        {"readback", at, "hangup", Local(std::string("SioMsgRecv(): ") + kHangupRead)},
        {"readback", at, "garbage", Local(NotRecord("?garbage~*"))},
        {"readback", at, "long", Local("SioMsgRecv(): " + NotTerminated(MDL_READBACK_LINE - 1))},
        {"readback", at, "nul", Local(NotRecord(""))},
        {"readback", at, "soh", Local(NotRecord(std::string("-ERR ") + kSoh))},
        {"readback", at, "printf", Local(NotRecord(std::string("-ERR ") + kPrintf))},
        {"readback", at, "cr", onCr},
        {"readback", at, "dup", Ok()},
    };
}

// Where an event of the upload's dialogue falls in another job's (0:
// nowhere): a verification is the upload's from its first read-back on; a
// read is that first read-back alone, whose "." (line 11) stands for the
// last one's (line 23).
int JobIndex(RunJob job, const std::string &phase, int n)
{
    if (job == RUN_JOB_UPLOAD)
        return n;
    if (phase == "handshake")
        return job == RUN_JOB_VERIFY ? n - 1 : n == 2;
    if (phase == "readback")
        return job == RUN_JOB_VERIFY || n <= 11 ? n : n == 23 ? 11 : 0;
    if (job == RUN_JOB_VERIFY)
        return phase == "readjob" || phase == "finish" ? n : 0;
    return phase == "readjob" && n == 1;
}

std::vector<FaultCase> Cases()
{
    std::vector<Row> rows;
    auto add = [&rows](std::vector<Row> more) {
        rows.insert(rows.end(), more.begin(), more.end());
    };

    add(HandshakeRows({1, 2, 3}));
    // The fifth handshake opens the finish, whose result is not looked at:
    // the firmware is written and verified by then.
    for (Row r : HandshakeRows({5})) {
        if (r.expect.result == UPLOAD_TIMEOUT)
            r.switches = {kFinishOnly};
        r.expect = Ok();
        rows.push_back(r);
    }
    add(AckRows("job", {1}));
    add(AckRows("readjob", {1, 2, 3}));
    add(AckRows("record", {1, 9, 18}));
    for (Row r : AckRows("finish", {1})) {
        if (r.expect.result == UPLOAD_TIMEOUT)
            r.switches = {kFinishOnly};
        r.expect = Ok();
        rows.push_back(r);
    }
    // A fault at the end mark strikes the first indication, here "+OK .".
    add(FlashRows("end", {1}, Timeout()));
    add(FlashRows("flash", {1, 3}, Ok()));
    add(FlashRows("flash", {5}, Timeout())); // "+OK done" instead of "+OK ."
    // A record ended by CR only is asked for again after the time-out; the
    // closing "." is not asked for again, so the read-back times out.
    add(ReadbackRows({1, 5, 14}, Ok()));
    add(ReadbackRows({23}, Timeout()));
    rows.push_back({"readback", {1, 14, 21}, "badsum", Ok()}); // once, then good
    rows.push_back({"readback", {21}, "badsum:3", Ok()});      // three retries are answered
    rows.push_back({"readback",
                    {1},
                    "badsum:4",
                    Local("'S0030000F0': incorrect checksum (0xF0), should be 0xFC")});
    rows.push_back({"readback", {23}, "badsum", Local(NotRecord("0"))}); // "." spoilt

    std::vector<FaultCase> cases;
    for (const Row &r : rows) {
        for (int n : r.at) {
            for (RunJob job : {RUN_JOB_UPLOAD, RUN_JOB_VERIFY, RUN_JOB_READ}) {
                int at = JobIndex(job, r.phase, n);
                std::string fault = std::string(r.phase) + ":" + std::to_string(at) + ":" + r.kind;
                if (at > 0)
                    cases.push_back({fault, {"--fault", fault}, r.expect, {}, r.switches, job});
            }
        }
    }
    // The S0 follows the acknowledgement of the job line at once: the hang-up
    // may throw that acknowledgement away before the host has read it.
    for (FaultCase &c : cases)
        if (c.name == "readback:1:hangup")
            c.expect.alsoText = std::string("SioMsgSend(): ") + kHangupRead;
    // A record ended by CR only waits for its line feed until the time-out,
    // after which it is asked for again ("bar 2" follows each record taken
    // and the retry): the S0 and the fourth record of the first read-back,
    // and the second record of the second (the first has 8 records).
    for (FaultCase &c : cases) {
        if (c.name == "readback:1:cr")
            c.switches = {{"label 2 bold  Verifying ...", 1, kShortTimeoutMs},
                          {"bar 2", 1, kLongTimeoutMs}};
        else if (c.name == "readback:5:cr")
            c.switches = {{"bar 2", 3, kShortTimeoutMs}, {"bar 2", 4, kLongTimeoutMs}};
        else if (c.name == "readback:14:cr")
            c.switches = {{"bar 2", 9, kShortTimeoutMs}, {"bar 2", 10, kLongTimeoutMs}};
    }

    // Faults of the instrument's data rather than of the dialogue.
    // Byte 20 of segment #1 of image #1 (flash 0x20400) changed in flash.
    cases.push_back({"instrument:corrupt",
                     {"--corrupt", std::to_string(0x20400 + 20)},
                     Local("Verification failed for segment #1 of image #1:\n\n"
                           "Flash memory contents does not match the original\n"
                           "data from the firmware file.\n\n"
                           "Segment's flash address: 132,096 = 0x20400\n"
                           "Segment's size: 64 = 0x40\n"
                           "Data mismatch at offset: 20 = 0x14")});
    // Records of 48 bytes: the sixth of the first read-back runs 32 bytes
    // past its 256 (into unwritten flash, 0xFF).
    cases.push_back({"instrument:readback-full",
                     {"--readback-bytes", "48", "--readback-full"},
                     {},
                     [](const Firmware &fw) {
                         std::vector<uint8_t> data(48, 0xFF);
                         std::copy_n(fw.images[0].segments[0].data + 240, 16, data.begin());
                         return Local("'" + UploadRecord('3', 0x1000 + 240, 4, data.data(), 48) +
                                      "': data beyond the requested length of 256 bytes");
                     }});
    // Records of 250 bytes are lines of 514 characters: the host takes 512.
    cases.push_back(
        {"instrument:readback-bytes-250", {"--readback-bytes", "250"}, {}, [](const Firmware &fw) {
             std::string line = UploadRecord('3', 0x1000, 4, fw.images[0].segments[0].data, 250);
             return Local("SioMsgRecv(): '" + line.substr(0, MDL_READBACK_LINE - 1) +
                          "' not terminated with end of line character !");
         }});
    // The same data for the other jobs: a verification that finds a
    // difference says only that; a read into a file takes whatever flash
    // holds, and whatever the instrument sends past the range.
    const std::vector<FaultCase> data(cases.end() - 3, cases.end());
    for (FaultCase c : data) {
        c.job = RUN_JOB_VERIFY;
        c.expect.outcome = c.expect.text; // the others derive theirs
        cases.push_back(c);
    }
    cases.push_back(data[2]);
    cases.back().job = RUN_JOB_READ;

    // A read-back must hold the first segment's range (0x1000, 256 bytes)
    // exactly, whatever the job: line 5 is its fourth S3 record.
    auto record = [](const Firmware &fw, uint32_t label, uint32_t offset) {
        return "'" + UploadRecord('3', label, 4, fw.images[0].segments[0].data + offset, 32) + "': ";
    };
    const std::vector<FaultCase> stream = {
        {"instrument:readback-cut",
         {"--fault", "readback:5:cut"},
         Local("Incomplete read-back of 0x00001000-0x000010FF: the instrument sent 96 of the 256 "
               "bytes asked for")},
        {"instrument:readback-skip", {"--fault", "readback:5:skip"}, {}, [&](const Firmware &fw) {
             return Local(record(fw, 0x1080, 128) + "record at 0x00001080 where 0x00001060 was to follow");
         }},
        {"instrument:readback-shift", {"--readback-shift", "256"}, {}, [&](const Firmware &fw) {
             return Local(record(fw, 0x1100, 0) + "the read-back starts at 0x00001100, the range at 0x00001000");
         }},
        {"instrument:readback-relative", {"--readback-relative"}, Ok()},
    };
    for (RunJob job : {RUN_JOB_UPLOAD, RUN_JOB_VERIFY, RUN_JOB_READ})
        for (FaultCase c : stream) {
            c.job = job;
            cases.push_back(c);
        }
    // A stop ends an instrument that asks for every record again, or that
    // stays busy, as any other stop.
    cases.push_back({"instrument:retryall-stop", {"--fault", "record:5:retryall"},
                     {UPLOAD_STOPPED, -1, "", "Upload stopped by user."}, {}, {}, RUN_JOB_UPLOAD,
                     "resends 0 3"});
    for (RunJob job : {RUN_JOB_UPLOAD, RUN_JOB_VERIFY, RUN_JOB_READ}) {
        bool upload = job == RUN_JOB_UPLOAD;
        cases.push_back({"instrument:busy-stop", {"--busy", "1000"},
                         {upload ? UPLOAD_STOPPED : VERIFY_STOPPED, -1, "",
                          std::string(upload ? "Upload" : job == RUN_JOB_VERIFY ? "Verification" : "Read-back") +
                              " stopped by user."},
                         {}, {}, job, "start"});
    }
    return cases;
}

void QuietLog(const char *, bool) {}

const char *const kJobNames[] = {"upload", "verify", "read"};

void RunCase(const FaultCase &c)
{
    SCOPED_TRACE(std::string(kJobNames[c.job]) + " " + c.name);
    FirmwareFile file(MatrixLayout());
    std::vector<std::string> options = {"--flash-step", "128", "--readback-bytes", "32"};
    if (c.job != RUN_JOB_UPLOAD) // the firmware was uploaded before
        options.insert(options.end(), {"--flash", file.path});
    options.insert(options.end(), c.options.begin(), c.options.end());
    SimProcess sim(options);
    ASSERT_FALSE(sim.Path().empty());
    RecordingView view;
    // A read of the first segment's range, without a file as the
    // command-line tool's: the first read-back of the others.
    Firmware none{};
    UploadRun run(c.job == RUN_JOB_READ ? none : file.firmware, file.path, view,
                  {c.job, true, {"/dev/null", false, 0x1000, 256}, RunFileStampOf(file.info), {}});

    // Only where the simulator's silence is certain is a time-out short.
    const bool timesOut = !c.derive && c.expect.result == UPLOAD_TIMEOUT;
    MdlSetTimings(kBusyPauseMs, timesOut ? kShortFlashTimeoutMs : kLongTimeoutMs);
    int fdsBefore = OpenFdCount();
    RunSetPortTimeout(timesOut ? kShortTimeoutMs : kLongTimeoutMs);
    std::string error;
    SioPort *port = RunOpenPort(sim.Path(), error);
    RunSetPortTimeout(RUN_PORT_TIMEOUT);
    ASSERT_NE(port, nullptr) << error;
    std::vector<int> seen(c.switches.size(), 0);
    view.onCall = [&](const std::string &call) {
        if (!c.stopAt.empty() && call == c.stopAt)
            run.RequestStop();
        for (size_t i = 0; i < c.switches.size(); i++)
            if (call.rfind(c.switches[i].call, 0) == 0 && ++seen[i] == c.switches[i].count)
                port->defaultTimeout = c.switches[i].timeoutMs;
    };

    auto start = std::chrono::steady_clock::now();
    auto elapsedMs = [&start] {
        return (int64_t)std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now() - start)
            .count();
    };
    ASSERT_TRUE(run.Start(port));
    if (c.stopAt == "start")
        run.RequestStop();
    while (run.WorkerRunning() && elapsedMs() <= kHangMs)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    int64_t took = elapsedMs();
    if (run.WorkerRunning()) {
        ADD_FAILURE() << "the run hangs after " << took << " ms";
        sim.Stop(); // the device vanishes, which ends any wait
    }
    run.Join();
    EXPECT_LE(took, kHangMs);
    EXPECT_EQ(OpenFdCount(), fdsBefore) << "the port was not closed";

    ASSERT_EQ(view.doneCount, 1);
    UploadResult result = (UploadResult)std::stoi(view.calls.back().substr(5));
    Expect want = c.derive ? c.derive(file.firmware) : c.expect;
    if (!want.alsoText.empty() && run.errorText == want.alsoText)
        want = Local(want.alsoText);
    if (want.text.find(kHangupRead) != std::string::npos) // the device went away
        want.outcome += "\n\n" RUN_PORT_LOST_ADVICE;
    if (c.job != RUN_JOB_UPLOAD && want.outcome.rfind("Upload ", 0) == 0)
        want.outcome.replace(0, 6, c.job == RUN_JOB_VERIFY ? "Verification" : "Read-back");
    EXPECT_EQ(result, want.result);
    EXPECT_EQ(run.errorCode, want.code);
    EXPECT_EQ(run.errorText, want.text);
    RunOutcome outcome = RunJobOutcomeText(c.job, result, run.errorCode, run.errorText,
                                           run.mismatch, run.deviceLost);
    EXPECT_EQ(outcome.text, want.outcome);
}

// One test per phase, so that the phases run side by side; each goes
// through its part of the table in one process.
class RunFaults : public testing::TestWithParam<std::string>
{
  protected:
    void SetUp() override { LogOpen(nullptr, QuietLog, nullptr, false); }
    void TearDown() override { MdlSetTimings(2000, 30000); }
};

} // namespace

TEST_P(RunFaults, EveryFaultEndsCleanlyWithItsMessage)
{
    int count = 0;
    for (const FaultCase &c : Cases()) {
        if (c.name.rfind(GetParam() + ":", 0) != 0)
            continue;
        RunCase(c);
        count++;
    }
    EXPECT_GE(count, GetParam() == "instrument" ? 3 : 13); // every kind at least once
}

INSTANTIATE_TEST_SUITE_P(Matrix, RunFaults,
                         testing::Values("handshake", "job", "readjob", "finish", "record", "end",
                                         "flash", "readback", "instrument"),
                         [](const testing::TestParamInfo<std::string> &info) {
                             return info.param;
                         });
