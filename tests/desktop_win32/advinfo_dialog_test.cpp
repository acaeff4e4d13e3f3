// The advanced firmware information dialog, driven by messages.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <vector>

#include "core/advinfo.h"
#include "core/advinfo_text.h"
#include "desktop_win32/advinfodlg.h"
#include "desktop_win32/flashmapview.h"
#include "desktop_win32/resource.h"
#include "firmware/mdl.h"
#include "tests/desktop_win32/win_ui_test.h"
#include "tests/firmware/records.h"

namespace
{

// Runs the dialog on the images; check gets it open and the texts it shows.
using Check = std::function<void(CAdvancedInfoDlg &, HWND, const AdvInfoTexts &)>;
void RunDialog(const std::vector<std::vector<std::string>> &images, const Check &check)
{
    Firmware fw{};
    for (const auto &image : images)
        for (const std::string &l : image) {
            const char *message = nullptr;
            EXPECT_NE(MdlDecodeLine(l.c_str(), &fw, &message), MDL_DECODE_ERROR) << l;
        }
    AdvInfoTexts texts;
    AdvInfoCompose(fw, &texts);
    {
        CAdvancedInfoDlg dlg(nullptr);
        dlg.SetFirmware(fw);
        WhenDialog([&](HWND hwnd) {
            check(dlg, hwnd, texts);
            WinClick(hwnd, IDOK);
        });
        EXPECT_EQ(dlg.DoModal(), IDOK);
        EXPECT_TRUE(WinAllDialogsSeen());
    }
    MdlFirmwareRelease(&fw);
}

std::string ItemText(HWND tree, HTREEITEM item)
{
    char text[1024] = "";
    TVITEMA tv = {TVIF_TEXT, item, 0, 0, text, sizeof text, 0, 0, 0, 0};
    SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&tv));
    return text;
}

HTREEITEM Next(HWND tree, UINT how, HTREEITEM item = nullptr)
{
    return reinterpret_cast<HTREEITEM>(
        SendMessageA(tree, TVM_GETNEXTITEM, how, reinterpret_cast<LPARAM>(item)));
}

std::string Utf8(const wchar_t *text)
{
    char out[4096] = "";
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out, sizeof out, nullptr, nullptr);
    return out;
}

std::string Clipboard(UINT format)
{
    std::string text = "<none>";
    OpenClipboard(nullptr);
    if (HANDLE mem = GetClipboardData(format)) {
        const void *data = GlobalLock(mem);
        text = format == CF_TEXT ? static_cast<const char *>(data)
                                 : Utf8(static_cast<const wchar_t *>(data));
        GlobalUnlock(mem);
    }
    CloseClipboard();
    return text;
}

} // namespace

// Three images (one without a name, out of address order), and none.
TEST(AdvancedDialog, SummaryAndTree)
{
    const std::vector<std::vector<std::string>> cases[] = {{Image(0x20000, 0x400, "High", 0x8000),
                                                            Image(0x8000, 0x200, "", 0x1000),
                                                            Image(0x10000, 0x100, "Two", 0x0)},
                                                           {}};
    for (const auto &images : cases) {
        RunDialog(images, [&](CAdvancedInfoDlg &, HWND dlg, const AdvInfoTexts &want) {
            EXPECT_EQ(WinText(dlg), "Advanced firmware information");
            EXPECT_EQ(WinItemText(dlg, IDC_ADV_MAP_LABEL), ADVINFO_LABEL_MAP);
            const std::pair<int, std::string> fields[] = {{IDC_ADV_SIZE, want.sizeText},
                                                          {IDC_ADV_SPAN, want.spanText},
                                                          {IDC_ADV_LOWEST, want.lowestText},
                                                          {IDC_ADV_HIGHEST, want.highestText}};
            for (const auto &[id, text] : fields)
                EXPECT_EQ(WinItemText(dlg, id), text);
            // Images at the root in file order, each with its segments
            // below; none expanded or selected.
            HWND tree = GetDlgItem(dlg, IDC_ADV_TREE);
            EXPECT_EQ(Next(tree, TVGN_CARET), nullptr);
            std::vector<std::string> lines, wanted;
            for (HTREEITEM image = Next(tree, TVGN_ROOT); image;
                 image = Next(tree, TVGN_NEXT, image)) {
                lines.push_back(ItemText(tree, image));
                EXPECT_EQ(SendMessageA(tree, TVM_GETITEMSTATE, reinterpret_cast<WPARAM>(image),
                                       TVIS_EXPANDED | TVIS_SELECTED),
                          0);
                for (HTREEITEM s = Next(tree, TVGN_CHILD, image); s; s = Next(tree, TVGN_NEXT, s))
                    lines.push_back("  " + ItemText(tree, s));
            }
            for (const AdvInfoImage &image : want.images) {
                wanted.push_back(image.text);
                for (const std::string &segment : image.segments)
                    wanted.push_back("  " + segment);
            }
            EXPECT_EQ(lines, wanted);
        });
    }
}

