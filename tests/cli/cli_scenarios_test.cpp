// The run scenarios, run by mirdel-cli against mirdel-sim: its exit status,
// what it printed, its log and the instrument's flash.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

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
        if (row.job == "backup")
            args.insert(args.end(), {"--backup", run.backupDir});
        args.push_back(run.fw);
        std::function<bool(const std::string &)> stopWhen;
        if (row.Stops())
            stopWhen = [&](const std::string &) { return sim->WaitForLine(row.StopAt(), 1, 0); };
        CliRun r = RunCliProgram(args, stopWhen, SIGINT,
                                 "MIRDEL_PORT_TIMEOUT_MS=" + std::to_string(row.TimeoutMs()),
                                 [&] { sim->Release(); });
        if (sim && row.job == "verify") { // a verification writes nothing
            EXPECT_FALSE(sim->WaitForLine("< MIRDEL", 1, 0));
        }
        if (sim)
            sim->Stop();
        ScenarioEnd end(r.status, r.out + r.err);
        end.port = args[2];
        EXPECT_EQ(ScenarioDifferences(run, end), "");
    }
    std::cout << ScenarioSummary("cli", rows);
    std::filesystem::remove_all(folder);
}

// The same rows on several ports at once, a batch of them per mirdel-cli:
// each port's result line (--json) ends as its row.
TEST(CliScenarios, SeveralPortsEndAsTheTableSays)
{
    char folder[] = "/tmp/mirdel-cliscen-XXXXXX";
    ASSERT_TRUE(mkdtemp(folder));
    const std::vector<Scenario> rows = ScenarioRead();
    for (const ScenarioBatch &batch : ScenarioBatches(rows, "cli-station")) {
        ScenarioStation<SimProcess> st(batch, folder, "", [](const ScenarioRun &run, size_t) {
            SimProcess *sim = run.row.NoPort() ? nullptr : new SimProcess(run.SimOptions());
            return std::pair(sim, sim ? sim->Path() : std::string("/nonexistent/tty"));
        });
        std::vector<std::string> args = {batch[0]->job == "verify" ? "verify" : "upload", "--json"};
        for (const std::string &port : st.ports)
            args.insert(args.end(), {"--port", port});
        if (batch[0]->job == "no-verify")
            args.push_back("--no-verify");
        if (batch[0]->job == "backup")
            args.insert(args.end(), {"--backup", st.runs[0]->backupDir});
        args.push_back(st.runs[0]->fw);
        std::function<bool(const std::string &)> stop;
        if (batch[0]->Stops())
            stop = [&](const std::string &) { return st.AllAtStop(); };
        CliRun r = RunCliProgram(args, stop, SIGINT,
                                 "MIRDEL_PORT_TIMEOUT_MS=" + std::to_string(batch[0]->TimeoutMs()),
                                 [&] { st.Release(); });
        std::map<std::string, nlohmann::json> results; // by port
        std::istringstream lines(r.out);
        for (std::string l; std::getline(lines, l);) {
            nlohmann::json j = nlohmann::json::parse(l, nullptr, false);
            if (j.value("event", "") == "result")
                results[j["port"]] = j;
        }
        for (size_t i = 0; i < batch.size(); i++) {
            const nlohmann::json &j = results[st.ports[i]];
            EXPECT_EQ(st.Differences(i, j.value("exit_status", -1), j.value("outcome", ""),
                                     RUN_ICON_NONE),
                      "");
        }
    }
    std::cout << ScenarioSummary("cli-station", rows);
    std::filesystem::remove_all(folder);
}
