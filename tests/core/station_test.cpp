// The station with stand-in children (shell scripts): a child without a
// result line, and a stop passed on to every child. The real children,
// mirdel-cli against mirdel-sim, are in the command-line tests.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <string>
#include <vector>

#include "core/station.h"
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
    };
    Firmware firmware{};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.body);
        std::ofstream(script) << "#!/bin/sh\nresult() { echo '{\"event\":\"result\",\"outcome\":"
                                 "\"Ended.\",\"exit_status\":'$1'}'; }\n"
                              << c.body << "\n";
        chmod(script.c_str(), 0700);
        StationJob job;
        job.program = script;
        job.path = script;
        job.firmware = &firmware;
        job.ports = {"A", "B"};
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
        for (size_t i = 0; i < 2; i++) {
            EXPECT_EQ(station.Ports()[i].status, c.status);
            EXPECT_EQ(!seen.lost[i].empty(), c.lost);
            std::string outcome;
            if (c.lost) {
                EXPECT_TRUE(JsonGetString(seen.lost[i], "outcome", outcome));
                EXPECT_EQ(outcome,
                          "mirdel-cli: the run for " + job.ports[i] + " ended without a result");
            }
        }
    }
    std::remove(script.c_str());
}
