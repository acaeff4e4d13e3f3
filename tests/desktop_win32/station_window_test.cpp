// The station window: one table of runs on the simulators that
// scripts/test-windows links to COM ports (COM5, COM6 answer; COM7 writes
// its flash slowly; COM8 refuses every job; COM9 is none; COM10 vanishes
// during the upload; COM11 answers for the command line), the ports
// that come and go, and the command line.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <regex>

#include "core/station.h"
#include "desktop_win32/downloaddlg.h"
#include "desktop_win32/mirdelapp.h"
#include "desktop_win32/resource.h"
#include "desktop_win32/stationdlg.h"
#include "tests/desktop_win32/win_ui_test.h"
#include "tests/firmware/records.h"

namespace
{

std::string Temp(const std::string &name)
{
    char tmp[MAX_PATH];
    return std::string(tmp, GetTempPathA(sizeof tmp, tmp)) + name;
}

std::vector<std::string> Lines(const std::string &path)
{
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string l; std::getline(in, l);)
        lines.push_back(l);
    return lines;
}

std::string Cell(HWND list, int item, int sub)
{
    char text[512] = "";
    ListView_GetItemText(list, item, sub, text, sizeof text);
    return text;
}

void WriteFirmware(const std::string &path, size_t bytes)
{
    std::ofstream out(path);
    for (const std::string &l : Image(0x10000, bytes))
        out << l << "\n";
}

struct Row {
    std::string port;
    int status; // -1: failed, as an error (2) or a time-out (3)
    std::string outcome; // how the outcome begins
    std::string advice = "";
};

} // namespace

