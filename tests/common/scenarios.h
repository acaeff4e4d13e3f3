// The run scenarios of tests/data/run_scenarios.txt: the rows, their
// firmware, and what a front end's run of a row must have come to. Each
// front end's harness drives its own face; the rows and the checks are
// here, once. Header-only, portable (the Windows tests use it too).
#pragma once

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "core/run.h"
#include "core/scan.h"
#include "core/station.h"
#include "firmware/mdl.h"
#include "firmware/mdl_write.h"

struct Scenario {
    std::string name, firmware, job, user, flash, log, outcome, notHere;
    std::vector<std::string> sim; // the simulator's options; {"none"}: no port
    int exit = 0;
    RunIcon icon = RUN_ICON_NONE;

    bool Stops() const { return user.rfind("stop", 0) == 0; }
    // The transcript line at which Stop is pressed.
    std::string StopAt() const { return user.size() > 5 ? user.substr(5) : "# held"; }
    bool NoPort() const { return sim.size() == 1 && sim[0] == "none"; }
    // The port's time-out: short where the row waits for one, else long
    // enough for a hold of a loaded machine.
    int TimeoutMs() const { return exit == CLI_EXIT_TIMEOUT ? 1000 : 30000; }
    // Why face cannot run the row ("" when it can): "FACE...: why".
    std::string NotHere(const std::string &face) const
    {
        std::smatch m;
        std::regex names("(?:.* )?" + face + "(?: [^:]*)?: (.*)");
        return std::regex_match(notHere, m, names) ? m[1].str() : "";
    }
};

inline std::vector<Scenario> ScenarioRead(const std::string &path = MIRDEL_TEST_DATA
                                          "/run_scenarios.txt")
{
    std::vector<Scenario> rows;
    std::ifstream in(path);
    if (!in)
        throw std::runtime_error("no table of run scenarios at " + path);
    for (std::string line; std::getline(in, line);) {
        line.erase(line.find_last_not_of(" \t\r") + 1);
        if (line.empty() || line[0] == '#')
            continue;
        std::regex bar("\\s*\\|\\s*");
        std::vector<std::string> f(std::sregex_token_iterator(line.begin(), line.end(), bar, -1),
                                   {});
        f.resize(11);
        Scenario s{f[0], f[1], f[2], f[4], f[7], f[8], f[9], f[10], {}};
        // An option's value runs to the next option: a fault's text may have blanks.
        std::istringstream words(f[3]);
        for (std::string w; words >> w;)
            if (s.sim.empty() || w.rfind("--", 0) == 0 || s.sim.back().rfind("--", 0) == 0)
                s.sim.push_back(w);
            else
                s.sim.back() += " " + w;
        s.exit = std::atoi(f[5].c_str());
        s.icon = RunIcon(std::string("-i!x").find(f[6].empty() ? '?' : f[6][0]));
        rows.push_back(s);
    }
    return rows;
}

inline std::string ScenarioFirmwareText(const std::string &name, uint32_t seed = 5)
{
    static const std::map<std::string, std::vector<MdlImageLayout>> layouts = {
        {"sample",
         {{0x1000, "Boot", {{0x0, 1024}}}, {0x20000, "Main", {{0x0, 2048}, {0x1000, 256}}}}},
        {"overlap", {{0x1000, "A", {{0x0, 0x100}}}, {0x10FF, "B", {{0x0, 0x10}}}}},
        {"beyond", {{0xEFF00, "High", {{0x0, 0x101}}}}},
        {"empty", {{0x1000, "Empty", {}}}},
        {"nothing", {}}};
    return MdlFirmwareText(layouts.at(name), 32, seed); // a name not here throws
}

