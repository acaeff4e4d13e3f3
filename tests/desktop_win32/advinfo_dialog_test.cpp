// The advanced firmware information dialog, driven by messages: its texts
// and tree, what it copies, its growth, and the flash map's tips and
// colours.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/advinfo.h"
#include "core/advinfo_text.h"
#include "desktop_win32/advinfodlg.h"
#include "desktop_win32/flashmapview.h"
#include "firmware/mdl.h"
#include "tests/desktop_win32/win_ui_test.h"
#include "tests/firmware/records.h"

#undef IDC_SIZE
#include "desktop_win32/resource.h"

namespace
{

// An image at base of bytes bytes loaded at load, in records of 128.
std::vector<std::string> Image(uint32_t base, const char *name, uint32_t load, size_t bytes)
{
    char text[64];
    std::snprintf(text, sizeof text, "0x%X%s%s", base, *name ? " " : "", name);
    std::vector<std::string> lines{S0(text)};
    for (size_t off = 0; off < bytes; off += 128)
        lines.push_back(Record('2', static_cast<uint32_t>(load + off), Bytes(128)));
    lines.push_back(Record('9', 0, {}));
    return lines;
}

struct Loaded {
    Firmware fw{};
    explicit Loaded(const std::vector<std::vector<std::string>> &images)
    {
        for (const auto &image : images)
            for (const std::string &l : image) {
                const char *message = nullptr;
                EXPECT_NE(MdlDecodeLine(l.c_str(), &fw, &message), MDL_DECODE_ERROR) << l;
            }
    }
    ~Loaded() { MdlFirmwareRelease(&fw); }
};

// Runs the dialog on fw and calls check with it open.
void RunDialog(const Firmware &fw, const std::function<void(CAdvancedInfoDlg &, HWND)> &check)
{
    CAdvancedInfoDlg dlg(nullptr);
    dlg.SetFirmware(fw);
    WhenDialog([&](HWND hwnd) {
        EXPECT_EQ(hwnd, dlg.Window());
        check(dlg, hwnd);
        WinClick(hwnd, IDOK);
    });
    EXPECT_EQ(dlg.DoModal(), IDOK);
    EXPECT_TRUE(WinAllDialogsSeen());
}

std::string ItemText(HWND tree, HTREEITEM item)
{
    char text[1024] = "";
    TVITEMA tv = {};
    tv.mask = TVIF_TEXT;
    tv.hItem = item;
    tv.pszText = text;
    tv.cchTextMax = sizeof text;
    SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&tv));
    return text;
}

HTREEITEM Next(HWND tree, UINT how, HTREEITEM item = nullptr)
{
    return reinterpret_cast<HTREEITEM>(
        SendMessageA(tree, TVM_GETNEXTITEM, how, reinterpret_cast<LPARAM>(item)));
}

std::string Clipboard(UINT format)
{
    std::string text = "<none>";
    if (!OpenClipboard(nullptr))
        return "<not opened>";
    if (HANDLE mem = GetClipboardData(format)) {
        const void *data = GlobalLock(mem);
        if (format == CF_UNICODETEXT) {
            auto *w = static_cast<const wchar_t *>(data);
            int n = WideCharToMultiByte(CP_UTF8, 0, w, -1, nullptr, 0, nullptr, nullptr);
            text.assign(static_cast<size_t>(n), '\0');
            WideCharToMultiByte(CP_UTF8, 0, w, -1, text.data(), n, nullptr, nullptr);
            text.resize(static_cast<size_t>(n - 1));
        } else {
            text = static_cast<const char *>(data);
        }
        GlobalUnlock(mem);
    }
    CloseClipboard();
    return text;
}

RECT Rect(HWND w)
{
    RECT r;
    GetWindowRect(w, &r);
    return r;
}

} // namespace

