// The run scenarios, run by the upload dialog under Wine: for each row a
// mirdel-sim of its own (MIRDEL_SIM, the Linux build, started through the
// Unix shell) linked as COM12; the dialog's boxes, the log and the
// instrument's flash; on the way, the dialog's running and idle states.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "desktop_win32/downloaddlg.h"
#include "desktop_win32/mirdelapp.h"
#include "desktop_win32/resource.h"
#include "desktop_win32/stationdlg.h"
#include "support/log.h"
#include "tests/common/scenarios.h"
#include "tests/desktop_win32/win_ui_test.h"

namespace
{

const int kLabel[3] = {IDC_UPLOAD_LABEL, IDC_FLASH_LABEL, IDC_VERIFY_LABEL};
const int kBar[3] = {IDC_UPLOAD_BAR, IDC_FLASH_BAR, IDC_VERIFY_BAR};

// A command line of the Unix shell, as Wine starts it; false when it
// could not be started. Its handles stay open: closing a Unix process's
// handles under Wine made later dialogs of this program lose their least
// size.
bool Shell(const std::string &script)
{
    std::string line = "sh -c \"" + script + "\"";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    return CreateProcessA("Z:\\bin\\sh", &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &si, &pi);
}

// The simulator of one row on port com ("com12", as Wine names it), in a
// folder that both sides name: /tmp/NAME for it, Z:/tmp/NAME here. A
// SimProcess in what it offers.
class WineSim
{
  public:
    WineSim(const std::string &folder, const std::vector<std::string> &options,
            const std::string &com = "com12")
        : dir_(folder)
    {
        std::string args;
        for (const std::string &o : options)
            args += " '" + o + "'";
        for (const char *f : {"/sim.out", "/transcript", "/pid", "/ended"}) // of an earlier run
            DeleteFileA(("Z:" + dir_ + f).c_str());
        if (Shell("$MIRDEL_SIM --time-limit 120 --link $WINEPREFIX/dosdevices/" + com +
                  " --transcript " + dir_ + "/transcript" + args + " >" + dir_ +
                  "/sim.out & echo $! >" + dir_ + "/pid; wait; echo >" + dir_ + "/ended"))
            WinPump(10000, [&] { return Has("/sim.out", ""); });
    }
    ~WineSim()
    {
        Signal("TERM");
        WinPump(10000, [&] { return Has("/ended", ""); });
    }
    bool WaitForLine(const std::string &l, size_t, int) const { return Has("/transcript", l); }
    void Release() const { Signal("USR1"); }

  private:
    bool Has(const std::string &file, const std::string &line) const
    {
        std::ifstream in("Z:" + dir_ + file);
        for (std::string l; std::getline(in, l);)
            if (line.empty() || l == line)
                return true;
        return false;
    }
    void Signal(const char *name) const
    {
        Shell(std::string("kill -") + name + " $(cat " + dir_ + "/pid)");
    }

