// The upload dialog: what it shows of a file, its error boxes, and whole
// runs against mirdel-sim on the COM port named by MIRDEL_TEST_COM (which
// scripts/test-windows starts with slow answers, so that a run can be
// watched and stopped).
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <set>

#include "core/run.h"
#include "desktop_win32/downloaddlg.h"
#include "desktop_win32/mirdelapp.h"
#include "desktop_win32/resource.h"
#include "support/intstr.h"
#include "tests/desktop_win32/win_ui_test.h"
#include "tests/firmware/records.h"

namespace
{

const int kLabel[3] = {IDC_UPLOAD_LABEL, IDC_FLASH_LABEL, IDC_VERIFY_LABEL};
const int kNumber[3] = {IDC_UPLOAD_PERCENT, IDC_FLASH_PERCENT, IDC_VERIFY_PERCENT};
const int kBar[3] = {IDC_UPLOAD_BAR, IDC_FLASH_BAR, IDC_VERIFY_BAR};
const char *const kPlain[3] = {" Uploading", " Writing to flash memory", " Verifying"};

std::string TempFolder()
{
    static std::string folder;
    if (folder.empty()) {
        char tmp[MAX_PATH];
        GetTempPathA(sizeof tmp, tmp);
        folder = std::string(tmp) + "mirdel-upload-" + std::to_string(GetCurrentProcessId());
        CreateDirectoryA(folder.c_str(), nullptr);
        CreateDirectoryA((folder + "\\sub").c_str(), nullptr);
    }
    return folder;
}

// The images as a file; a size pads it with comment lines to that many
// bytes.
std::string FirmwareFile(const std::string &name,
                         const std::vector<std::vector<std::string>> &images, size_t size = 0)
{
    std::string text;
    for (const auto &image : images)
        for (const std::string &l : image)
            text += l + "\n";
    while (text.size() < size)
        text += "#" + std::string(std::min<size_t>(size - text.size(), 1000) - 2, 'x') + "\n";
    std::string path = TempFolder() + "\\" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

// One image at base of bytes in records of 32.
std::vector<std::string> Image(uint32_t base, size_t bytes)
{
    char name[16];
    std::snprintf(name, sizeof name, "0x%X", base);
    std::vector<std::string> lines{S0(name)};
    for (size_t off = 0; off < bytes; off += 32)
        lines.push_back(
            Record('2', static_cast<uint32_t>(base + off),
                   Bytes(std::min<size_t>(32, bytes - off), static_cast<uint8_t>(off))));
    lines.push_back(Record('9', 0, {}));
    return lines;
}

// What the three progress groups show.
struct Groups {
    std::string label[3], number[3];
    int bar[3] = {};
    bool bold[3] = {};
};

Groups Shown(HWND dlg)
{
    Groups s;
    for (int g = 0; g < 3; g++) {
        s.label[g] = WinItemText(dlg, kLabel[g]);
        s.number[g] = WinItemText(dlg, kNumber[g]);
        s.bar[g] = static_cast<int>(SendDlgItemMessageA(dlg, kBar[g], PBM_GETPOS, 0, 0));
        LOGFONTA lf = {};
        HGDIOBJ font =
            reinterpret_cast<HGDIOBJ>(SendDlgItemMessageA(dlg, kLabel[g], WM_GETFONT, 0, 0));
        s.bold[g] = font && GetObjectA(font, sizeof lf, &lf) && lf.lfWeight >= FW_BOLD;
    }
    return s;
}

int DefaultButton(HWND dlg)
{
    return LOWORD(SendMessageA(dlg, DM_GETDEFID, 0, 0));
}

void ExpectIdle(HWND dlg)
{
    EXPECT_EQ(WinText(dlg), "Upload");
    EXPECT_EQ(WinItemText(dlg, IDC_CANCEL_STOP), "&Cancel");
    EXPECT_EQ(DefaultButton(dlg), IDC_START);
    for (int id : {IDC_START, IDC_CANCEL_STOP, IDC_PORT, IDC_ADVANCED, IDC_VERIFY})
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dlg, id))) << id;
    Groups s = Shown(dlg);
    for (int g = 0; g < 3; g++)
        EXPECT_TRUE(s.label[g] == kPlain[g] && s.number[g] == "0" && s.bar[g] == 0 && !s.bold[g])
            << g << " " << s.label[g];
}

// The simulator's port; a run cannot be checked without it.
std::string SimPort()
{
    const char *com = std::getenv("MIRDEL_TEST_COM");
    return com ? com : "";
}

} // namespace

