// The run scenarios, run by mirdel-cli against mirdel-sim: its exit status,
// what it printed, its log and the instrument's flash.
#include <gtest/gtest.h>

#include <iostream>

#include "tests/common/cli_run.h"
#include "tests/common/scenarios.h"
#include "tests/common/sim_process.h"

TEST(CliScenarios, EndAsTheTableSays)
{
    const std::string tmp = "/tmp/mirdel-cliscen-" + std::to_string(getpid());
    const std::string fw = tmp + ".srec", log = tmp + ".log", dump = tmp + ".flash";
    const std::vector<Scenario> rows = ScenarioRead();
    ASSERT_GE(rows.size(), 20u);
    for (const Scenario &row : rows) {
        if (!row.NotHere("cli").empty())
            continue;
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(std::ofstream(fw) << ScenarioFirmwareText(row.firmware));
        std::remove(log.c_str());
        std::remove(dump.c_str());
        std::vector<std::string> options = row.sim;
        options.insert(options.end(), {"--flash-dump", dump});
        if (row.job == "verify")
            options.insert(options.end(), {"--flash", fw});
        std::unique_ptr<SimProcess> sim(row.NoPort() ? nullptr : new SimProcess(options));
        std::vector<std::string> args = {row.job == "verify" ? "verify" : "upload", "--port",
                                         sim ? sim->Path() : "/nonexistent/mirdel-tty", "-l", log};
        if (row.job == "no-verify" || row.user == "yes")
            args.push_back(row.job == "no-verify" ? "--no-verify" : "--yes");
        args.push_back(fw);
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
        ScenarioEnd end{r.status, r.out + r.err, RUN_ICON_NONE, ScenarioReadFile(log),
                        ScenarioReadFile(dump)};
        EXPECT_EQ(ScenarioDifferences(row, end, fw), "");
    }
    std::cout << ScenarioSummary("cli", rows);
    for (const std::string &f : {fw, log, dump})
        std::remove(f.c_str());
}