    std::string dir_;
};

ScenarioGroups Groups(HWND dlg)
{
    ScenarioGroups s;
    for (int g = 0; g < 3; g++)
        s.push_back({WinItemText(dlg, kLabel[g]),
                     static_cast<int>(SendDlgItemMessageA(dlg, kBar[g], PBM_GETPOS, 0, 0))});
    return s;
}

// What the dialog shows beyond its file: its title, default button and
// size and, for each control, its text and whether it is enabled and shown.
std::string State(HWND dlg)
{
    RECT r;
    GetWindowRect(dlg, &r);
    std::string s = WinText(dlg) + std::to_string(LOWORD(SendMessageA(dlg, DM_GETDEFID, 0, 0))) +
                    " " + std::to_string(r.bottom - r.top);
    for (HWND c = GetWindow(dlg, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        s += "|" + WinText(c) + (IsWindowEnabled(c) ? "+" : "-") + (IsWindowVisible(c) ? "" : "h");
    for (const auto &group : Groups(dlg))
        s += " " + std::to_string(group.second);
    return s;
}

// The table and the simulator, as scripts/test-windows names them.
testing::AssertionResult Ready()
{
    if (std::getenv("MIRDEL_SCENARIOS") && std::getenv("MIRDEL_SIM"))
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "MIRDEL_SCENARIOS and MIRDEL_SIM name no table and "
                                          "simulator: scripts/test-windows sets them";
}

} // namespace

TEST(UploadScenarios, EndAsTheTableSays)
{
    ASSERT_TRUE(Ready());
    const std::vector<Scenario> rows = ScenarioRead(std::getenv("MIRDEL_SCENARIOS"));
    const std::string folder = "/tmp/mirdel-w32scen-" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(("Z:" + folder).c_str(), nullptr);
    for (const Scenario &row : rows) {
        if (!row.NotHere("win32").empty())
            continue;
        SCOPED_TRACE(row.name);
        ScenarioRun run(row, "Z:" + folder + "/" + row.name, folder + "/" + row.name);
        RunSetPortTimeout(row.TimeoutMs());
        std::unique_ptr<WineSim> sim(row.NoPort() ? nullptr
                                                  : new WineSim(run.simFolder, run.SimOptions()));
        const std::string port = sim ? "COM12" : "COM9";
        ASSERT_TRUE(LogOpen(run.log.c_str(), nullptr, "mirdel: ", true));
        CDownloadDlg dlg(nullptr);
        ASSERT_EQ(dlg.ScanFile(run.fw.c_str()), 1);
        ScenarioEnd end;
        RECT idle = {}, now;
        bool grownAtBox = false;
        WhenDialog([&](HWND w) {
            GetWindowRect(w, &idle);
            SetDlgItemTextA(w, IDC_PORT, port.c_str());
            if (row.job == "no-verify")
                SendDlgItemMessageA(w, IDC_VERIFY, BM_CLICK, 0, 0);
            const std::string before = State(w);
            WinClick(w, IDC_START); // the questions come and go meanwhile
            if (dlg.Running()) {    // the running state is in place at once; Close is refused
                EXPECT_EQ(WinText(w) + WinItemText(w, IDC_CANCEL_STOP), "Uploading...Sto&p");
                EXPECT_FALSE(IsWindowEnabled(GetDlgItem(w, IDC_START)));
                SendMessageA(w, WM_CLOSE, 0, 0);
                EXPECT_TRUE(dlg.Running());
            }
            if (row.Stops()) {
                WinPump(60000, [&] { return sim->WaitForLine(row.StopAt(), 1, 0); });
                SendMessageA(w, WM_COMMAND, IDCANCEL, 0); // Esc
                EXPECT_EQ(WinItemText(w, IDC_CANCEL_STOP), "Stopping...");
                EXPECT_FALSE(IsWindowEnabled(GetDlgItem(w, IDC_CANCEL_STOP)));
                end.atStop = Groups(w);
                sim->Release();
            }
            WinPump(60000, [&] { return !dlg.Running(); });
            if (!IsWindowVisible(w))
                return;                  // closed after success
            EXPECT_EQ(State(w), before); // idle again, as it was
            WinClick(w, IDC_CANCEL_STOP);
        });
        for (int n = row.user == "yes" ? 2 : 1; n > 0; n--)
            WhenDialog(
                [&](HWND b) {
                    if (end.text.empty() &&
                        (row.user == "yes" || row.user == "no")) { // No: the default
                        LONG no = GetWindowLongA(GetDlgItem(b, IDNO), GWL_STYLE);
                        EXPECT_EQ(no & BS_TYPEMASK, BS_DEFPUSHBUTTON);
                    }
                    end.text += WinBoxText(b) + "\n";
                    UINT icon = WinBoxIcon(b);
                    end.icon = icon == MB_ICONINFORMATION   ? RUN_ICON_INFORMATION
                               : icon == MB_ICONEXCLAMATION ? RUN_ICON_EXCLAMATION
                               : icon == MB_ICONSTOP        ? RUN_ICON_STOP
                                                            : RUN_ICON_NONE;
                    end.atBox = Groups(dlg.Window());
                    end.noteAtBox =
                        IsWindowVisible(GetDlgItem(dlg.Window(), IDC_GROUP_NOTE + RUN_GROUP_FLASH));
                    GetWindowRect(dlg.Window(), &now);
                    grownAtBox = now.bottom - now.top > idle.bottom - idle.top;
                    EndDialog(b, row.user == "no" ? IDNO : row.user == "yes" ? IDYES : IDOK);
                },
                60000);
        EXPECT_EQ(dlg.DoModal(), row.icon == RUN_ICON_INFORMATION ? IDOK : IDCANCEL);
        EXPECT_TRUE(WinAllDialogsSeen());
        LogClose();
        sim.reset();
        EXPECT_EQ(theApp.lastPort, port);
        EXPECT_EQ(grownAtBox, end.noteAtBox); // the note makes room for itself
        EXPECT_EQ(ScenarioDifferences(run, end), "");
    }
    std::printf("%s", ScenarioSummary("win32", rows).c_str());
}

// The same rows in the station window, a batch of them per run on COM12
// upwards: each port's row (its whole outcome in the tooltip) and its
// result line. The children are the mirdel-cli.exe beside this program.
TEST(StationScenarios, EndAsTheTableSays)
{
    ASSERT_TRUE(Ready());
    const std::vector<Scenario> rows = ScenarioRead(std::getenv("MIRDEL_SCENARIOS"));
    const std::string folder = "/tmp/mirdel-w32station-" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(("Z:" + folder).c_str(), nullptr);
    for (const ScenarioBatch &batch : ScenarioBatches(rows, "win32-station")) {
        ScenarioStation<WineSim> st(
            batch, "Z:" + folder, folder, [](const ScenarioRun &run, size_t i) {
                const std::string n = std::to_string(12 + i);
                WineSim *sim = run.row.NoPort()
                                   ? nullptr
                                   : new WineSim(run.simFolder, run.SimOptions(), "com" + n);
                return std::pair(sim, sim ? "COM" + n : std::string("COM9"));
            });
        SetEnvironmentVariableA("MIRDEL_PORT_TIMEOUT_MS", // the children's
                                std::to_string(batch[0]->TimeoutMs()).c_str());
        CStationDlg dlg(nullptr);
        dlg.Choose(st.ports, st.results);
        ASSERT_EQ(dlg.ScanFile(st.runs[0]->fw.c_str()), 1);
        std::vector<std::pair<std::string, RunIcon>> shown(batch.size()); // tooltip, icon
        std::string summary;
        HICON icon = nullptr;
        WhenDialog([&](HWND w) {
            CheckRadioButton(w, IDC_ST_UPLOAD, IDC_ST_VERIFY_ONLY,
                             batch[0]->job == "verify" ? IDC_ST_VERIFY_ONLY : IDC_ST_UPLOAD);
            CheckDlgButton(w, IDC_ST_VERIFY, batch[0]->job != "no-verify");
            CheckDlgButton(w, IDC_ST_BACKUP, batch[0]->job == "backup");
            SetDlgItemTextA(w, IDC_ST_BACKUP_DIR, st.runs[0]->backupDir.c_str());
            WinClick(w, IDOK);
            SendMessageA(w, WM_CLOSE, 0, 0); // refused during the run
            EXPECT_TRUE(dlg.Running());
            if (batch[0]->Stops()) {
                WinPump(60000, [&] { return st.AllAtStop(); });
                WinClick(w, IDC_ST_STOP);
                st.Release();
            }
            WinPump(120000, [&] { return !dlg.Running(); });
            HWND list = GetDlgItem(w, IDC_ST_ROWS);
            auto cell = [list](int item, int sub) {
                char text[512] = "";
                ListView_GetItemText(list, item, sub, text, sizeof text);
                return std::string(text);
            };
            for (int i = 0; i < ListView_GetItemCount(list); i++) {
                size_t at =
                    std::find(st.ports.begin(), st.ports.end(), cell(i, 0)) - st.ports.begin();
                ASSERT_LT(at, st.ports.size());
                LVITEMA it = {};
                it.mask = LVIF_IMAGE;
                it.iItem = i;
                it.iSubItem = 6; // the outcome
                ListView_GetItem(list, &it);
                std::string tip = dlg.RowTip(static_cast<size_t>(i));
                EXPECT_EQ(cell(i, 2), tip.substr(0, tip.find('\n')));
                shown[at] = {tip, RunIcon(it.iImage + RUN_ICON_INFORMATION)};
            }
            summary = WinItemText(w, IDC_ST_SUMMARY);
            icon = reinterpret_cast<HICON>(
                SendDlgItemMessageA(w, IDC_ST_SUMMARY_ICON, STM_GETICON, 0, 0));
            WinClick(w, IDC_ST_CLOSE);
        });
        dlg.DoModal();
        ASSERT_TRUE(WinAllDialogsSeen());
        for (size_t i = 0; i < batch.size(); i++)
            EXPECT_EQ(st.Differences(i, st.ResultStatus(i), shown[i].first, shown[i].second), "");
        EXPECT_EQ(summary, st.Summary().first);
        const LPCSTR icons[] = {IDI_ASTERISK, IDI_EXCLAMATION, IDI_HAND};
        EXPECT_EQ(icon, LoadIconA(nullptr, icons[st.Summary().second - RUN_ICON_INFORMATION]));
    }
    std::printf("%s", ScenarioSummary("win32-station", rows).c_str());
}