TEST(UploadDialog, ShowsTheFile)
{
    theApp.ports = {"COM1", "COM2", "ttyUSB1", "ttyS0"};
    theApp.lastPort = "TTYS0";
    std::string path = FirmwareFile("sub\\fw.srec", {Image(0x1000, 64)}, 1536);
    SYSTEMTIME st = {2024, 3, 2, 5, 14, 7, 9, 0};
    FILETIME local, utc;
    SystemTimeToFileTime(&st, &local);
    LocalFileTimeToFileTime(&local, &utc);
    HANDLE f =
        CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_TRUE(SetFileTime(f, nullptr, nullptr, &utc));
    CloseHandle(f);
    char date[64] = "";
    GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, date, sizeof date);

    CDownloadDlg dlg(nullptr);
    ASSERT_EQ(dlg.ScanFile(path.c_str()), 1);
    WhenDialog([&](HWND w) {
        EXPECT_EQ(WinText(w), "Upload");
        EXPECT_EQ(WinItemText(w, IDC_FILE_NAME), "fw.srec");
        EXPECT_EQ(WinItemText(w, IDC_LOCATION), TempFolder() + "\\sub");
        EXPECT_EQ(WinItemText(w, IDC_SIZE),
                  std::string("1.50 KiB (") + IntStrGroup(1536) + " Bytes)");
        std::string modified = WinItemText(w, IDC_MODIFIED);
        EXPECT_TRUE(modified.rfind(std::string(date) + ", ", 0) == 0 &&
                    modified.find("07:09") != std::string::npos)
            << modified;
        // Sorted without regard to case; the last port selected the same way.
        std::string items;
        HWND box = GetDlgItem(w, IDC_PORT);
        for (int i = 0; i < SendMessageA(box, CB_GETCOUNT, 0, 0); i++) {
            char item[64] = "";
            SendMessageA(box, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item));
            items += std::string(item) + " ";
        }
        EXPECT_EQ(items, "COM1 COM2 ttyS0 ttyUSB1 ");
        EXPECT_EQ(WinText(box), "ttyS0");
        EXPECT_EQ(IsDlgButtonChecked(w, IDC_VERIFY), UINT(BST_CHECKED));
        EXPECT_EQ(DefaultButton(w), IDC_START);
        // The animation is loaded: it plays its frames once.
        EXPECT_TRUE(SendDlgItemMessageA(w, IDC_ANIMATION, ACM_PLAY, 1, MAKELPARAM(1, 0xFFFF)));
        SendDlgItemMessageA(w, IDC_ANIMATION, ACM_STOP, 0, 0);
        Groups s = Shown(w);
        for (int g = 0; g < 3; g++)
            EXPECT_TRUE(s.label[g] == kPlain[g] && s.number[g] == "0");

        // The tooltips: what the field shows, cut to 79 characters; the
        // port box's begins with the port's name.
        const struct {
            int id;
            std::string text;
        } tips[] = {{IDC_LOCATION, dlg.location.substr(0, 79)},
                    {IDC_SIZE, dlg.sizeText},
                    {IDC_MODIFIED, dlg.modifiedText},
                    {IDC_FILE_NAME, ""}};
        for (const auto &t : tips) {
            NMTTDISPINFOA request = {};
            request.hdr.code = TTN_NEEDTEXTA;
            request.hdr.idFrom = reinterpret_cast<UINT_PTR>(GetDlgItem(w, t.id));
            request.uFlags = TTF_IDISHWND;
            EXPECT_TRUE(dlg.OnToolTipNeedText(&request.hdr));
            EXPECT_EQ(std::string(request.lpszText), t.text) << t.id;
        }
        EXPECT_EQ(dlg.ToolTipText(IDC_LOCATION), dlg.location.substr(0, 79));

        // Verify hides its group and shows it again; nothing else moves.
        RECT before, after;
        GetWindowRect(GetDlgItem(w, IDC_START), &before);
        for (bool checked : {false, true}) {
            SendDlgItemMessageA(w, IDC_VERIFY, BM_CLICK, 0, 0);
            EXPECT_EQ(IsDlgButtonChecked(w, IDC_VERIFY) == BST_CHECKED, checked);
            for (int id : {IDC_VERIFY_BAR, IDC_VERIFY_LABEL, IDC_VERIFY_SIGN, IDC_VERIFY_PERCENT})
                EXPECT_TRUE(!IsWindowVisible(GetDlgItem(w, id)) == !checked &&
                            !IsWindowEnabled(GetDlgItem(w, id)) == !checked);
            GetWindowRect(GetDlgItem(w, IDC_START), &after);
            EXPECT_TRUE(EqualRect(&before, &after));
        }

        // Cancel while idle closes the dialog and keeps the port's name.
        SetWindowTextA(box, "ttyUSB9");
        WinClick(w, IDC_CANCEL_STOP);
    });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(theApp.lastPort, "ttyUSB9");
    EXPECT_TRUE(WinAllDialogsSeen());
}

