// Whole runs against mirdel-sim: results, failure texts, what reached the
// instrument, and the port opening.
#include <algorithm>
#include <fcntl.h>
#include <sys/file.h>

#include "run_helpers.h"
#include "serial/sio.h"
#include "support/log.h"
#include "tests/common/sim_process.h"

namespace
{

long CountPrefix(const std::vector<std::string> &lines, const std::string &prefix)
{
    return std::count_if(lines.begin(), lines.end(),
                         [&](const std::string &l) { return l.rfind(prefix, 0) == 0; });
}

std::vector<std::string> LogLines;
void KeepLogLine(const char *line, bool)
{
    LogLines.push_back(line);
}

struct RunCase {
    const char *name;
    std::vector<std::string> sim;
    std::vector<UploadImageLayout> layout;
    std::string stopOn; // Stop is pressed at the stopCount-th view call so beginning
    int stopCount;
    UploadResult result;
    int code;
    std::string text;
    // Lines the simulator received (or, beginning with "> ", sent).
    std::vector<std::string> received, notReceived;
    long s3 = -1; // S3 records received, when >= 0
    // From the shortAt-th record taken on, where the simulator's silence is
    // certain, the port's time-out is short.
    int shortAt = 0;
};

// Mismatch text for segment j of image i.
std::string Mismatch(int j, int i, const char *address, const char *size, const char *offset)
{
    return "Verification failed for segment #" + std::to_string(j) + " of image #" +
           std::to_string(i) +
           ":\n\nFlash memory contents does not match the original\ndata from the firmware "
           "file.\n\n"
           "Segment's flash address: " +
           address + "\nSegment's size: " + size + "\nData mismatch at offset: " + offset;
}

} // namespace

