// Start and Stop, again and again, against one simulator: Stop pressed on
// the test's own thread (as the dialog's thread does) at chosen and at
// random moments. Every run ends with its stop result, and nothing stays
// behind: no worker, no descriptor.
#include <atomic>
#include <chrono>
#include <thread>

#include "proc_counts.h"
#include "protocol/mdl_pc.h"
#include "run_helpers.h"
#include "serial/sio.h"
#include "support/log.h"
#include "tests/common/sim_process.h"

namespace
{

// Holds the worker at the n-th view call beginning with a prefix until the
// test thread has pressed Stop: the dialog's synchronous messages hold the
// worker the same way while its thread handles them.
class GateView : public RecordingView
{
  public:
    GateView(const std::string &prefix, int n)
    {
        onCall = [this, prefix, n](const std::string &call) {
            workerTid = gettid();
            if (prefix.empty() || call.rfind(prefix, 0) != 0 || ++seen_ != n)
                return;
            gateAt = (int)calls.size() - 1;
            reached.store(true);
            while (!released.load())
                std::this_thread::sleep_for(std::chrono::microseconds(200));
        };
    }
    std::atomic<bool> reached{false};
    std::atomic<bool> released{false};
    int gateAt = -1; // index of the call the worker was held at
    pid_t workerTid = 0;

  private:
    int seen_ = 0;
};

struct StopPoint {
    const char *what;
    std::string prefix; // empty: no gate
    int count;          // the gate's call, 1-based
    UploadResult result;
};

bool WaitFor(const std::atomic<bool> &flag, int ms)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!flag.load() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    return flag.load();
}

void QuietLog(const char *, bool) {}

} // namespace

TEST(RunCycles, StartAndStopManyTimes)
{
    // Both threads write the log, to its file too: the worker every
    // acknowledgement with a text, the test's thread while it waits.
    char logName[] = "/tmp/mirdel-cycles-XXXXXX";
    int logFd = mkstemp(logName);
    ASSERT_GE(logFd, 0);
    close(logFd);
    ASSERT_TRUE(LogOpen(logName, QuietLog, "cycles", false));
    // Eight flash indications, each after a short pause, so that a stop can
    // fall into the writing.
    SimProcess sim({"--flash-step", "512", "--flash-delay", "2", "--ack-text", "taken"});
    ASSERT_FALSE(sim.Path().empty());
    FirmwareFile file(SmallLayout()); // 130 records, 122 read-back records with data

    const int fdsBefore = OpenFdCount();
    uint32_t seed = 12345;
    auto next = [&seed](uint32_t n) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) % n;
    };

    const int kCycles = 30;
    int stoppedInUpload = 0, stoppedInVerify = 0;
    for (int cycle = 0; cycle < kCycles; cycle++) {
        StopPoint p;
        bool atRandom = false;
        switch (cycle % 6) {
        case 0:
            p = {"right away", "", 0, UPLOAD_STOPPED};
            break;
        case 1:
            p = {"after some records", "bar 0", 1 + (int)next(129), UPLOAD_STOPPED};
            break;
        case 2:
            // The writing cannot be stopped: the stop is seen after it.
            p = {"during flash writing", next(2) ? "label 1 bold" : "bar 1", 1 + (int)next(4),
                 UPLOAD_STOPPED};
            if (p.prefix == "label 1 bold")
                p.count = 1;
            break;
        case 3:
            p = {"during verification", "bar 2", 1 + (int)next(122), VERIFY_STOPPED};
            break;
        case 4:
            // After the last read-back, before the finish.
            p = {"at the end of verification", "label 2 normal", 1, VERIFY_STOPPED};
            break;
        default:
            p = {"at a random moment", "", 0, UPLOAD_OK};
            atRandom = true;
            break;
        }
        SCOPED_TRACE(std::string(p.what) + " (cycle " + std::to_string(cycle) + ", " + p.prefix +
                     " #" + std::to_string(p.count) + ")");

        GateView view(p.prefix, p.count);
        UploadRun run(file.firmware, file.path, view);
        std::string error;
        SioPort *port = RunOpenPort(sim.Path(), error);
        ASSERT_NE(port, nullptr) << error;
        ASSERT_TRUE(run.Start(port));
        EXPECT_TRUE(run.WorkerRunning());
        if (atRandom) {
            for (uint32_t ms = next(60); ms > 0; ms--) {
                Log("%s(): cycle %d, %lu ms to go", "RunCycles", cycle, (unsigned long)ms);
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            run.RequestStop();
        } else if (p.prefix.empty()) {
            run.RequestStop();
        } else {
            EXPECT_TRUE(WaitFor(view.reached, 10000));
            run.RequestStop();
            view.released.store(true);
        }
        // The worker leaves on its own; Join only collects it.
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (run.WorkerRunning() && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_FALSE(run.WorkerRunning());
        run.Join();
        EXPECT_FALSE(run.WorkerRunning());
        EXPECT_EQ(OpenFdCount(), fdsBefore);
        ASSERT_NE(view.workerTid, 0);
        EXPECT_NE(view.workerTid, gettid());
        EXPECT_TRUE(ThreadGone(view.workerTid));

        ASSERT_EQ(view.doneCount, 1);
        UploadResult result = (UploadResult)std::stoi(view.calls.back().substr(5));
        EXPECT_EQ(run.errorText, "");
        if (atRandom) {
            EXPECT_TRUE(result == UPLOAD_STOPPED || result == VERIFY_STOPPED || result == UPLOAD_OK)
                << result;
        } else {
            EXPECT_EQ(result, p.result);
        }
        stoppedInUpload += result == UPLOAD_STOPPED;
        stoppedInVerify += result == VERIFY_STOPPED;
        // Once Stop is pressed the groups stand still: after the held call
        // only the number of that same event may follow, then the end. The
        // flash writing alone goes on, to its end.
        if (!p.prefix.empty()) {
            ASSERT_GE(view.gateAt, 0);
            const std::string &held = view.calls[view.gateAt];
            std::string number = "percent " + held.substr(held.find(' ') + 1, 2);
            for (size_t i = view.gateAt + 1; i + 1 < view.calls.size(); i++)
                EXPECT_TRUE(RecordingView::GoesOn(view.calls[i]) ||
                            view.calls[i].rfind(number, 0) == 0)
                    << view.calls[i];
        }
    }
    EXPECT_GE(stoppedInUpload, kCycles / 3);
    EXPECT_GE(stoppedInVerify, kCycles / 6);

    // The instrument is still in order: a last run goes through.
    RecordingView view;
    UploadRun run(file.firmware, file.path, view);
    std::string error;
    SioPort *port = RunOpenPort(sim.Path(), error);
    ASSERT_NE(port, nullptr) << error;
    ASSERT_TRUE(run.Start(port));
    run.Join();
    EXPECT_EQ(view.calls.back(), "done 0");
    EXPECT_EQ(OpenFdCount(), fdsBefore);
    LogClose();
    std::remove(logName);
}
