// The run scenarios, run by mirdel-cli against mirdel-sim: on one port its
// exit status, what it printed, its log and the instrument's flash; on
// several, each port's result line (--json).
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <iostream>

#include "tests/common/cli_run.h"
#include "tests/common/scenarios.h"
#include "tests/common/sim_process.h"

namespace
{

// The rows of batch on a simulator each (none for a row without a port).
struct CliStation : ScenarioStation<SimProcess> {
    CliStation(const ScenarioBatch &batch, const std::string &folder)
        : ScenarioStation(batch, folder, "", [](const ScenarioRun &run, size_t) {
              SimProcess *sim = run.row.NoPort() ? nullptr : new SimProcess(run.SimOptions());
              return std::pair(sim, sim ? sim->Path() : std::string("/nonexistent/tty"));
          })
    {
    }
    // mirdel-cli on every port with the batch's job, words added; Ctrl-C
    // once each simulator has come to its row's stop line.
    CliRun Run(const std::vector<std::string> &words)
    {
        const Scenario &row = *batch[0];
        std::vector<std::string> args = {row.job == "verify" ? "verify" : "upload"};
        for (const std::string &port : ports)
            args.insert(args.end(), {"--port", port});
        if (row.job == "no-verify" || row.user == "yes")
            args.push_back(row.job == "no-verify" ? "--no-verify" : "--yes");
        if (row.job == "backup")
            args.insert(args.end(), {"--backup", runs[0]->backupDir});
        args.insert(args.end(), words.begin(), words.end());
        args.push_back(runs[0]->fw);
        std::function<bool(const std::string &)> stop;
        if (row.Stops())
            stop = [this](const std::string &) { return AllAtStop(); };
        return RunCliProgram(args, stop, SIGINT,
                             "MIRDEL_PORT_TIMEOUT_MS=" + std::to_string(row.TimeoutMs()),
                             [this] { Release(); });
    }
};

} // namespace

TEST(CliScenarios, EndAsTheTableSays)
{
    char folder[] = "/tmp/mirdel-cliscen-XXXXXX";
    ASSERT_TRUE(mkdtemp(folder));
    const std::vector<Scenario> rows = ScenarioRead();
    for (const Scenario &row : rows) {
        if (!row.NotHere("cli").empty())
            continue;
        const ScenarioBatch one = {&row};
        CliStation st(one, folder);
        st.logged = true;
        CliRun r = st.Run({"-l", st.runs[0]->log});
        if (st.sims[0] && row.job == "verify") { // a verification writes nothing
            EXPECT_FALSE(st.sims[0]->WaitForLine("< MIRDEL", 1, 0)) << row.name;
        }
        EXPECT_EQ(st.Differences(0, r.status, r.out + r.err, RUN_ICON_NONE), "");
    }
    std::cout << ScenarioSummary("cli", rows);
    std::filesystem::remove_all(folder);
}

TEST(CliScenarios, SeveralPortsEndAsTheTableSays)
{
    char folder[] = "/tmp/mirdel-cliscen-XXXXXX";
    ASSERT_TRUE(mkdtemp(folder));
    const std::vector<Scenario> rows = ScenarioRead();
    for (const ScenarioBatch &batch : ScenarioBatches(rows, "cli-station")) {
        CliStation st(batch, folder);
        CliRun r = st.Run({"--json"});
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