// A faulty file is refused before the dialog shows; a firmware that cannot
// be uploaded as it is, or a port that cannot be had, before the run.
TEST(UploadDialog, ErrorBoxes)
{
    theApp.ports = {"COM1"};
    std::vector<std::string> bad = Image(0x1000, 16), good = bad;
    bad[1].back() = bad[1].back() == '0' ? '1' : '0';
    std::string missing = TempFolder() + "\\missing.srec";
    const struct {
        std::string file, port, prefix, contains;
        bool question; // Yes and No, No the default; answered No
    } cases[] = {
        {FirmwareFile("badsum.srec", {bad}), "",
         "Error while checking the firmware file:\n\n'" + bad[1] + "':\n- incorrect checksum (0x" +
             bad[1].substr(bad[1].size() - 2) + "), should be 0x" +
             good[1].substr(good[1].size() - 2),
         "", false},
        {missing, "", "Error while checking the firmware file:\n\n" + missing + "\n\n- ", "",
         false},
        {FirmwareFile("overlap.srec", {Image(0x1000, 16), Image(0x1008, 16)}), "COM9",
         "ERROR:\n\nSegment #0 of image #0 (0x1000~0x1010) overlaps\nsegment #0 of image #1 "
         "(0x1008~0x1018)\n",
         "", false},
        {FirmwareFile("high.srec", {Image(0xEFFF0, 17)}), "COM9",
         "WARNING:\nThe selected firmware exceeds the highest possible flash address", "", true},
        {FirmwareFile("ok.srec", {Image(0x1000, 16)}), "COM9",
         "Cannot open serial port:\n\nCOM9: ", "<ERROR_FILE_NOT_FOUND>", false},
    };
    for (const auto &c : cases) {
        std::string text;
        UINT icon = 0;
        bool noIsDefault = false;
        auto box = [&](HWND b) {
            text = WinBoxText(b);
            icon = WinBoxIcon(b);
            noIsDefault =
                (GetWindowLongA(GetDlgItem(b, IDNO), GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
            EndDialog(b, c.question ? IDNO : IDOK);
        };
        CDownloadDlg dlg(nullptr);
        if (c.port.empty()) {
            WhenDialog(box);
            EXPECT_EQ(dlg.ScanFile(c.file.c_str()), 0);
        } else {
            ASSERT_EQ(dlg.ScanFile(c.file.c_str()), 1);
            WhenDialog([&](HWND w) {
                SetDlgItemTextA(w, IDC_PORT, c.port.c_str());
                WinClick(w, IDC_START); // the box comes and goes meanwhile
                ExpectIdle(w);
                WinClick(w, IDC_CANCEL_STOP);
            });
            WhenDialog(box);
            EXPECT_EQ(dlg.DoModal(), IDCANCEL);
        }
        EXPECT_TRUE(WinAllDialogsSeen());
        EXPECT_EQ(text.rfind(c.prefix, 0), 0u) << text;
        EXPECT_NE(text.find(c.contains), std::string::npos) << text;
        EXPECT_EQ(icon, UINT(MB_ICONSTOP)) << text;
        EXPECT_EQ(noIsDefault, c.question) << text;
    }
}

TEST(UploadDialog, VerifiedUpload)
{
    std::string com = SimPort();
    ASSERT_FALSE(com.empty()) << "MIRDEL_TEST_COM names no port: scripts/test-windows starts "
                                 "mirdel-sim on COM7 for this program";
    theApp.ports = {"COM1"};
    CDownloadDlg dlg(nullptr);
    ASSERT_EQ(dlg.ScanFile(FirmwareFile("up.srec", {Image(0x10000, 256)}).c_str()), 1);
    std::set<std::string> labels[3];
    bool boldSeen[3] = {};
    Groups atBox;
    std::string text;
    UINT icon = 0;
    WhenDialog([&](HWND w) {
        SetDlgItemTextA(w, IDC_PORT, com.c_str());
        WinClick(w, IDC_START);
        // The running state is in place at once.
        EXPECT_EQ(WinText(w), "Uploading...");
        EXPECT_EQ(WinItemText(w, IDC_CANCEL_STOP), "Sto&p");
        EXPECT_EQ(DefaultButton(w), IDC_CANCEL_STOP);
        for (int id : {IDC_START, IDC_PORT, IDC_ADVANCED, IDC_VERIFY})
            EXPECT_FALSE(IsWindowEnabled(GetDlgItem(w, id))) << id;
        SendMessageA(w, WM_CLOSE, 0, 0); // refused during a run
        EXPECT_TRUE(dlg.Running());
        WinPump(60000, [&] {
            Groups s = Shown(w);
            for (int g = 0; g < 3; g++) {
                labels[g].insert(s.label[g]);
                boldSeen[g] = boldSeen[g] || s.bold[g];
            }
            return !IsWindowVisible(w);
        });
    });
    WhenDialog(
        [&](HWND b) {
            text = WinBoxText(b);
            icon = WinBoxIcon(b);
            atBox = Shown(dlg.Window());
            EndDialog(b, IDOK);
        },
        60000);
    EXPECT_EQ(dlg.DoModal(), IDOK); // closed after success
    EXPECT_TRUE(WinAllDialogsSeen());
    EXPECT_EQ(text, "Upload successful.");
    EXPECT_EQ(icon, UINT(MB_ICONINFORMATION));
    for (int g = 0; g < 3; g++) {
        EXPECT_EQ(atBox.label[g], std::string(kPlain[g]) + " ... done.");
        EXPECT_TRUE(atBox.number[g] == "100" && atBox.bar[g] == RUN_BAR_MAX && !atBox.bold[g]);
        EXPECT_EQ(labels[g].count(std::string(kPlain[g]) + " ..."), 1u) << g;
        EXPECT_TRUE(boldSeen[g]) << g;
    }
    EXPECT_EQ(theApp.lastPort, com);
}

// Stop (Esc during a run) is taken at once; the groups stay as they are,
// but for the flash writing, which the instrument finishes first while a
// note below it says so.
TEST(UploadDialog, Stop)
{
    std::string com = SimPort();
    ASSERT_FALSE(com.empty()) << "MIRDEL_TEST_COM names no port: scripts/test-windows starts "
                                 "mirdel-sim on COM7 for this program";
    const struct {
        int group; // under way when Stop is pressed
        size_t bytes;
    } cases[] = {{RUN_GROUP_FLASH, 2048}, {RUN_GROUP_UPLOAD, 32 * 60}};
    for (const auto &c : cases) {
        CDownloadDlg dlg(nullptr);
        ASSERT_EQ(dlg.ScanFile(FirmwareFile("stop.srec", {Image(0x10000, c.bytes)}).c_str()), 1);
        bool inFlash = c.group == RUN_GROUP_FLASH;
        Groups atStop, atBox;
        std::string text;
        UINT icon = 0;
        bool noteAtBox = false, grownAtBox = false;
        RECT idle = {};
        WhenDialog([&](HWND w) {
            GetWindowRect(w, &idle);
            SetDlgItemTextA(w, IDC_PORT, com.c_str());
            WinClick(w, IDC_START);
            WinPump(30000, [&] { return Shown(w).bar[c.group] > 0; });
            SendMessageA(w, WM_COMMAND, IDCANCEL, 0); // Esc
            atStop = Shown(w);
            EXPECT_TRUE(atStop.bar[c.group] > 0 && atStop.bar[c.group] < RUN_BAR_MAX);
            EXPECT_EQ(WinItemText(w, IDC_CANCEL_STOP), "Stopping...");
            EXPECT_FALSE(IsWindowEnabled(GetDlgItem(w, IDC_CANCEL_STOP)));
            EXPECT_TRUE(dlg.Running() && IsWindowVisible(w));
            WinPump(60000, [&] { return !dlg.Running(); });
            ExpectIdle(w);
            RECT now;
            GetWindowRect(w, &now);
            EXPECT_TRUE(EqualRect(&now, &idle));
            EXPECT_FALSE(IsWindowVisible(GetDlgItem(w, IDC_GROUP_NOTE + RUN_GROUP_FLASH)));
            WinClick(w, IDC_CANCEL_STOP);
        });
        WhenDialog(
            [&](HWND b) {
                text = WinBoxText(b);
                icon = WinBoxIcon(b);
                HWND w = dlg.Window();
                atBox = Shown(w);
                noteAtBox = IsWindowVisible(GetDlgItem(w, IDC_GROUP_NOTE + RUN_GROUP_FLASH));
                RECT r;
                GetWindowRect(w, &r);
                grownAtBox = r.bottom - r.top > idle.bottom - idle.top;
                EndDialog(b, IDOK);
            },
            60000);
        EXPECT_EQ(dlg.DoModal(), IDCANCEL);
        EXPECT_TRUE(WinAllDialogsSeen());
        EXPECT_EQ(text, "Upload stopped by user.");
        EXPECT_EQ(icon, UINT(MB_ICONEXCLAMATION));
        for (int g = 0; g < 3; g++) {
            if (inFlash && g == RUN_GROUP_FLASH)
                EXPECT_TRUE(atBox.label[g] == std::string(kPlain[g]) + " ... done." &&
                            atBox.bar[g] == RUN_BAR_MAX);
            else
                EXPECT_TRUE(atBox.label[g] == atStop.label[g] && atBox.bar[g] == atStop.bar[g])
                    << g << " " << atBox.label[g];
        }
        EXPECT_EQ(noteAtBox, inFlash);
        EXPECT_EQ(grownAtBox, inFlash);
    }
}