// The clipboard gets the selected line, or every line when none is.
TEST(AdvancedDialog, Copy)
{
    struct Case {
        int image, segment; // selected; -1 none
        int how;            // 0 Ctrl+C, else the menu command
        bool wantAll;
    } const cases[] = {{1, 0, 0, false},
                       {-1, -1, 0, true},
                       {0, -1, IDM_ADV_COPY, false},
                       {-1, -1, IDM_ADV_COPY, true},
                       {0, 0, IDM_ADV_COPY_ALL, true}};
    RunDialog(
        {Image(0x10000, 0x6000, "Application"), Image(0x60000, 0x800, "Parameters")},
        [&](CAdvancedInfoDlg &, HWND dlg, const AdvInfoTexts &texts) {
            HWND tree = GetDlgItem(dlg, IDC_ADV_TREE);
            for (const Case &c : cases) {
                SCOPED_TRACE(testing::Message() << c.image << "/" << c.segment << " by " << c.how);
                HTREEITEM item = c.image < 0 ? nullptr : Next(tree, TVGN_ROOT);
                for (int i = 0; i < c.image; i++)
                    item = Next(tree, TVGN_NEXT, item);
                if (c.segment >= 0)
                    item = Next(tree, TVGN_CHILD, item);
                SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
                OpenClipboard(dlg);
                EmptyClipboard();
                CloseClipboard();
                if (c.how == 0) {
                    BYTE keys[256];
                    GetKeyboardState(keys);
                    keys[VK_CONTROL] = 0x80;
                    SetKeyboardState(keys);
                    SendMessageA(tree, WM_KEYDOWN, 'C', 1);
                    keys[VK_CONTROL] = 0;
                    SetKeyboardState(keys);
                } else {
                    SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(c.how, 0), 0);
                }
                std::string want = c.wantAll ? AdvInfoPlainText(texts) : ItemText(tree, item);
                for (size_t at = 0; (at = want.find('\n', at)) != std::string::npos; at += 2)
                    want.insert(at, 1, '\r');
                EXPECT_EQ(Clipboard(CF_TEXT), want);
                EXPECT_EQ(Clipboard(CF_UNICODETEXT), want);
            }
        });
}

// The tree and the map's width take the room; no smaller than the template.
TEST(AdvancedDialog, Resizable)
{
    RunDialog({Image(0x100000, 0x200, "Boot", 0)}, [&](CAdvancedInfoDlg &adv, HWND dlg, auto &) {
        auto size = [](HWND w) {
            RECT r;
            GetWindowRect(w, &r);
            return std::pair(r.right - r.left, r.bottom - r.top);
        };
        HWND tree = GetDlgItem(dlg, IDC_ADV_TREE), map = adv.map->Window();
        SetWindowPos(dlg, nullptr, 0, 0, 100, 100, SWP_NOMOVE | SWP_NOZORDER);
        RECT client, least = {0, 0, 292, 181};
        GetClientRect(dlg, &client);
        MapDialogRect(dlg, &least);
        EXPECT_GE(client.right, least.right);
        EXPECT_GT(client.bottom, least.bottom);
        auto [w, h] = size(dlg);
        auto [tw, th] = size(tree);
        auto [mw, mh] = size(map);
        SetWindowPos(dlg, nullptr, 0, 0, w + 200, h + 150, SWP_NOMOVE | SWP_NOZORDER);
        EXPECT_EQ(size(tree), std::pair(tw + 200, th + 150));
        EXPECT_EQ(size(map), std::pair(mw + 200, mh));
        // OK stays in the middle.
        RECT ok, all;
        GetWindowRect(GetDlgItem(dlg, IDOK), &ok);
        GetWindowRect(dlg, &all);
        EXPECT_LE(std::abs((ok.left + ok.right) - (all.left + all.right)), 2);
    });
}

