// The main window: its face as it opens, and Help with neither help file
// beside the program.
#include "desktop_win32/mirdeldlg.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <vector>

#include "core/help.h"
#include "desktop_win32/mirdelapp.h"
#include "desktop_win32/resource.h"
#include "support/winerr.h"
#include "tests/desktop_win32/win_ui_test.h"

namespace
{

// The texts of a window's children: by id, and the id-less ones in order
// (a picture as "<icon>" when it shows one).
struct ChildTexts {
    std::map<int, std::string> byId;
    std::vector<std::string> unnamed;
};

ChildTexts ReadChildTexts(HWND dialog)
{
    ChildTexts t;
    for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        int id = GetDlgCtrlID(c);
        bool picture = (GetWindowLongA(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON;
        if (picture)
            t.unnamed.push_back(SendMessageA(c, STM_GETICON, 0, 0) ? "<icon>" : "<none>");
        else if (id == -1 || id == 0xFFFF)
            t.unnamed.push_back(WinText(c));
        else
            t.byId[id] = WinText(c);
    }
    return t;
}

} // namespace

TEST(MainWindow, OpensWithItsTextsIconsAndFixedFrame)
{
    theApp.lastPort = "COM7";
    CMirdelDlg dlg;
    ChildTexts texts;
    HFONT legalFont = nullptr, dialogFont = nullptr;
    HMENU menu = nullptr;
    bool hasMaximise = true, hasSize = true;
    std::string title;
    HICON big = nullptr, small = nullptr;
    WhenDialog([&](HWND w) {
        texts = ReadChildTexts(w);
        title = WinText(w);
        legalFont = reinterpret_cast<HFONT>(SendDlgItemMessageA(w, IDC_LEGAL, WM_GETFONT, 0, 0));
        dialogFont = reinterpret_cast<HFONT>(SendMessageA(w, WM_GETFONT, 0, 0));
        menu = GetSystemMenu(w, FALSE);
        hasMaximise = GetMenuState(menu, SC_MAXIMIZE, MF_BYCOMMAND) != 0xFFFFFFFF;
        hasSize = GetMenuState(menu, SC_SIZE, MF_BYCOMMAND) != 0xFFFFFFFF;
        big = reinterpret_cast<HICON>(SendMessageA(w, WM_GETICON, ICON_BIG, 0));
        small = reinterpret_cast<HICON>(SendMessageA(w, WM_GETICON, ICON_SMALL, 0));
        WinClick(w, IDC_CLOSE);
    });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_TRUE(WinAllDialogsSeen());

    const std::map<int, std::string> named = {
        {IDC_LEGAL, "Provided as is, without warranty of any kind."},
        {IDC_MAKER, "Varno Instruments"},
        {IDC_UPLOAD, "&Upload"},
        {IDC_CLOSE, "&Close"},
        {IDC_HELP_BUTTON, "&Help"},
        {IDC_VERSION_LINE, "Version " MIRDEL_VERSION},
    };
    EXPECT_EQ(texts.byId, named);
    // The two icons and the title lines, in the template's order.
    const std::vector<std::string> unnamed = {"<icon>", "Firmware Upload Utility",
                                              "for Varno power analyzers", "<icon>"};
    EXPECT_EQ(texts.unnamed, unnamed);
    EXPECT_EQ(title, "Mirdel");
    EXPECT_NE(legalFont, dialogFont); // the small font
    EXPECT_TRUE(menu && !hasMaximise && !hasSize);
    EXPECT_TRUE(big && big == dlg.LargeIcon());
    EXPECT_TRUE(small && small == dlg.SmallIcon());
    EXPECT_EQ(theApp.lastPort, "");
}

TEST(MainWindow, HelpWithoutItsFilesShowsTwoErrorBoxesInTurn)
{
    char program[1024] = "";
    GetModuleFileNameA(nullptr, program, sizeof program);
    const std::string dir = HelpDirectoryOf(program);
    for (const char *name : {HELP_PDF_FILE, HELP_TXT_FILE})
        ASSERT_EQ(GetFileAttributesA((dir + name).c_str()), INVALID_FILE_ATTRIBUTES) << name;

    std::vector<std::pair<std::string, UINT>> boxes;
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
    const std::vector<std::pair<std::string, UINT>> want = {
        {"Error opening PDF help file:\n\n" + dir + HELP_PDF_FILE + "\n\n" + missing, MB_ICONSTOP},
        {"Error opening TXT help file:\n\n" + dir + HELP_TXT_FILE + "\n\n" + missing, MB_ICONSTOP},
    };
    EXPECT_EQ(boxes, want);
}

namespace
{

struct ProcessWindow {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK FindProcessDialog(HWND w, LPARAM lp)
{
    auto *p = reinterpret_cast<ProcessWindow *>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    char cls[16] = "";
    GetClassNameA(w, cls, sizeof cls);
    if (pid == p->pid && std::string(cls) == "#32770" && IsWindowVisible(w)) {
        p->found = w;
        return FALSE;
    }
    return TRUE;
}

std::string ReadFile(const std::string &path)
{
    std::string text;
    if (FILE *f = std::fopen(path.c_str(), "rb")) {
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
            text.append(buf, n);
        std::fclose(f);
    }
    return text;
}

} // namespace

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
    char tmp[MAX_PATH] = "";
    GetTempPathA(sizeof tmp, tmp);
    const std::string log = std::string(tmp) + "mirdel-start-test.log";
    DeleteFileA(log.c_str());

