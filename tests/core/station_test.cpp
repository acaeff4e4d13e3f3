// The station with stand-in children (shell scripts): a child without a
// result line, and a stop passed on to every child. The real children,
// mirdel-cli against mirdel-sim, are in the command-line tests.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>
#include <string>
#include <vector>

#include "core/station.h"
#include "platform/portwatch.h"
#include "firmware/mdl.h"
#include "support/json.h"

namespace
{

// Records what the station tells; asks for the stop once every port has
// begun a phase, when told to.
struct Seen : StationView {
    Station *station = nullptr;
    size_t begun = 0, ports = 0, stops = 0;
    std::vector<std::string> lost, notPassed;
    void PortLine(size_t, const std::string &event, const std::string &) override
    {
        if (event == "phase_start" && ++begun == ports && station)
            station->RequestStop();
    }
    void StopPassed(const std::vector<std::string> &why) override { stops++, notPassed = why; }
    void PortEnded(size_t, const std::string &lostResult) override { lost.push_back(lostResult); }
};

} // namespace

TEST(Station, LostResultsAndStops)
{
    const std::string script = "/tmp/mirdel-station-" + std::to_string(getpid()) + ".sh";
    struct Case {
        const char *body;
        bool stop;
        int status;
        bool lost, first = false, closed = false; // the stop before Run; stdin closed
    };
    const char *stopLine = "echo '{\"event\":\"phase_start\"}'\n"
                           "timeout 30 head -n 1 | grep -qx stop && result 1 && exit 1";
    const Case cases[] = {
        {"exit 0", false, CLI_EXIT_FAILED, true},
        {"exit 3", false, 3, true},
        {"result 0", false, 0, false},
        // Stopped by the line on its standard input, which waits there.
        {stopLine, true, 1, false},
        {stopLine, true, 1, false, true},
        // A child that closed its input cannot be told: the view hears why.
        {"exec 0<&-\necho '{\"event\":\"phase_start\"}'\nsleep 1\nresult 0", true, 0, false, false,
         true},
        {nullptr, false, CLI_EXIT_FAILED, true}, // no program: told at the start, with the reason
    };
    Firmware firmware{};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.body ? c.body : "no program");
        std::ofstream(script) << "#!/bin/sh\nresult() { echo '{\"event\":\"result\",\"outcome\":"
                                 "\"Ended.\",\"exit_status\":'$1'}'; }\n"
                              << (c.body ? c.body : "") << "\n";
        chmod(script.c_str(), 0700);
        StationJob job;
        job.program = c.body ? script : script + ".none";
        job.path = script;
        job.firmware = &firmware;
        job.ports = {"A", "B"};
        job.resultsFile = script + ".results";
        std::remove(job.resultsFile.c_str());
        Station station(job);
        Seen seen;
        seen.station = c.stop && !c.first ? &station : nullptr;
        seen.ports = job.ports.size();
        if (c.first)
            station.RequestStop();
        EXPECT_EQ(station.Run(seen), c.status);
        EXPECT_EQ(seen.stops, c.stop ? 1u : 0u);
        EXPECT_EQ(seen.notPassed,
                  std::vector<std::string>(c.stop ? 2 : 0, c.closed ? "send(): Broken pipe" : ""));
        ASSERT_EQ(seen.lost.size(), 2u);
        std::ifstream results(job.resultsFile);
        std::string line;
        for (int n = 0; n < 3; n++) // every port's result line, and no other
            EXPECT_EQ(std::getline(results, line) && line.find("\"event\":\"result\"") != std::string::npos, n < 2);
        std::remove(job.resultsFile.c_str());
        for (size_t i = 0; i < 2; i++) {
            EXPECT_EQ(station.Ports()[i].status, c.status);
            EXPECT_EQ(!seen.lost[i].empty(), c.lost);
            std::string outcome;
            if (c.lost) {
                EXPECT_TRUE(JsonGetString(seen.lost[i], "outcome", outcome));
                EXPECT_EQ(outcome,
                          "mirdel-cli: " +
                              (c.body ? "the run for " + job.ports[i] + " ended without a result"
                                      : "cannot start the run for " + job.ports[i] +
                                            ": posix_spawn(): No such file or directory"));
            }
        }
    }
    std::remove(script.c_str());
}

