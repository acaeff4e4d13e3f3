// The upload dialog: what it shows of a file, its error boxes, and runs on
// mirdel-sim at MIRDEL_TEST_COM (slow answers: scripts/test-windows).
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

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

std::string TempFolder() // without its closing backslash
{
    char tmp[MAX_PATH];
    return std::string(tmp, GetTempPathA(sizeof tmp, tmp) - 1);
}

// The images as a file, padded with comment lines to size bytes.
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

void ExpectIdle(HWND dlg)
{
    EXPECT_EQ(WinText(dlg), "Upload");
    EXPECT_EQ(WinItemText(dlg, IDC_CANCEL_STOP), "&Cancel");
    EXPECT_EQ(LOWORD(SendMessageA(dlg, DM_GETDEFID, 0, 0)), IDC_START);
    for (int id : {IDC_START, IDC_CANCEL_STOP, IDC_PORT, IDC_ADVANCED, IDC_VERIFY})
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dlg, id))) << id;
    Groups s = Shown(dlg);
    for (int g = 0; g < 3; g++)
        EXPECT_TRUE(s.label[g] == kPlain[g] && s.number[g] == "0" && s.bar[g] == 0 && !s.bold[g])
            << g << " " << s.label[g];
}

} // namespace

TEST(UploadDialog, ShowsTheFile)
{
    theApp.ports = {"COM1", "COM2", "ttyUSB1", "ttyS0"};
    theApp.lastPort = "TTYS0";
    std::string path = FirmwareFile("fw.srec", {Image(0x1000, 64)}, 1536);
    // Written just now: the Modified field shows today in the user's format.
    char date[64] = "";
    GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, nullptr, nullptr, date, sizeof date);
    CDownloadDlg dlg(nullptr);
    ASSERT_EQ(dlg.ScanFile(path.c_str()), 1);
    WhenDialog([&](HWND w) {
        EXPECT_EQ(WinItemText(w, IDC_FILE_NAME), "fw.srec");
        EXPECT_EQ(WinItemText(w, IDC_LOCATION), TempFolder());
        EXPECT_EQ(WinItemText(w, IDC_SIZE),
                  std::string("1.50 KiB (") + IntStrGroup(1536) + " Bytes)");
        EXPECT_EQ(WinItemText(w, IDC_MODIFIED).rfind(std::string(date) + ", ", 0), 0u);
        EXPECT_EQ(WinItemText(w, IDC_PORT), "ttyS0"); // the last port, in any case
        ExpectIdle(w);
        // The animation is loaded: it plays its frames once.
        EXPECT_TRUE(SendDlgItemMessageA(w, IDC_ANIMATION, ACM_PLAY, 1, MAKELPARAM(1, 0xFFFF)));
        SendDlgItemMessageA(w, IDC_ANIMATION, ACM_STOP, 0, 0);
        // The tooltips: what the field shows.
        const std::pair<int, std::string> tips[] = {{IDC_LOCATION, dlg.location},
                                                    {IDC_SIZE, dlg.sizeText},
                                                    {IDC_MODIFIED, dlg.modifiedText},
                                                    {IDC_FILE_NAME, ""}};
        for (const auto &[id, text] : tips) {
            NMTTDISPINFOA request = {};
            request.hdr = {nullptr, reinterpret_cast<UINT_PTR>(GetDlgItem(w, id)), TTN_NEEDTEXTA};
            request.uFlags = TTF_IDISHWND;
            EXPECT_TRUE(dlg.OnToolTipNeedText(&request.hdr));
            EXPECT_EQ(std::string(request.lpszText), text) << id;
        }
        // Verify, checked, hides its group and shows it again.
        for (bool checked : {false, true}) {
            SendDlgItemMessageA(w, IDC_VERIFY, BM_CLICK, 0, 0);
            for (int id : {IDC_VERIFY_BAR, IDC_VERIFY_LABEL, IDC_VERIFY_SIGN, IDC_VERIFY_PERCENT})
                EXPECT_TRUE(!IsWindowVisible(GetDlgItem(w, id)) == !checked &&
                            !IsWindowEnabled(GetDlgItem(w, id)) == !checked);
        }
        // Cancel while idle closes the dialog and keeps the port's name.
        SetDlgItemTextA(w, IDC_PORT, "ttyUSB9");
        WinClick(w, IDC_CANCEL_STOP);
    });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(theApp.lastPort, "ttyUSB9");
    EXPECT_TRUE(WinAllDialogsSeen());
    dlg.location = std::string(90, 'a'); // a long folder's tooltip shows its first 79
    EXPECT_EQ(dlg.ToolTipText(IDC_LOCATION), std::string(79, 'a'));
}

// A faulty file is refused before the dialog shows (the refusals before a
// run: the run scenarios).
TEST(UploadDialog, ErrorBoxes)
{
    std::vector<std::string> bad = Image(0x1000, 16), good = bad;
    bad[1].back() = bad[1].back() == '0' ? '1' : '0';
    std::string missing = TempFolder() + "\\missing.srec";
    const struct {
        std::string file, prefix;
    } cases[] = {
        {FirmwareFile("badsum.srec", {bad}),
         "Error while checking the firmware file:\n\n'" + bad[1] + "':\n- incorrect checksum (0x" +
             bad[1].substr(bad[1].size() - 2) + "), should be 0x" +
             good[1].substr(good[1].size() - 2)},
        {missing, "Error while checking the firmware file:\n\n" + missing + "\n\n- "}};
    for (const auto &c : cases) {
        WhenDialog([&](HWND b) {
            EXPECT_EQ(WinBoxText(b).rfind(c.prefix, 0), 0u) << WinBoxText(b);
            EXPECT_EQ(WinBoxIcon(b), UINT(MB_ICONSTOP));
            EndDialog(b, IDOK);
        });
        CDownloadDlg dlg(nullptr);
        EXPECT_EQ(dlg.ScanFile(c.file.c_str()), 0);
        EXPECT_TRUE(WinAllDialogsSeen()) << c.prefix;
    }
}