    std::string cmd = "\"" + program + "\" -v -l \"" + log + "\"";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(
        CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        << GetLastError();
    ProcessWindow pw = {pi.dwProcessId, nullptr};
    WinPump(20000, [&] {
        EnumWindows(FindProcessDialog, reinterpret_cast<LPARAM>(&pw));
        return pw.found != nullptr;
    });
    std::string title = WinText(pw.found), upload = WinItemText(pw.found, IDC_UPLOAD);
    if (pw.found)
        PostMessageA(pw.found, WM_CLOSE, 0, 0);
    DWORD status = 99;
    if (WaitForSingleObject(pi.hProcess, 20000) != WAIT_OBJECT_0)
        TerminateProcess(pi.hProcess, 98);
    GetExitCodeProcess(pi.hProcess, &status);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);

    EXPECT_EQ(title, "Mirdel");
    EXPECT_EQ(upload, "&Upload");
    EXPECT_EQ(status, 0u);
    std::string text = ReadFile(log);
    for (const char *line : {"mirdel: -------------------- Start: --------------------",
                             "mirdel: CMirdelApp::InitInstance(): dlg.DoModal() done",
                             "mirdel: CMirdelApp::InitInstance(): end"})
        EXPECT_NE(text.find(line), std::string::npos) << line << " not in:\n" << text;
    DeleteFileA(log.c_str());
}

// Without a command-line file, Upload asks in the file dialog; cancelling
// it leaves the main window as it was, with no message.
TEST(MainWindow, UploadAsksForTheFileAndCancelDoesNothing)
{
    theApp.haveFirmwareArg = false;
    CMirdelDlg dlg;
    std::string title, filter;
    bool mainOpen = false;
    WhenDialog([&](HWND w) {
        WinClick(w, IDC_UPLOAD);
        mainOpen = IsWindow(w) && IsWindowEnabled(w);
        WinClick(w, IDC_CLOSE);
    });
    WhenDialog([&](HWND files) {
        title = WinText(files);
        // The file type box of the explorer-style dialog (cmb1).
        HWND types = GetDlgItem(files, 0x470);
        char first[128] = "";
        if (types && SendMessageA(types, CB_GETLBTEXTLEN, 0, 0) < LRESULT(sizeof first))
            SendMessageA(types, CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(first));
        filter = first;
        SendMessageA(files, WM_COMMAND, IDCANCEL, 0);
    });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_TRUE(WinAllDialogsSeen());
    EXPECT_EQ(title, MIRDEL_FILE_DIALOG_TITLE);
    EXPECT_EQ(filter, "Varno Firmware Files (*.srec)");
    EXPECT_TRUE(mainOpen);
}
