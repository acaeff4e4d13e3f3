// The main window: its face, Help without its files, Upload's file dialog,
// files that cannot be analysed, and the program started for real.
#include "desktop_win32/mirdeldlg.h"

#include <shlobj.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <vector>

#include "core/help.h"
#include "desktop_win32/mirdelapp.h"
#include "desktop_win32/resource.h"
#include "support/winerr.h"
#include "tests/desktop_win32/win_ui_test.h"

using Boxes = std::vector<std::pair<std::string, UINT>>;

TEST(MainWindow, OpensWithItsTextsIconsAndFixedFrame)
{
    theApp.lastPort = "COM7";
    CMirdelDlg dlg;
    std::vector<std::pair<int, std::string>> children;
    LRESULT legalFont = 0, dialogFont = 0, big = 0, small = 0, maximise = 0, size = 0;
    WhenDialog([&](HWND w) {
        // The title as id 0, then the controls; pictures as "<icon>".
        children.emplace_back(0, WinText(w));
        for (HWND c = GetWindow(w, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
            bool picture = (GetWindowLongA(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON;
            children.emplace_back(static_cast<short>(GetDlgCtrlID(c)),
                                  !picture                             ? WinText(c)
                                  : SendMessageA(c, STM_GETICON, 0, 0) ? "<icon>"
                                                                       : "");
        }
        legalFont = SendDlgItemMessageA(w, IDC_LEGAL, WM_GETFONT, 0, 0);
        dialogFont = SendMessageA(w, WM_GETFONT, 0, 0);
        maximise = GetMenuState(GetSystemMenu(w, FALSE), SC_MAXIMIZE, MF_BYCOMMAND);
        size = GetMenuState(GetSystemMenu(w, FALSE), SC_SIZE, MF_BYCOMMAND);
        big = SendMessageA(w, WM_GETICON, ICON_BIG, 0);
        small = SendMessageA(w, WM_GETICON, ICON_SMALL, 0);
        WinClick(w, IDC_CLOSE);
    });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_TRUE(WinAllDialogsSeen());

    const std::vector<std::pair<int, std::string>> want = {
        {0, "Mirdel"},
        {-1, "<icon>"},
        {-1, "Firmware Upload Utility"},
        {-1, "for Varno power analyzers"},
        {IDC_VERSION_LINE, "Version " MIRDEL_VERSION},
        {-1, "<icon>"},
        {IDC_LEGAL, "Provided as is, without warranty of any kind."},
        {IDC_MAKER, "Varno Instruments"},
        {IDC_UPLOAD, "&Upload"},
        {IDC_CLOSE, "&Close"},
        {IDC_HELP_BUTTON, "&Help"}};
    EXPECT_EQ(children, want);
    EXPECT_NE(legalFont, dialogFont);                               // the small font
    EXPECT_TRUE(maximise == LRESULT(UINT(-1)) && size == maximise); // not in the system menu
    EXPECT_TRUE(big && big == LRESULT(dlg.LargeIcon()) && small &&
                small == LRESULT(dlg.SmallIcon()));
    EXPECT_EQ(theApp.lastPort, "");
}

TEST(MainWindow, HelpWithoutItsFilesShowsTwoErrorBoxesInTurn)
{
    char program[1024] = "";
    GetModuleFileNameA(nullptr, program, sizeof program);
    const std::string dir = HelpDirectoryOf(program);

    Boxes boxes;
    auto record = [&boxes](HWND box) {
        boxes.emplace_back(WinBoxText(box), WinBoxIcon(box));
        EndDialog(box, IDOK);
    };
    CMirdelDlg dlg;
    WhenDialog([&](HWND w) {
        WinClick(w, IDC_HELP_BUTTON);
        WinClick(w, IDC_CLOSE);
    });
    WhenDialog(record);
    WhenDialog(record);
    dlg.DoModal();
    EXPECT_TRUE(WinAllDialogsSeen());

    const std::string missing = WinErrStr(ERROR_FILE_NOT_FOUND);
    const Boxes want = {
        {"Error opening PDF help file:\n\n" + dir + HELP_PDF_FILE + "\n\n" + missing, MB_ICONSTOP},
        {"Error opening TXT help file:\n\n" + dir + HELP_TXT_FILE + "\n\n" + missing, MB_ICONSTOP},
    };
    EXPECT_EQ(boxes, want);
}

// Without a command-line file, Upload asks in the file dialog; cancelling
// it leaves the main window as it was, with no message.
TEST(MainWindow, UploadAsksForTheFileAndCancelDoesNothing)
{
    theApp.haveFirmwareArg = false;
    CMirdelDlg dlg;
    std::string title;
    char filter[256] = "";
    WhenDialog([&](HWND w) {
        WinClick(w, IDC_UPLOAD);
        WinClick(w, IDC_CLOSE);
    });
    WhenDialog([&](HWND files) {
        title = WinText(files);
        // The first entry of the explorer dialog's type box (cmb1).
        SendDlgItemMessageA(files, 0x470, CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(filter));
        SendMessageA(files, WM_COMMAND, IDCANCEL, 0);
    });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_TRUE(WinAllDialogsSeen());
    EXPECT_EQ(title, MIRDEL_FILE_DIALOG_TITLE);
    EXPECT_STREQ(filter, "Varno Firmware Files (*.srec)");
}

// The program itself: start-up opens the log, shows the main window, and
// ends with status 0 and the trace notices once the window is closed.
TEST(MainWindow, ProgramStartsShowsItsWindowAndEnds)
{
    char self[1024] = "";
    GetModuleFileNameA(nullptr, self, sizeof self);
    std::string program = HelpDirectoryOf(self) + "mirdel.exe";
    if (GetFileAttributesA(program.c_str()) == INVALID_FILE_ATTRIBUTES)
        program = MIRDEL_BIN_DIR "/desktop_win32/mirdel.exe";
    ASSERT_NE(GetFileAttributesA(program.c_str()), INVALID_FILE_ATTRIBUTES)
        << "mirdel.exe is neither beside the test program nor at " << program;
    const std::string log = "mirdel-start-test.log"; // in the current directory
    DeleteFileA(log.c_str());
    std::string cmd = "\"" + program + "\" -v -l \"" + log + "\"";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &si, &pi));
    // Its main window, once shown (the test program has none open now).
    HWND found = nullptr;
    WinPump(20000,
            [&] { return (found = FindWindowA("#32770", "Mirdel")) && IsWindowVisible(found); });
    std::string upload = WinItemText(found, IDC_UPLOAD);
    PostMessageA(found, WM_CLOSE, 0, 0);
    DWORD status = 99;
    WaitForSingleObject(pi.hProcess, 20000);
    GetExitCodeProcess(pi.hProcess, &status);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);

    EXPECT_EQ(upload, "&Upload");
    EXPECT_EQ(status, 0u);
    std::stringstream text;
    text << std::ifstream(log).rdbuf();
    for (const char *line : {"mirdel: -------------------- Start: --------------------",
                             "mirdel: CMirdelApp::InitInstance(): dlg.DoModal() done",
                             "mirdel: CMirdelApp::InitInstance(): end"})
        EXPECT_NE(text.str().find(line), std::string::npos) << line << " not in:\n" << text.str();
    DeleteFileA(log.c_str());
}