TEST(StationWindow, Runs)
{
    const std::string fw = Temp("station.srec"), results = Temp("station-results.jsonl");
    const std::string backups = Temp("station-backups");
    WriteFirmware(fw, 4096);
    CreateDirectoryA(backups.c_str(), nullptr);
    DeleteFileA(results.c_str());
    const std::string ok = "Upload successful.", failed = "Upload failed";
    const struct {
        std::vector<std::string> ports;
        bool verifyOnly, backup;
        std::vector<Row> rows;
        std::string summary;
        std::string stopIn = ""; // Stop once this port's flash writing is under way
    } cases[] = {
        {{"COM11", "COM5", "COM6", "COM8"},
         false,
         false,
         {{"COM11", 0, ok}, {"COM5", 0, ok}, {"COM6", 0, ok}, {"COM8", 2, failed, "Flash locked"}},
         "3 succeeded, 1 failed"},
        {{"COM5", "COM6"}, false, false, {{"COM5", 0, ok}, {"COM6", 0, ok}}, "2 succeeded"},
        {{"COM5", "COM8", "COM9"},
         false,
         false,
         {{"COM5", 0, ok},
          {"COM8", 2, failed, "Flash locked"},
          {"COM9", 5, "Cannot open serial port:", "COM9: "}},
         "1 succeeded, 2 failed"},
        {{"COM5", "COM6"},
         true,
         false,
         {{"COM5", 0, "Verification successful."}, {"COM6", 0, "Verification successful."}},
         "2 succeeded"},
        // The backup, then its restore (the same row again with the backup).
        {{"COM6"}, false, true, {{"COM6", 0, ok}}, "1 succeeded"},
        {{"COM5", "COM10"},
         false,
         false,
         // Wine ends a transfer on a pseudo-terminal whose other end went
         // as a broken pipe (the device went away) or not at all (a time-out).
         {{"COM5", 0, ok}, {"COM10", -1, ""}},
         "1 succeeded, 1 failed"},
        {{"COM5", "COM7"},
         false,
         false,
         {{"COM5", 0, ok}, {"COM7", 1, "Upload stopped by user."}},
         "1 succeeded, 1 stopped",
         "COM7"},
    };
    for (const auto &c : cases) {
        std::string file = fw;
        for (int pass = 0; pass < (c.backup ? 2 : 1); pass++) {
            CStationDlg dlg(nullptr);
            dlg.Choose({}, results);
            ASSERT_EQ(dlg.ScanFile(file.c_str()), 1);
            size_t before = Lines(results).size();
            struct Shown {
                std::string phase, percent, tip;
                int image;
            };
            std::map<std::string, Shown> rows; // by port
            std::string summary;
            HICON icon = nullptr;
            WhenDialog([&](HWND w) {
                for (const std::string &name : c.ports) { // typed in: added, checked
                    SetDlgItemTextA(w, IDC_ST_PORT_NAME, name.c_str());
                    WinClick(w, IDC_ST_ADD);
                }
                CheckRadioButton(w, IDC_ST_UPLOAD, IDC_ST_VERIFY_ONLY,
                                 c.verifyOnly ? IDC_ST_VERIFY_ONLY : IDC_ST_UPLOAD);
                CheckDlgButton(w, IDC_ST_BACKUP, c.backup && pass == 0);
                SetDlgItemTextA(w, IDC_ST_BACKUP_DIR, backups.c_str());
                WinClick(w, IDOK);
                SendMessageA(w, WM_CLOSE, 0, 0); // refused during the run
                EXPECT_TRUE(dlg.Running());
                EXPECT_FALSE(IsWindowEnabled(GetDlgItem(w, IDC_ST_START)));
                HWND list = GetDlgItem(w, IDC_ST_ROWS);
                if (!c.stopIn.empty()) { // the others ended: the flash-writing note on that row
                    size_t slow = Cell(list, 0, 0) == c.stopIn ? 0 : 1, other = 1 - slow;
                    WinPump(30000, [&] {
                        return dlg.RowTip(other).rfind(ok, 0) == 0 &&
                               Cell(list, slow, 2).rfind(RunGroupLabels[RUN_GROUP_FLASH], 0) == 0;
                    });
                    WinClick(w, IDC_ST_STOP);
                    WinPump(5000, [&] { return dlg.RowTip(slow) == RUN_STOP_FLASH_NOTE; });
                    EXPECT_EQ(dlg.RowTip(slow), RUN_STOP_FLASH_NOTE);
                }
                WinPump(90000, [&] { return !dlg.Running(); });
                for (int i = 0; i < ListView_GetItemCount(list); i++) {
                    LVITEMA it = {};
                    it.mask = LVIF_IMAGE;
                    it.iItem = i;
                    it.iSubItem = 6; // the outcome
                    ListView_GetItem(list, &it);
                    rows[Cell(list, i, 0)] = {Cell(list, i, 2), Cell(list, i, 4),
                                              dlg.RowTip(static_cast<size_t>(i)), it.iImage};
                }
                summary = WinItemText(w, IDC_ST_SUMMARY);
                icon = reinterpret_cast<HICON>(
                    SendDlgItemMessageA(w, IDC_ST_SUMMARY_ICON, STM_GETICON, 0, 0));
                if (const char *hold = getenv("MIRDEL_TEST_HOLD_MS")) // the finished window
                    WinPump(atoi(hold));
                WinClick(w, IDC_ST_CLOSE);
            });
            dlg.DoModal();
            ASSERT_TRUE(WinAllDialogsSeen());
            std::vector<std::string> lines = Lines(results);
            ASSERT_EQ(lines.size(), before + c.rows.size()) << c.summary;
            ASSERT_EQ(rows.size(), c.rows.size()) << c.summary;
            int worst = 0;
            for (const Row &r : c.rows) {
                const Shown &s = rows[r.port];
                int status = r.status < 0 ? 2 : r.status;
                worst = std::max(worst, status);
                EXPECT_EQ(s.phase, s.tip.substr(0, s.tip.find('\n')));
                EXPECT_EQ(s.phase.rfind(r.outcome, 0), 0u) << s.tip;
                EXPECT_NE(s.tip.find(r.advice), std::string::npos) << s.tip;
                EXPECT_TRUE(r.status || s.percent == "100") << r.port;
                EXPECT_EQ(s.image, StationStatusIcon(status) - RUN_ICON_INFORMATION);
                std::regex line("\"port\":\"" + r.port + "\".*\"exit_status\":" +
                                (r.status < 0 ? "[23]" : std::to_string(r.status)) + ",");
                EXPECT_TRUE(std::any_of(lines.begin() + before, lines.end(), [&](auto &l) {
                    return std::regex_search(l, line);
                })) << r.port;
            }
            EXPECT_EQ(summary, c.summary);
            const LPCSTR icons[] = {IDI_ASTERISK, IDI_EXCLAMATION, IDI_HAND};
            EXPECT_EQ(icon, LoadIconA(nullptr, icons[StationStatusIcon(worst) - 1]));
            if (!c.backup)
                continue;
            // The backup made before the upload is the file of the restore.
            WIN32_FIND_DATAA found;
            HANDLE h = FindFirstFileA((backups + "\\" + c.ports[0] + "-*.srec").c_str(), &found);
            ASSERT_NE(h, INVALID_HANDLE_VALUE) << "no backup in " << backups;
            FindClose(h);
            file = backups + "\\" + found.cFileName;
        }
    }
}