inline std::string ScenarioReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Whether shown holds expected, "..." in it standing for any text and
// every run of blanks and line breaks for any other (a terminal wraps the
// texts a box shows whole).
inline bool ScenarioShows(const std::string &shown, const std::string &expected)
{
    std::string pattern;
    for (char c : expected)
        if (std::isspace((unsigned char)c))
            pattern +=
                pattern.size() >= 3 && pattern.substr(pattern.size() - 3) == "\\s+" ? "" : "\\s+";
        else
            pattern += (std::strchr("\\^$.|?*+()[]{}", c) ? "\\" : "") + std::string(1, c);
    const std::string dots = "\\.\\.\\.";
    for (size_t at; (at = pattern.find(dots)) != std::string::npos;)
        pattern.replace(at, dots.size(), "[^]*");
    return std::regex_search(shown, std::regex(pattern, std::regex::ECMAScript));
}

// Whether the simulator's flash dump (S3 records) holds every byte of the
// firmware file at its flash address.
inline bool ScenarioFlashHolds(const std::string &dump, const std::string &firmwarePath)
{
    std::map<uint32_t, uint8_t> flash;
    std::istringstream lines(dump);
    for (std::string l; std::getline(lines, l);) {
        for (size_t i = 12; l.rfind("S3", 0) == 0 && i + 4 <= l.size(); i += 2)
            flash[std::stoul(l.substr(4, 8), nullptr, 16) + (i - 12) / 2] =
                static_cast<uint8_t>(std::stoul(l.substr(i, 2), nullptr, 16));
    }
    Firmware fw{};
    ScanFileInfo info;
    std::string message;
    bool holds = ScanFirmwareFile(firmwarePath.c_str(), &fw, &info, &message) == 1;
    for (int32_t i = 0; holds && i < fw.imageCount; i++)
        for (int32_t j = 0; j < fw.images[i].segmentCount; j++) {
            const FirmwareSegment &seg = fw.images[i].segments[j];
            uint32_t at = MdlFlashAddress(&fw.images[i], &seg);
            for (uint32_t k = 0; k < seg.size; k++)
                holds = holds && flash.count(at + k) && flash[at + k] == seg.data[k];
        }
    MdlFirmwareRelease(&fw);
    return holds;
}

// A window's progress groups: each one's label and bar position.
using ScenarioGroups = std::vector<std::pair<std::string, int>>;

// How a front end's run of a row ended: the program's exit status (-1: a
// window), the boxes' texts or the program's output, the last box's icon.
struct ScenarioEnd {
    ScenarioEnd(int e = -1, std::string t = "", RunIcon i = RUN_ICON_NONE)
        : exit(e), text(std::move(t)), icon(i)
    {
    }
    int exit;
    std::string text;
    RunIcon icon;
    bool logged = true; // false: the run kept no log of its own (a station's port)
    std::string port;   // the port the run was on, for its backup's name
    // A window's progress groups at Stop and at the last box, and whether
    // the note beside the flash writing showed then; none for the others.
    ScenarioGroups atStop, atBox;
    bool noteAtBox = false;
};

// One run of a row: its firmware file, log and flash dump in a folder of
// their own (simFolder: the same folder as the simulator names it), and
// the simulator's options that go with them.
struct ScenarioRun {
    const Scenario &row;
    std::string fw, log, dump, simFolder, older, backupDir;
    ScenarioRun(const Scenario &r, const std::string &folder, const std::string &simFolderName = "")
        : row(r), fw(folder + "/scenario.srec"), log(folder + "/scenario.log"),
          dump(folder + "/scenario.flash"),
          simFolder(simFolderName.empty() ? folder : simFolderName), older(folder + "/older.srec"),
          backupDir(folder + "/backups")
    {
        std::filesystem::create_directories(folder);
        std::ofstream(fw, std::ios::binary) << ScenarioFirmwareText(row.firmware);
        std::ofstream(older, std::ios::binary) << ScenarioFirmwareText(row.firmware, 6);
        std::filesystem::remove_all(backupDir);
        std::filesystem::create_directories(backupDir);
        std::remove(log.c_str());
        std::remove(dump.c_str());
    }
    std::vector<std::string> SimOptions() const
    {
        std::vector<std::string> o = row.sim;
        o.insert(o.end(), {"--flash-dump", simFolder + "/scenario.flash"});
        if (row.job == "verify" || row.job == "backup")
            o.insert(o.end(), {"--flash", simFolder + (row.job == "verify" ? "/scenario.srec"
                                                                           : "/older.srec")});
        return o;
    }
};

