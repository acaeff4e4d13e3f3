// The station window on the simulators that scripts/test-windows links to
// COM5, COM6 and COM11: the ports that come and go, and the command line.
// How its runs end, backups included: the run scenarios.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <fstream>

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

} // namespace

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