// A file that cannot be analysed, from the command line (on every click,
// no file dialog) or dropped on the window (once the drop has returned):
// the analysis' error box over the main window.
TEST(MainWindow, UnreadableFirmwareGivesTheAnalysisBox)
{
    const std::string bad = "mirdel-bad.srec"; // in the current directory
    std::ofstream(bad) << "S1FF0000\n";
    const struct {
        std::string path;
        int clicks; // of Upload; 0: dropped
    } cases[] = {{"Z:\\nonexistent\\gone.srec", 2}, {bad, 0}};
    for (const auto &c : cases) {
        theApp.haveFirmwareArg = c.clicks > 0;
        theApp.firmwareArg = c.path;
        CMirdelDlg dlg;
        Boxes boxes;
        bool overMain = true, afterDrop = true;
        WhenDialog([&](HWND w) {
            for (int i = 0; i < c.clicks; i++)
                WinClick(w, IDC_UPLOAD);
            if (c.clicks == 0) { // one file, as the shell hands it over
                HGLOBAL drop = GlobalAlloc(GHND, sizeof(DROPFILES) + c.path.size() + 2);
                auto *files = static_cast<DROPFILES *>(GlobalLock(drop));
                files->pFiles = sizeof(DROPFILES);
                c.path.copy(reinterpret_cast<char *>(files + 1), c.path.size());
                GlobalUnlock(drop);
                SendMessageA(w, WM_DROPFILES, reinterpret_cast<WPARAM>(drop), 0);
                afterDrop = boxes.empty();
                WinPump(10000, [&] { return !boxes.empty(); });
            }
            WinClick(w, IDC_CLOSE);
        });
        for (int i = 0; i < std::max(c.clicks, 1); i++)
            WhenDialog([&](HWND box) {
                boxes.emplace_back(WinBoxText(box).substr(0, 41), WinBoxIcon(box));
                overMain = overMain && GetWindow(box, GW_OWNER) == dlg.Window();
                EndDialog(box, IDOK);
            });
        dlg.DoModal();
        EXPECT_TRUE(WinAllDialogsSeen()) << c.path;
        EXPECT_EQ(boxes, Boxes(std::max(c.clicks, 1),
                               {"Error while checking the firmware file:\n\n", MB_ICONSTOP}))
            << c.path;
        EXPECT_TRUE(overMain && afterDrop) << c.path;
    }
    theApp.haveFirmwareArg = false;
    DeleteFileA(bad.c_str());
}