// What differs from the row, a line each, once the simulator has ended;
// empty when the run ended as the row says.
inline std::string ScenarioDifferences(const ScenarioRun &run, const ScenarioEnd &end)
{
    const Scenario &row = run.row;
    std::string d;
    if (end.exit >= 0 && end.exit != row.exit)
        d += "exit status " + std::to_string(end.exit) + ", not " + std::to_string(row.exit) + "\n";
    if ((end.exit < 0 || end.icon != RUN_ICON_NONE) && end.icon != row.icon)
        d += "icon " + std::to_string(end.icon) + ", not " + std::to_string(row.icon) + "\n";
    if (!ScenarioShows(end.text, row.outcome))
        d += "outcome: " + end.text + "\n";
    const std::string log = ScenarioReadFile(run.log);
    std::smatch m;
    std::string logLine =
        std::regex_search(log, m, std::regex("MIRDEL_ERROR: ([^\n]*)")) ? m[1].str() : "-";
    if (end.logged && (row.log == "-" ? logLine != "-" : !ScenarioShows(logLine, row.log)))
        d += "log: " + logLine + "\n";
    if (ScenarioFlashHolds(ScenarioReadFile(run.dump), run.fw) != (row.flash == "same"))
        d += "the flash is not " + row.flash + "\n";
    // A backup of the flash as it was, unless the run failed in the backup.
    std::string name = RunBackupFileName(end.port, 0), held;
    for (const auto &f : std::filesystem::directory_iterator(run.backupDir))
        if (f.path().filename().string().rfind(name.substr(0, name.find('-') + 1), 0) == 0)
            held += ScenarioFlashHolds(ScenarioReadFile(f.path().string()), run.older) ? "y" : "n";
    if (held != (row.job == "backup" && row.exit == 0 ? "y" : ""))
        d += "backups holding the flash as it was: " + held + "\n";
    // After success every group that ran is done; after Stop the groups stay
    // as they were, but for a flash writing under way, which ends with the
    // note beside it.
    bool moved = false;
    for (int g = 0;
         g < 3 && !end.atBox.empty() && (row.icon == RUN_ICON_INFORMATION || !end.atStop.empty());
         g++) {
        const std::string plain = RunGroupLabels[g], done = plain + " ... done.";
        bool ran = g < (row.job == "no-verify" ? 2 : 3);
        bool moves = !end.atStop.empty() && RunGroupMovesAfterStop(g) &&
                     end.atStop[g].first == plain + " ...";
        moved = moved || moves;
        auto want = end.atStop.empty() ? (ran ? std::pair(done, RUN_BAR_MAX) : std::pair(plain, 0))
                                       : (moves ? std::pair(done, RUN_BAR_MAX) : end.atStop[g]);
        if (end.atBox[g] != want)
            d += "group " + std::to_string(g) + ": " + end.atBox[g].first + ", not " + want.first +
                 "\n";
    }
    if (!end.atBox.empty() && end.noteAtBox != moved)
        d += "the flash note " + std::string(moved ? "not " : "") + "shown\n";
    return d;
}

// The rows a station runs together, one file and one time-out for all its
// ports: those of one job, all stopped once each has come to its stop
// line, or none.
using ScenarioBatch = std::vector<const Scenario *>;
inline std::vector<ScenarioBatch> ScenarioBatches(const std::vector<Scenario> &rows,
                                                  const std::string &face)
{
    std::map<std::string, ScenarioBatch> batches;
    for (const Scenario &r : rows)
        if (r.NotHere(face).empty())
            batches[r.job + (r.Stops() ? " stop " : " ") + std::to_string(r.TimeoutMs())].push_back(
                &r);
    std::vector<ScenarioBatch> out;
    for (const auto &b : batches)
        out.push_back(b.second);
    return out;
}