// Ports appear and go while a window is open: the station's list (a
// checked port keeps its check) and the upload dialog's port box (its text
// stays). Wine sends no WM_DEVICECHANGE for a COM link made or removed
// under dosdevices: the test changes the system's list and sends the
// message the port watch posts.
TEST(StationWindow, PortsComeAndGo)
{
    HKEY map;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr,
                              REG_OPTION_VOLATILE, KEY_SET_VALUE, nullptr, &map, nullptr),
              ERROR_SUCCESS);
    // The names shown, a checked one with "+", then the box's text.
    auto shown = [](HWND w) {
        std::string names;
        HWND list = GetDlgItem(w, IDC_ST_PORTS), box = GetDlgItem(w, IDC_PORT);
        for (int i = 0; list && i < ListView_GetItemCount(list); i++)
            names += Cell(list, i, 0) + (ListView_GetCheckState(list, i) ? "+ " : " ");
        char name[64];
        for (int i = 0; box && SendMessageA(box, CB_GETLBTEXT, i, LPARAM(name)) > 0; i++)
            names += std::string(name) + " ";
        return names + "[" + WinText(box) + "]";
    };
    for (bool station : {true, false}) {
        theApp.typedPorts.clear();
        theApp.lastPort = "COM5";
        CStationDlg stationDlg(nullptr);
        CDownloadDlg uploadDlg(nullptr);
        stationDlg.Choose({"COM5"}, "");
        AppAddTypedPort("COM5");
        std::vector<std::string> seen;
        WhenDialog([&](HWND w) {
            for (bool plugged : {true, false}) {
                if (plugged)
                    RegSetValueExA(map, "\\Device\\MirdelTest", 0, REG_SZ,
                                   reinterpret_cast<const BYTE *>("COM42"), 6);
                else
                    RegDeleteValueA(map, "\\Device\\MirdelTest");
                SendMessageA(w, WM_APP_PORTS_CHANGED, 0, 0);
                seen.push_back(shown(w));
            }
            EndDialog(w, IDCANCEL);
        });
        station ? stationDlg.DoModal() : uploadDlg.DoModal();
        ASSERT_EQ(seen.size(), 2u);
        EXPECT_NE(seen[0].find("COM42 "), std::string::npos) << seen[0];
        EXPECT_EQ(seen[1].find("COM42"), std::string::npos) << seen[1];
        for (const std::string &s : seen)
            EXPECT_NE(s.find(station ? "COM5+ " : "[COM5]"), std::string::npos) << s;
    }
    RegCloseKey(map);
}

// A file given with a relative path: its folder shows as an absolute path.
TEST(StationWindow, RelativePathShowsItsFolder)
{
    char folder[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    ASSERT_TRUE(SetCurrentDirectoryA(folder));
    WriteFirmware("relative.srec", 64);
    CDownloadDlg dlg(nullptr);
    ASSERT_EQ(dlg.ScanFile("relative.srec"), 1);
    EXPECT_EQ(dlg.location + "\\", folder);
}

// mirdel --station --port ... --results R FILE, then Return: every port
// uploaded, a line each in R.
TEST(StationWindow, CommandLine)
{
    const std::string fw = Temp("station-cl.srec"), results = Temp("station-cl.jsonl");
    WriteFirmware(fw, 64);
    DeleteFileA(results.c_str());
    std::string summary;
    WhenDialog([&](HWND w) {
        SendMessageA(w, WM_COMMAND, IDOK, 0);
        WinPump(90000, [&] { return !WinItemText(w, IDC_ST_SUMMARY).empty(); });
        summary = WinItemText(w, IDC_ST_SUMMARY);
        WinClick(w, IDC_ST_CLOSE);
    });
    std::string cmd = "mirdel --station --port COM5 --port COM6 --port COM11 --results \"" +
                      results + "\" \"" + fw + "\"";
    EXPECT_EQ(theApp.InitInstance(cmd.c_str()), 0);
    EXPECT_EQ(summary, "3 succeeded");
    EXPECT_EQ(Lines(results).size(), 3u);
}