// Each block's tip, and the shared range's; its image's colour; selecting an
// image outlines its block alone.
TEST(AdvancedDialog, FlashMap)
{
    const std::string warnings[] = {"Overlaps Image #1 \"B\", Segment #0 at 0x28000-0x2FFFF.",
                                    "Overlaps Image #0 \"A\", Segment #0 at 0x28000-0x2FFFF.",
                                    "Reaches beyond the highest flash address 0xEFFFF."};
    RunDialog(
        {Image(0x10000, 0x20000, "A"), Image(0x28000, 0x20000, "B"), Image(0xEC000, 0x10000, "C")},
        [&](CAdvancedInfoDlg &adv, HWND dlg, const AdvInfoTexts &texts) {
            HWND map = adv.map->Window();
            auto tipAt = [&](int x, int y) {
                SendMessageA(map, WM_MOUSEMOVE, 0, MAKELPARAM(x, y));
                TOOLINFOA ti = {};
                ti.cbSize = TTTOOLINFOA_V2_SIZE;
                EXPECT_TRUE(SendMessageA(adv.map->Tooltip(), TTM_ENUMTOOLSA, 0,
                                         reinterpret_cast<LPARAM>(&ti)));
                // The A form gives no more than 80 characters under Wine.
                wchar_t text[1024] = L"";
                ti.lpszText = reinterpret_cast<char *>(text);
                SendMessageW(adv.map->Tooltip(), TTM_GETTEXTW, 1024, reinterpret_cast<LPARAM>(&ti));
                return Utf8(text);
            };
            // The blocks as the map lays them out.
            std::vector<RECT> blocks;
            for (const FlashMapShape &s : adv.map->Layout().shapes)
                if (s.role == FLASHMAP_ROLE_IMAGE && s.block >= 0)
                    blocks.push_back(
                        {s.rect.x, s.rect.y, s.rect.x + s.rect.w, s.rect.y + s.rect.h});
            ASSERT_EQ(blocks.size(), 3u);
            for (size_t k = 0; k < 3; k++)
                EXPECT_EQ(tipAt((blocks[k].left + blocks[k].right) / 2, blocks[k].top + 2),
                          texts.images[k].segments[0] + "\n" + warnings[k]);
            EXPECT_EQ(tipAt((blocks[0].right + blocks[1].left) / 2, blocks[0].top + 2),
                      "Overlap at 0x28000-0x2FFFF of\nImage #0 \"A\", " +
                          texts.images[0].segments[0] + "\nImage #1 \"B\", " +
                          texts.images[1].segments[0]);
            // Drawn into a bitmap as on the screen.
            RECT client;
            GetClientRect(map, &client);
            HDC screen = GetDC(nullptr), mem = CreateCompatibleDC(screen);
            HBITMAP bitmap = CreateCompatibleBitmap(screen, client.right, client.bottom);
            SelectObject(mem, bitmap);
            SendMessageA(map, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(mem), PRF_CLIENT);
            // A left of the range it shares with B, B right of it.
            const int y = (blocks[0].top + blocks[0].bottom) / 2;
            EXPECT_EQ(GetPixel(mem, blocks[1].left - 3, y), RGB(0x3b, 0x76, 0xc4));
            EXPECT_EQ(GetPixel(mem, blocks[0].right + 3, y), RGB(0x3f, 0xa3, 0x4d));
            ReleaseDC(nullptr, screen);
            DeleteDC(mem);
            DeleteObject(bitmap);
            HWND tree = GetDlgItem(dlg, IDC_ADV_TREE);
            HTREEITEM second = Next(tree, TVGN_NEXT, Next(tree, TVGN_ROOT));
            SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(second));
            std::vector<int> outlined;
            for (const FlashMapShape &s : adv.map->Layout().shapes)
                if (s.role == FLASHMAP_ROLE_HIGHLIGHT)
                    outlined.push_back(s.block);
            EXPECT_EQ(outlined, std::vector<int>{1});
        });
}
