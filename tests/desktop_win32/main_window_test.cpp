// The main window, and the program started for real.
#include "desktop_win32/mirdeldlg.h"

#include <shlobj.h>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <vector>

#include "core/help.h"
#include "desktop_win32/mirdelapp.h"
#include "desktop_win32/resource.h"
#include "support/winerr.h"
#include "tests/desktop_win32/win_ui_test.h"

TEST(MainWindow, OpensWithItsTextsIconsAndFixedFrame)
{
    theApp.lastPort = "COM7";
    CMirdelDlg dlg;
    std::vector<std::pair<int, std::string>> children;
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
        EXPECT_NE(SendDlgItemMessageA(w, IDC_LEGAL, WM_GETFONT, 0, 0),
                  SendMessageA(w, WM_GETFONT, 0, 0)); // the small font
        for (UINT command : {SC_MAXIMIZE, SC_SIZE})   // not in the system menu
            EXPECT_EQ(GetMenuState(GetSystemMenu(w, FALSE), command, MF_BYCOMMAND), UINT(-1));
        HICON big = dlg.LargeIcon(), small = dlg.SmallIcon();
        EXPECT_TRUE(big && small);
        EXPECT_EQ(SendMessageA(w, WM_GETICON, ICON_BIG, 0), LRESULT(big));
        EXPECT_EQ(SendMessageA(w, WM_GETICON, ICON_SMALL, 0), LRESULT(small));
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
    EXPECT_EQ(theApp.lastPort, "");
}

// Start-up opens the log, shows the window, and ends with status 0 and the
// trace notices once it is closed.
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
    EXPECT_EQ(WinItemText(found, IDC_UPLOAD), "&Upload");
    PostMessageA(found, WM_CLOSE, 0, 0);
    DWORD status = 99;
    WaitForSingleObject(pi.hProcess, 20000);
    GetExitCodeProcess(pi.hProcess, &status);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    EXPECT_EQ(status, 0u);
    std::stringstream text;
    text << std::ifstream(log).rdbuf();
    for (const char *line : {"mirdel: -------------------- Start: --------------------",
                             "mirdel: CMirdelApp::InitInstance(): dlg.DoModal() done",
                             "mirdel: CMirdelApp::InitInstance(): end"})
        EXPECT_NE(text.str().find(line), std::string::npos) << line << " not in:\n" << text.str();
    DeleteFileA(log.c_str());
}

// Help without its files: two error boxes in turn; Upload without a
// command-line file: the file dialog (cancelled: no message); a file that
// cannot be analysed, from the command line (on every click of Upload) or
// dropped (once the drop has returned): the analysis' error box.
TEST(MainWindow, ErrorBoxes)
{
    char program[1024] = "";
    GetModuleFileNameA(nullptr, program, sizeof program);
    const std::string dir = HelpDirectoryOf(program), missing = WinErrStr(ERROR_FILE_NOT_FOUND);
    const std::string bad = "mirdel-bad.srec"; // in the current directory
    std::ofstream(bad) << "S1FF0000\n";
    const std::string analysis = "Error while checking the firmware file:\n\n"; // how it starts
    const struct {
        std::string path;   // the command line's file, or the one dropped
        int button, clicks; // clicks of button; none: path dropped
        std::vector<std::string> boxes;
    } cases[] = {{"",
                  IDC_HELP_BUTTON,
                  1,
                  {"Error opening PDF help file:\n\n" + dir + HELP_PDF_FILE + "\n\n" + missing,
                   "Error opening TXT help file:\n\n" + dir + HELP_TXT_FILE + "\n\n" + missing}},
                 {"", IDC_UPLOAD, 1, {MIRDEL_FILE_DIALOG_TITLE "\nVarno Firmware Files (*.srec)"}},
                 {"Z:\\nonexistent\\gone.srec", IDC_UPLOAD, 2, {analysis, analysis}},
                 {bad, 0, 0, {analysis}}};
    for (const auto &c : cases) {
        theApp.haveFirmwareArg = c.clicks > 0 && !c.path.empty();
        theApp.firmwareArg = c.path;
        CMirdelDlg dlg;
        std::vector<std::string> boxes;
        bool afterDrop = true;
        WhenDialog([&](HWND w) {
            for (int i = 0; i < c.clicks; i++)
                WinClick(w, c.button);
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
        for (size_t i = 0; i < c.boxes.size(); i++)
            WhenDialog([&](HWND box) {
                if (c.button == IDC_UPLOAD && c.path.empty()) {
                    // The title, and the first entry of its type box (cmb1).
                    char filter[256] = "";
                    SendDlgItemMessageA(box, 0x470, CB_GETLBTEXT, 0,
                                        reinterpret_cast<LPARAM>(filter));
                    boxes.push_back(WinText(box) + "\n" + filter);
                    SendMessageA(box, WM_COMMAND, IDCANCEL, 0);
                    return;
                }
                std::string text = WinBoxText(box);
                boxes.push_back(c.button == IDC_HELP_BUTTON ? text
                                                            : text.substr(0, analysis.size()));
                EXPECT_EQ(WinBoxIcon(box), UINT(MB_ICONSTOP)) << text;
                EXPECT_EQ(GetWindow(box, GW_OWNER), dlg.Window()) << text;
                EndDialog(box, IDOK);
            });
        EXPECT_EQ(dlg.DoModal(), IDCANCEL);
        EXPECT_TRUE(WinAllDialogsSeen()) << c.path;
        EXPECT_EQ(boxes, c.boxes);
        EXPECT_TRUE(afterDrop) << c.path;
    }
    theApp.haveFirmwareArg = false;
    DeleteFileA(bad.c_str());
}
