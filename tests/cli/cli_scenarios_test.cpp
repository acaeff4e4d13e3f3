// The run scenarios, run by mirdel-cli against mirdel-sim: its exit status,
// what it printed, its log and the instrument's flash.
#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>

#include "tests/common/cli_run.h"
#include "tests/common/scenarios.h"
#include "tests/common/sim_process.h"

TEST(CliScenarios, EndAsTheTableSays)
{
    char folder[] = "/tmp/mirdel-cliscen-XXXXXX";
    ASSERT_TRUE(mkdtemp(folder));
    const std::vector<Scenario> rows = ScenarioRead();
    ASSERT_GE(rows.size(), 20u);
    for (const Scenario &row : rows) {
        if (!row.NotHere("cli").empty())
            continue;
        SCOPED_TRACE(row.name);
        ScenarioRun run(row, folder);
        std::unique_ptr<SimProcess> sim(row.NoPort() ? nullptr : new SimProcess(run.SimOptions()));
        std::vector<std::string> args = {row.job == "verify" ? "verify" : "upload", "--port",
                                         sim ? sim->Path() : "/nonexistent/mirdel-tty", "-l",
                                         run.log};
        if (row.job == "no-verify" || row.user == "yes")
            args.push_back(row.job == "no-verify" ? "--no-verify" : "--yes");
        args.push_back(run.fw);
        std::function<bool(const std::string &)> stopWhen;
        if (row.Stops())
            stopWhen = [&](const std::string &) { return sim->WaitForLine(row.StopAt(), 1, 0); };
        CliRun r = RunCliProgram(args, stopWhen, SIGINT, "MIRDEL_PORT_TIMEOUT_MS=1000",
                                 [&] { sim->Release(); });
        if (sim && row.job == "verify") { // a verification writes nothing
            EXPECT_FALSE(sim->WaitForLine("< MIRDEL", 1, 0));
        }
        if (sim)
            sim->Stop();
        EXPECT_EQ(ScenarioDifferences(run, run.End(r.status, r.out + r.err, RUN_ICON_NONE)), "");
    }
    std::cout << ScenarioSummary("cli", rows);
    std::filesystem::remove_all(folder);
}