// The summary fields and the tree on firmware files of one image, of
// three (one without a name, listed out of address order) and of none.
TEST(AdvancedDialog, SummaryAndTree)
{
    struct Case {
        std::vector<std::vector<std::string>> images;
        const char *size, *span, *lowest, *highest;
        std::vector<size_t> segments; // per image
    } const cases[] = {
        {{Image(0x100000, "App", 0, 0x20000)},
         "131,072 (0x20000) = 128Ki Bytes",
         "131,072 (0x20000) = 128Ki Bytes",
         "0x100000 = 1Mi",
         "0x11FFFF = 1Mi+127Ki+1023",
         {1}},
        {{Image(0x20000, "High", 0x8000, 0x400), Image(0x8000, "", 0x1000, 0x200),
          Image(0x10000, "Two", 0x0, 0x100)},
         "1,792 (0x700) = 1Ki+768 Bytes",
         "99,328 (0x18400) = 97Ki Bytes",
         "0x8000 = 32Ki",
         "0x203FF = 128Ki+1023",
         {1, 1, 1}},
        {{}, "0 (0x0) Bytes", "0 (0x0) Bytes", "none", "none", {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.size);
        Loaded fw(c.images);
        AdvInfoTexts want;
        AdvInfoCompose(fw.fw, &want);
        RunDialog(fw.fw, [&](CAdvancedInfoDlg &, HWND dlg) {
            EXPECT_EQ(WinText(dlg), "Advanced firmware information");
            EXPECT_EQ(WinItemText(dlg, IDC_ADV_SIZE), c.size);
            EXPECT_EQ(WinItemText(dlg, IDC_ADV_SPAN), c.span);
            EXPECT_EQ(WinItemText(dlg, IDC_ADV_LOWEST), c.lowest);
            EXPECT_EQ(WinItemText(dlg, IDC_ADV_HIGHEST), c.highest);
            EXPECT_EQ(WinItemText(dlg, IDC_ADV_MAP_LABEL), ADVINFO_LABEL_MAP);
            for (int id : {IDC_ADV_SIZE, IDC_ADV_SPAN, IDC_ADV_LOWEST, IDC_ADV_HIGHEST})
                EXPECT_TRUE(GetWindowLongA(GetDlgItem(dlg, id), GWL_STYLE) & ES_READONLY);

            // Images at the root in file order, each with its segments
            // below; none expanded or selected.
            HWND tree = GetDlgItem(dlg, IDC_ADV_TREE);
            EXPECT_EQ(Next(tree, TVGN_CARET), nullptr);
            size_t i = 0;
            for (HTREEITEM image = Next(tree, TVGN_ROOT); image;
                 image = Next(tree, TVGN_NEXT, image), i++) {
                ASSERT_LT(i, want.images.size());
                EXPECT_EQ(ItemText(tree, image), want.images[i].text);
                EXPECT_EQ(SendMessageA(tree, TVM_GETITEMSTATE, reinterpret_cast<WPARAM>(image),
                                       TVIS_EXPANDED | TVIS_SELECTED),
                          0);
                size_t j = 0;
                for (HTREEITEM s = Next(tree, TVGN_CHILD, image); s; s = Next(tree, TVGN_NEXT, s))
                    EXPECT_EQ(ItemText(tree, s), want.images[i].segments.at(j++));
                EXPECT_EQ(j, c.segments.at(i));
            }
            EXPECT_EQ(i, c.segments.size());
        });
    }
}

// What the clipboard gets: the selected line, or every line of the
// information (summary and tree) when none is selected.
TEST(AdvancedDialog, Copy)
{
    Loaded fw({Image(0x100000, "Boot", 0, 0x200), Image(0x20000000, "Application", 0x8000, 0x400)});
    AdvInfoTexts texts;
    AdvInfoCompose(fw.fw, &texts);
    const std::string all = AdvInfoPlainText(texts);
    ASSERT_EQ(all.rfind(ADVINFO_LABEL_SIZE, 0), 0u);
    struct Case {
        int image, segment; // selected; -1 none
        int how;            // 0 Ctrl+C, else the menu command
        bool wantAll;
    } const cases[] = {
        {1, 0, 0, false},
        {-1, -1, 0, true},
        {0, -1, IDM_ADV_COPY, false},
        {-1, -1, IDM_ADV_COPY, true},
        {0, 0, IDM_ADV_COPY_ALL, true},
    };
    RunDialog(fw.fw, [&](CAdvancedInfoDlg &, HWND dlg) {
        HWND tree = GetDlgItem(dlg, IDC_ADV_TREE);
        for (const Case &c : cases) {
            SCOPED_TRACE(testing::Message() << c.image << "/" << c.segment << " by " << c.how);
            HTREEITEM item = nullptr;
            if (c.image >= 0) {
                item = Next(tree, TVGN_ROOT);
                for (int i = 0; i < c.image; i++)
                    item = Next(tree, TVGN_NEXT, item);
                if (c.segment >= 0)
                    item = Next(tree, TVGN_CHILD, item);
            }
            SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
            if (OpenClipboard(dlg)) {
                EmptyClipboard();
                CloseClipboard();
            }
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
            std::string want = all;
            if (!c.wantAll) {
                want = ItemText(tree, item);
            }
            EXPECT_EQ(Clipboard(CF_TEXT), want);
            EXPECT_EQ(Clipboard(CF_UNICODETEXT), want);
        }
    });
}

// The window grows, the tree and the map's width take the room, and it
// shrinks no further than its smallest size.
TEST(AdvancedDialog, Resizable)
{
    Loaded fw({Image(0x100000, "Boot", 0, 0x200)});
    RunDialog(fw.fw, [&](CAdvancedInfoDlg &adv, HWND dlg) {
        EXPECT_TRUE(GetWindowLongA(dlg, GWL_STYLE) & WS_THICKFRAME);
        HWND tree = GetDlgItem(dlg, IDC_ADV_TREE), ok = GetDlgItem(dlg, IDOK);
        // No smaller than the template.
        SetWindowPos(dlg, nullptr, 0, 0, 100, 100, SWP_NOMOVE | SWP_NOZORDER);
        RECT client, least = {0, 0, 292, 181};
        GetClientRect(dlg, &client);
        MapDialogRect(dlg, &least);
        EXPECT_GE(client.right, least.right);
        EXPECT_GT(client.bottom, least.bottom);
        RECT w0 = Rect(dlg), t0 = Rect(tree), m0 = Rect(adv.map->Window());
        SetWindowPos(dlg, nullptr, 0, 0, w0.right - w0.left + 200, w0.bottom - w0.top + 150,
                     SWP_NOMOVE | SWP_NOZORDER);
        RECT t1 = Rect(tree), m1 = Rect(adv.map->Window()), w1 = Rect(dlg), o = Rect(ok);
        EXPECT_EQ(t1.right - t1.left, t0.right - t0.left + 200);
        EXPECT_EQ(t1.bottom - t1.top, t0.bottom - t0.top + 150);
        EXPECT_EQ(m1.right - m1.left, m0.right - m0.left + 200);
        EXPECT_EQ(m1.bottom - m1.top, m0.bottom - m0.top);
        EXPECT_LE(std::abs((o.left + o.right) - (w1.left + w1.right)), 2);
        EXPECT_GT(o.top, t1.bottom);
    });
}

// A block per segment: the tip at each block is its line and warning, at
// the range two share it names both; each block is drawn in its image's
// colour; selecting an image outlines its block alone.
TEST(AdvancedDialog, FlashMap)
{
    Loaded fw({Image(0x10000, "A", 0x10000, 0x20000), Image(0x28000, "B", 0x28000, 0x20000),
               Image(0xEC000, "C", 0xEC000, 0x10000)});
    const std::string warnings[] = {"Overlaps Image #1 \"B\", Segment #0 at 0x28000-0x2FFFF.",
                                    "Overlaps Image #0 \"A\", Segment #0 at 0x28000-0x2FFFF.",
                                    "Reaches beyond the highest flash address 0xEFFFF."};
    AdvInfoTexts texts;
    AdvInfoCompose(fw.fw, &texts);
    RunDialog(fw.fw, [&](CAdvancedInfoDlg &adv, HWND dlg) {
        HWND map = adv.map->Window();
        auto tipAt = [&](int x, int y) {
            SendMessageA(map, WM_MOUSEMOVE, 0, MAKELPARAM(x, y));
            TOOLINFOA ti = {};
            ti.cbSize = sizeof ti;
            EXPECT_TRUE(
                SendMessageA(adv.map->Tooltip(), TTM_ENUMTOOLSA, 0, reinterpret_cast<LPARAM>(&ti)));
            // The A form gives no more than 80 characters under Wine.
            wchar_t text[1024] = L"";
            ti.lpszText = reinterpret_cast<char *>(text);
            SendMessageW(adv.map->Tooltip(), TTM_GETTEXTW, 1024, reinterpret_cast<LPARAM>(&ti));
            char utf8[1024] = "";
            WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr);
            return std::string(utf8);
        };
        // The blocks as the map lays them out.
        std::vector<RECT> blocks;
        for (const FlashMapShape &s : adv.map->Layout().shapes)
            if (s.role == FLASHMAP_ROLE_IMAGE && s.block >= 0)
                blocks.push_back({s.rect.x, s.rect.y, s.rect.x + s.rect.w, s.rect.y + s.rect.h});
        ASSERT_EQ(blocks.size(), 3u);
        for (size_t k = 0; k < 3; k++)
            EXPECT_EQ(tipAt((blocks[k].left + blocks[k].right) / 2, blocks[k].top + 2),
                      texts.images[k].segments[0] + "\n" + warnings[k]);
        EXPECT_EQ(tipAt((blocks[0].right + blocks[1].left) / 2, blocks[0].top + 2),
                  "Overlap at 0x28000-0x2FFFF of\nImage #0 \"A\", " + texts.images[0].segments[0] +
                      "\nImage #1 \"B\", " + texts.images[1].segments[0]);

        // Drawn into a bitmap as on the screen.
        RECT client;
        GetClientRect(map, &client);
        BITMAPINFO bi = {};
        bi.bmiHeader.biSize = sizeof bi.bmiHeader;
        bi.bmiHeader.biWidth = client.right;
        bi.bmiHeader.biHeight = -client.bottom; // top row first
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        void *bits = nullptr;
        HDC mem = CreateCompatibleDC(nullptr);
        HBITMAP bitmap = CreateDIBSection(mem, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
        HGDIOBJ old = SelectObject(mem, bitmap);
        SendMessageA(map, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(mem), PRF_CLIENT);
        auto pixel = [&](int x, int y) {
            return static_cast<const uint32_t *>(bits)[y * client.right + x] & 0xffffff;
        };
        // A left of the range it shares with B, B right of it.
        const uint32_t colours[] = {0x3b76c4, 0x3fa34d};
        const int xs[] = {blocks[1].left - 3, blocks[0].right + 3};
        for (size_t k = 0; k < 2; k++)
            EXPECT_EQ(pixel(xs[k], (blocks[k].top + blocks[k].bottom) / 2), colours[k]) << k;
        SelectObject(mem, old);
        DeleteObject(bitmap);
        DeleteDC(mem);

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