TEST(RunSim, OutcomesAgainstTheSimulator)
{
    const std::vector<RunCase> cases = {
        {"ok",
         {},
         SmallLayout(),
         "",
         0,
         UPLOAD_OK,
         -1,
         "",
         {"MIRDEL -r 4096:2048", "MIRDEL -r 131072:1024", "MIRDEL -r 133120:512",
          "MIRDEL -r 262144:300", "MIRDEL DONE"},
         {},
         64 + 32 + 16 + 10},
        // Segment #1 of image #2 lies at 0x20800; later segments are not read.
        {"corrupt",
         {"--corrupt", std::to_string(0x20800 + 0x123)},
         SmallLayout(),
         "",
         0,
         UPLOAD_FAILED,
         -1,
         Mismatch(1, 2, "133,120 = 0x20800", "512 = 0x200", "291 = 0x123"),
         {},
         {"MIRDEL -r 262144:300", "MIRDEL DONE"}},
        {"first 16 bytes skipped",
         {"--corrupt", std::to_string(0x1000 + 15)},
         SmallLayout(),
         "",
         0,
         UPLOAD_OK,
         -1,
         "",
         {"MIRDEL DONE"},
         {}},
        // Offset and size count from the segment's first byte.
        {"byte 16 compared",
         {"--corrupt", std::to_string(0x1000 + 16)},
         SmallLayout(),
         "",
         0,
         UPLOAD_FAILED,
         -1,
         Mismatch(0, 0, "4,096 = 0x1000", "2,048 = 0x800", "16 = 0x10"),
         {},
         {"MIRDEL DONE"}},
        {"first segment below 16 bytes",
         {"--corrupt", std::to_string(0x5003)},
         {{0x5000, "Tiny", {{0x0, 5}}}},
         "",
         0,
         UPLOAD_OK,
         -1,
         "",
         {"MIRDEL DONE"},
         {}},
        // The tenth record is the S0 and nine S3; the stop is seen at the next.
        {"stop in upload",
         {},
         SmallLayout(),
         "bar 0",
         10,
         UPLOAD_STOPPED,
         -1,
         "",
         {". STOPPED"},
         {".", "MIRDEL DONE"},
         10},
        {"stop in flash writing",
         {"--flash-step", "512", "--flash-delay", "30"},
         SmallLayout(),
         "label 1 bold",
         1,
         UPLOAD_STOPPED,
         -1,
         "",
         {".", "> +OK ."},
         {"MIRDEL -r 4096:2048", "MIRDEL DONE"}},
        {"stop in verification",
         {},
         SmallLayout(),
         "bar 2",
         3,
         VERIFY_STOPPED,
         -1,
         "",
         {"MIRDEL -r 4096:2048", "+STOP"},
         {"MIRDEL -r 131072:1024", "MIRDEL DONE"}},
        // The third record (S0 and two S3) goes unanswered.
        {"time-out",
         {"--fault", "record:3:silent"},
         SmallLayout(),
         "",
         0,
         UPLOAD_TIMEOUT,
         -1,
         "",
         {},
         {"."},
         2,
         2},
        {"refused record",
         {"--fault", "record:2:refuse:Flash %s locked"},
         SmallLayout(),
         "",
         0,
         UPLOAD_FAILED,
         MDL_ERR_INSTRUMENT,
         "Flash %s locked",
         {},
         {"MIRDEL DONE"},
         1},
        {"refused flash writing",
         {"--fault", "flash:2:refuse:Sector 3 erase failed"},
         SmallLayout(),
         "",
         0,
         UPLOAD_FAILED,
         MDL_ERR_INSTRUMENT,
         "Sector 3 erase failed",
         {},
         {"MIRDEL -r 4096:2048"}},
        {"refused read-back",
         {"--fault", "readjob:2:refuse:No such range"},
         SmallLayout(),
         "",
         0,
         UPLOAD_FAILED,
         MDL_ERR_INSTRUMENT,
         "No such range",
         {"MIRDEL -r 131072:1024"},
         {"MIRDEL -r 133120:512"}},
    };
    LogOpen(nullptr, KeepLogLine, nullptr, false);
    for (const RunCase &c : cases) {
        SCOPED_TRACE(c.name);
        SimProcess sim(c.sim);
        FirmwareFile file(c.layout);
        RecordingView view;
        std::unique_ptr<UploadRun> run =
            std::make_unique<UploadRun>(file.firmware, file.path, view);
        std::string error;
        SioPort *port = RunOpenPort(sim.Path(), error);
        ASSERT_NE(port, nullptr) << error;
        int calls = 0, taken = 0;
        view.onCall = [&](const std::string &call) {
            if (!c.stopOn.empty() && call.rfind(c.stopOn, 0) == 0 && ++calls == c.stopCount)
                run->RequestStop();
            if (call.rfind("bar 0 ", 0) == 0 && ++taken == c.shortAt)
                port->defaultTimeout = 300; // on the worker's thread, between waits
        };
        ASSERT_TRUE(run->Start(port));
        run->Join();
        EXPECT_FALSE(run->WorkerRunning());
        EXPECT_EQ(view.doneCount, 1);
        EXPECT_EQ(view.calls.back(), "done " + std::to_string((int)c.result));
        EXPECT_EQ(run->errorCode, c.code);
        EXPECT_EQ(run->errorText, c.text);

        // Lines sent without an answer awaited may still be on their way.
        std::vector<std::string> rx, all;
        auto seen = [&](const std::string &l) {
            return std::find(all.begin(), all.end(), l.rfind("> ", 0) == 0 ? l : "< " + l) !=
                   all.end();
        };
        for (int i = 0; i < 200; i++) {
            rx = sim.Received();
            all = sim.Transcript();
            if (c.received.empty() || seen(c.received.back()))
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        for (const std::string &l : c.received)
            EXPECT_TRUE(seen(l)) << l;
        for (const std::string &l : c.notReceived)
            EXPECT_FALSE(seen(l)) << l;
        if (c.s3 >= 0) {
            EXPECT_EQ(CountPrefix(rx, "S3"), c.s3);
        }
        if (c.result == UPLOAD_OK && c.layout.size() == 4) {
            // N + 2 handshakes for N segments; the finish comes last.
            EXPECT_EQ(CountPrefix(rx, ":DIAG:UPDATE"), 4 + 2);
            EXPECT_EQ(rx.back(), "MIRDEL DONE");
        }
        // After a stop nothing moves but the number of the event under way;
        // the flash writing alone goes on to its end, with its note.
        if (!c.stopOn.empty()) {
            bool inFlash = RecordingView::GoesOn(c.stopOn);
            auto it = std::find_if(view.calls.rbegin() + 1, view.calls.rend(),
                                   [](const std::string &s) { return s.rfind("percent", 0) != 0; });
            EXPECT_EQ(it->rfind(inFlash ? "label 1 normal" : c.stopOn, 0), 0u) << *it;
            EXPECT_EQ(view.Calls("stopping 1").size(), inFlash ? 1u : 0u);
        }
    }
}

TEST(RunSim, LabelsAndVerifySwitch)
{
    SimProcess sim;
    FirmwareFile file(SmallLayout());
    for (bool verify : {true, false}) {
        RecordingView view;
        RunOptions options;
        options.verify = verify;
        std::string error;
        SioPort *port = RunOpenPort(sim.Path(), error);
        ASSERT_NE(port, nullptr) << error;
        UploadRun run(file.firmware, file.path, view, options);
        ASSERT_TRUE(run.Start(port));
        run.Join();
        std::vector<std::string> labels = {"label 0 bold  Uploading ...",
                                           "label 0 normal  Uploading ... done.",
                                           "label 1 bold  Writing to flash memory ...",
                                           "label 1 normal  Writing to flash memory ... done.",
                                           "label 2 bold  Verifying ...",
                                           "label 2 normal  Verifying ... done."};
        if (!verify)
            labels.resize(4);
        EXPECT_EQ(view.Calls("label"), labels);
        EXPECT_EQ(view.calls.back(), "done 0");
        for (int g = 0; g < (verify ? 3 : 2); g++)
            EXPECT_EQ(view.shown[g] * 100, view.bars[g]) << g;
        EXPECT_EQ(view.shown[0], 100);
    }
    // Upload and finish without verification: two more handshakes, no read-back.
    std::vector<std::string> rx = sim.Received();
    EXPECT_EQ(CountPrefix(rx, ":DIAG:UPDATE"), 6 + 2);
    EXPECT_EQ(CountPrefix(rx, "MIRDEL -r"), 4);
    EXPECT_EQ(rx.back(), "MIRDEL DONE");
}

// The events each job gives, in order: "S<group>" a phase started, "E<group>"
// it ended, then the result; every phase that ran ends at its full bar.
TEST(RunSim, EventsOfEveryJob)
{
    SimProcess sim;
    FirmwareFile file(SmallLayout());
    std::string out = file.path + ".read";
    struct JobCase {
        RunJob job;
        bool verify;
        const char *events;
    } cases[] = {
        {RUN_JOB_UPLOAD, true, "S0 E0 S1 E1 S2 E2 done 0"},
        {RUN_JOB_UPLOAD, false, "S0 E0 S1 E1 done 0"},
        {RUN_JOB_VERIFY, true, "S2 E2 done 0"},
        {RUN_JOB_READ, true, "S2 E2 done 0"},
    };
    for (const JobCase &c : cases) {
        SCOPED_TRACE(c.events);
        RecordingView view;
        RunOptions options;
        options.job = c.job;
        options.verify = c.verify;
        options.read = {out, true, 0x20000, 1536};
        std::string error, events;
        SioPort *port = RunOpenPort(sim.Path(), error);
        ASSERT_NE(port, nullptr) << error;
        Firmware none{}; // a read-back has no file
        UploadRun run(c.job == RUN_JOB_READ ? none : file.firmware, file.path, view, options);
        ASSERT_TRUE(run.Start(port));
        run.Join();
        for (const std::string &call : view.calls)
            if (call.rfind("label", 0) == 0)
                events +=
                    (call.find("bold") != std::string::npos ? "S" : "E") + call.substr(6, 1) + " ";
        EXPECT_EQ(events + view.calls.back(), c.events) << run.errorText;
        for (int g = 0; g < RUN_GROUP_COUNT; g++)
            EXPECT_EQ(view.bars[g],
                      view.Calls("label " + std::to_string(g)).empty() ? 0 : RUN_BAR_MAX);
    }
    std::remove(out.c_str());
}

TEST(RunSim, PortOpeningAndWorkerStart)
{
    LogLines.clear();
    LogOpen(nullptr, KeepLogLine, nullptr, false);
    SimProcess sim;
    // Another program holding the device locked, as a second Mirdel would.
    int held = open(sim.Path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);
    std::string error;
    EXPECT_EQ(RunOpenPort(sim.Path(), error), nullptr);
    EXPECT_EQ(error, sim.Path() + ": Device or resource busy <ERROR_ACCESS_DENIED>"
                                  "\n\nThe port may be already in use in other application");
    ASSERT_FALSE(LogLines.empty());
    EXPECT_EQ(LogLines.back(), "CDownloadDlg::SioOpen(): ::SioOpen(): " + sim.Path() +
                                   ": Device or resource busy <ERROR_ACCESS_DENIED>");
    close(held);

    EXPECT_EQ(RunOpenPort("ttyMirdelNoSuchPort", error), nullptr);
    EXPECT_EQ(error, "/dev/ttyMirdelNoSuchPort: No such file or directory <ERROR_FILE_NOT_FOUND>"
                     "\n\nThe device is not there: check the cable and the USB serial adapter, and "
                     "choose a port that exists ('mirdel-cli ports' lists them).");

    // A worker that cannot start leaves nothing half done: the port is
    // closed and can be opened again at once.
    FirmwareFile file(SmallLayout());
    RecordingView view;
    SioPort *port = RunOpenPort(sim.Path(), error);
    ASSERT_NE(port, nullptr) << error;
    {
        UploadRun run(file.firmware, file.path, view);
        RunFailNextThreadStart();
        EXPECT_FALSE(run.Start(port));
        EXPECT_FALSE(run.WorkerRunning());
    }
    EXPECT_TRUE(view.calls.empty());
    EXPECT_EQ(LogLines.back().rfind("CDownloadDlg::OnStart(): CreateThread(): ", 0), 0u)
        << LogLines.back();
    port = RunOpenPort(sim.Path(), error);
    ASSERT_NE(port, nullptr) << error;
    UploadRun again(file.firmware, file.path, view);
    ASSERT_TRUE(again.Start(port));
    again.Join();
    EXPECT_EQ(view.calls.back(), "done 0");
}

TEST(RunSim, AFileChangedSinceItsAnalysisIsNotSent)
{
    FirmwareFile file(SmallLayout());
    std::ofstream(file.path, std::ios::app) << "# rebuilt\n";
    SimProcess sim;
    RecordingView view;
    RunOptions options;
    options.file = RunFileStampOf(file.info);
    UploadRun run(file.firmware, file.path, view, options);
    std::string error;
    SioPort *port = RunOpenPort(sim.Path(), error);
    ASSERT_NE(port, nullptr) << error;
    EXPECT_EQ(run.RunUpload(port), UPLOAD_FAILED);
    SioClose(port);
    EXPECT_EQ(run.errorText, "The firmware file has changed since it was analysed:\n\n" +
                                 file.path + "\n\nOpen it again to check and upload what it holds now.");
    EXPECT_TRUE(sim.Received().empty());
}