TEST(Station, RowsSummaryChecksAndPortWatch)
{
    auto port = [](bool running, const char *phase, int bar, int status, const char *outcome) {
        StationPort p;
        p.running = running;
        p.state.phase = phase;
        p.state.bar = bar;
        p.status = status;
        p.outcome = outcome;
        p.start = p.end = RunClock::now();
        return p;
    };
    struct Case {
        StationPort port;
        std::string phase, percent;
        RunIcon icon;
        bool note; // a stop was asked for
    };
    const Case cases[] = {
        {port(true, "", 0, CLI_EXIT_FAILED, ""), " starting ...", "0", RUN_ICON_NONE, false},
        {port(true, "flash", 4250, CLI_EXIT_FAILED, ""), " Writing to flash memory ...", "43",
         RUN_ICON_NONE, true},
        {port(false, "upload", 1200, 2, "Upload failed:\n\nno"), "Upload failed:", "12", RUN_ICON_STOP, false},
        {port(false, "verify", 9000, 1, "Verification stopped by user."), "Verification stopped by user.",
         "90", RUN_ICON_EXCLAMATION, false},
        {port(false, "verify", 9000, 0, "Upload successful."), "Upload successful.", "100",
         RUN_ICON_INFORMATION, false},
    };
    std::vector<StationPort> ports;
    for (const Case &c : cases) {
        StationRow row = StationRowOf(c.port, true, RunClock::now());
        EXPECT_EQ(row.phase + "|" + row.percent + "|" + row.elapsed, c.phase + "|" + c.percent + "|0:00");
        EXPECT_EQ(row.icon, c.icon);
        EXPECT_EQ(row.note != nullptr, c.note);
        EXPECT_EQ(row.outcome, c.port.running ? "" : c.port.outcome);
        ports.push_back(c.port);
    }
    EXPECT_EQ(StationSummary(ports), "1 succeeded, 1 stopped, 3 failed");

    StationJob job;
    std::string message;
    job.program = "/nonexistent/mirdel-cli";
    EXPECT_FALSE(StationCheckJob(job, message));
    // A window's run: woken, told the end, its rows and summary final after.
    Firmware firmware{};
    job.firmware = &firmware;
    job.ports = {"a", "b"};
    std::atomic<int> wakes{0}, status{-1};
    StationRun run(job, [&] { wakes++; }, [&](int s) { status = s; });
    for (int i = 0; i < 500 && status < 0; i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    run.Finish();
    EXPECT_EQ(status, CLI_EXIT_FAILED);
    EXPECT_GT(wakes, 0);
    EXPECT_EQ(run.Rows().size(), 2u);
    EXPECT_EQ(run.Rows()[1].icon, RUN_ICON_STOP);
    EXPECT_EQ(run.Summary(), "2 failed");
    EXPECT_EQ(message.rfind("The command-line tool that runs each port is missing:", 0), 0u);
    job.program = "/bin/sh";
    job.resultsFile = "/nonexistent/results.jsonl";
    EXPECT_FALSE(StationCheckJob(job, message));
    EXPECT_EQ(message, "The results file cannot be written:\n\n/nonexistent/results.jsonl: No such file or directory");

    // The tool beside the program, else in the bin folder the packages use.
    std::string base = testing::TempDir() + "mirdel-tool", self = base + "/lib/mirdel/mirdel";
    std::filesystem::remove_all(base);
    EXPECT_EQ(StationProgramPath(self), base + "/lib/mirdel/mirdel-cli");
    std::filesystem::create_directories(base + "/bin");
    std::ofstream(base + "/bin/mirdel-cli").put('\n');
    EXPECT_EQ(StationProgramPath(self), base + "/bin/mirdel-cli");
    std::filesystem::remove_all(base);

    // A device node made or removed is told.
    char dir[] = "/tmp/mirdel-dev-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    PlatSetPortWatchDir(dir);
    std::atomic<int> told{0};
    PlatPortWatch *watch = PlatPortWatchStart([](void *n) { ++*static_cast<std::atomic<int> *>(n); }, &told);
    ASSERT_NE(watch, nullptr);
    std::string node = std::string(dir) + "/ttyUSB9";
    for (int step = 0; step < 2; step++) {
        int before = told;
        step == 0 ? (void)std::ofstream(node) : (void)std::remove(node.c_str());
        for (int i = 0; i < 500 && told == before; i++)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_GT(told, before) << step;
    }
    PlatPortWatchStop(watch);
    PlatSetPortWatchDir(nullptr);
    rmdir(dir);
}