// One batch on a station: each row's run in folder/NAME (simFolder/NAME as
// the simulator names it) with the simulator and port name that start
// gives it (no simulator for a row without a port).
template <class Sim> struct ScenarioStation {
    using Start = std::function<std::pair<Sim *, std::string>(const ScenarioRun &, size_t)>;
    const ScenarioBatch &batch;
    std::vector<std::unique_ptr<ScenarioRun>> runs;
    std::vector<std::unique_ptr<Sim>> sims;
    std::vector<std::string> ports;
    bool logged = false; // whether the runs kept a log of their own
    std::string results; // a station window's result lines, folder/results.jsonl

    ScenarioStation(const ScenarioBatch &b, const std::string &folder, const std::string &simFolder,
                    const Start &start)
        : batch(b), results(folder + "/results.jsonl")
    {
        std::filesystem::remove(results);
        std::filesystem::remove_all(folder + "/backups");
        std::filesystem::create_directories(folder + "/backups");
        for (const Scenario *row : batch) {
            runs.emplace_back(
                new ScenarioRun(*row, folder + "/" + row->name,
                                (simFolder.empty() ? folder : simFolder) + "/" + row->name));
            runs.back()->backupDir = folder + "/backups";
            auto [sim, port] = start(*runs.back(), ports.size());
            sims.emplace_back(sim);
            ports.push_back(port);
        }
    }
    bool AllAtStop() const
    {
        for (size_t i = 0; i < batch.size(); i++)
            if (!sims[i]->WaitForLine(batch[i]->StopAt(), 1, 0))
                return false;
        return true;
    }
    void Release() const
    {
        for (const auto &sim : sims)
            sim->Release();
    }
    // What differs from port i's row once the station has ended (its
    // simulator ends here).
    std::string Differences(size_t i, int exit, const std::string &outcome, RunIcon icon)
    {
        sims[i].reset();
        ScenarioEnd end(exit, outcome, icon);
        end.logged = logged;
        end.port = ports[i];
        std::string d = ScenarioDifferences(*runs[i], end);
        return d.empty() ? d : batch[i]->name + ": " + d;
    }
    // The summary and its icon, the rows' statuses told as the core tells them.
    std::pair<std::string, RunIcon> Summary() const
    {
        std::vector<StationPort> statuses(batch.size());
        RunIcon worst = RUN_ICON_NONE;
        for (size_t i = 0; i < batch.size(); i++) {
            statuses[i].status = batch[i]->exit;
            worst = std::max(worst, batch[i]->icon);
        }
        return {StationSummary(statuses), worst};
    }
    // Port i's exit status in the result lines; -1 when it has none.
    int ResultStatus(size_t i) const
    {
        std::smatch m;
        std::string lines = ScenarioReadFile(results);
        std::regex line("\"port\":\"" + ports[i] + "\"[^\n]*\"exit_status\":([0-9]+)");
        return std::regex_search(lines, m, line) ? std::stoi(m[1]) : -1;
    }
};

// The line a harness ends with: the count of rows run, and why the others
// were not.
inline std::string ScenarioSummary(const std::string &face, const std::vector<Scenario> &rows)
{
    std::string skipped;
    for (const Scenario &r : rows)
        skipped += r.NotHere(face).empty() ? "" : "  " + r.name + ": " + r.NotHere(face) + "\n";
    size_t run = rows.size() - (size_t)std::count(skipped.begin(), skipped.end(), '\n');
    return face + ": " + std::to_string(run) + " of " + std::to_string(rows.size()) +
           " run scenarios run\n" + skipped;
}
