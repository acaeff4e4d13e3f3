#include "desktop_win32/advinfodlg.h"

#include <commctrl.h>

#include <algorithm>
#include <cstring>

#include "core/advinfo_text.h"
#include "core/flashmap.h"
#include "desktop_win32/flashmapview.h"
#include "desktop_win32/resource.h"

static const int advinfo_fields[] = {IDC_ADV_SIZE, IDC_ADV_SPAN, IDC_ADV_LOWEST, IDC_ADV_HIGHEST};

CAdvancedInfoDlg::CAdvancedInfoDlg(HWND parent) : parent_(parent) {}

void CAdvancedInfoDlg::SetFirmware(const Firmware &firmware)
{
    firmware_ = &firmware;
}

INT_PTR CAdvancedInfoDlg::DoModal()
{
    INT_PTR result = DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_ADVANCED),
                                     parent_, DialogProc, reinterpret_cast<LPARAM>(this));
    hwnd_ = nullptr;
    tree = nullptr;
    map = nullptr;
    return result;
}

RECT CAdvancedInfoDlg::DialogUnits(int x, int y, int w, int h) const
{
    RECT r = {x, y, x + w, y + h};
    MapDialogRect(hwnd_, &r);
    return r;
}

BOOL CAdvancedInfoDlg::OnInitDialog()
{
    tree = GetDlgItem(hwnd_, IDC_ADV_TREE);
    for (HWND c = GetWindow(hwnd_, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        char text[64] = "";
        GetWindowTextA(c, text, sizeof text);
        if ((GetWindowLongA(c, GWL_STYLE) & SS_TYPEMASK) == SS_ETCHEDHORZ)
            line_ = c;
        else if (lstrcmpA(text, ADVINFO_LABEL_DETAILS) == 0)
            details_ = c;
    }

    // The flash map and its label go between the line and the details,
    // after the line in the tab order.
    HFONT font = reinterpret_cast<HFONT>(SendMessageA(hwnd_, WM_GETFONT, 0, 0));
    HINSTANCE instance = GetModuleHandleA(nullptr);
    HWND mapLabel = CreateWindowExA(
        0, "STATIC", ADVINFO_LABEL_MAP, WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 0, 0, 0, 0,
        hwnd_, reinterpret_cast<HMENU>(IDC_ADV_MAP_LABEL), instance, nullptr);
    SendMessageA(mapLabel, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    map = CFlashMapView::Create(hwnd_, IDC_ADV_MAP);
    SendMessageA(map->Window(), WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    SetWindowPos(mapLabel, line_, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    SetWindowPos(map->Window(), mapLabel, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    CreateWindowExA(0, "SCROLLBAR", nullptr, WS_CHILD | WS_VISIBLE | SBS_SIZEGRIP, 0, 0, 0, 0,
                    hwnd_, reinterpret_cast<HMENU>(IDC_ADV_GRIP), instance, nullptr);

    texts_ = AdvInfoTexts();
    if (firmware_)
        AdvInfoCompose(*firmware_, &texts_);
    items_.clear();
    for (size_t i = 0; i < texts_.images.size(); i++) {
        const AdvInfoImage &image = texts_.images[i];
        TVINSERTSTRUCTA insert = {};
        insert.hParent = TVI_ROOT;
        insert.hInsertAfter = TVI_LAST;
        insert.item.mask = TVIF_TEXT | TVIF_PARAM;
        insert.item.pszText = const_cast<char *>(image.text.c_str());
        insert.item.lParam = static_cast<LPARAM>(items_.size());
        items_.push_back({static_cast<int>(i), -1});
        auto parent = reinterpret_cast<HTREEITEM>(
            SendMessageA(tree, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert)));
        for (size_t j = 0; j < image.segments.size(); j++) {
            insert.hParent = parent;
            insert.item.pszText = const_cast<char *>(image.segments[j].c_str());
            insert.item.lParam = static_cast<LPARAM>(items_.size());
            items_.push_back({static_cast<int>(i), static_cast<int>(j)});
            SendMessageA(tree, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert));
        }
    }
    // Nothing expanded and nothing selected: only the images show.
    SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, 0);

    if (firmware_) {
        FlashMap flash;
        FlashMapCompute(*firmware_, &flash);
        map->SetMap(flash, FlashMapTips(flash, texts_));
    }

    sizeText = texts_.sizeText;
    spanText = texts_.spanText;
    lowestText = texts_.lowestText;
    highestText = texts_.highestText;
    const std::string *texts[] = {&sizeText, &spanText, &lowestText, &highestText};
    for (int k = 0; k < 4; k++)
        SetDlgItemTextA(hwnd_, advinfo_fields[k], texts[k]->c_str());

    // The template's size with room for the map is the smallest; wider
    // for the longest line, as far as the screen allows.
    RECT window, client;
    GetWindowRect(hwnd_, &window);
    GetClientRect(hwnd_, &client);
    int extra = map->Height() + DialogUnits(0, 0, 0, 14).bottom;
    minSize_ = {window.right - window.left, window.bottom - window.top + extra};
    SetWindowPos(hwnd_, nullptr, 0, 0, minSize_.x, minSize_.y,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    FitLongestLine();

    // Centred over the parent, or on the screen without one.
    GetWindowRect(hwnd_, &window);
    RECT over;
    if (!parent_ || !GetWindowRect(parent_, &over))
        SystemParametersInfoA(SPI_GETWORKAREA, 0, &over, 0);
    int w = window.right - window.left, h = window.bottom - window.top;
    SetWindowPos(hwnd_, nullptr, std::max(0L, (over.left + over.right - w) / 2),
                 std::max(0L, (over.top + over.bottom - h) / 2), 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);

    SetFocus(GetDlgItem(hwnd_, IDOK));
    return FALSE; // the focus is set
}

void CAdvancedInfoDlg::FitLongestLine()
{
    HDC dc = GetDC(tree);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(tree, WM_GETFONT, 0, 0)));
    const int indent = static_cast<int>(SendMessageA(tree, TVM_GETINDENT, 0, 0));
    int longest = 0;
    auto measure = [dc](const std::string &text) {
        SIZE size = {};
        GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
        return static_cast<int>(size.cx);
    };
    // Items at the root have one indent for their button, segments two.
    for (const AdvInfoImage &image : texts_.images) {
        longest = std::max(longest, indent + measure(image.text));
        for (const std::string &segment : image.segments)
            longest = std::max(longest, 2 * indent + measure(segment));
    }
    SelectObject(dc, old);
    ReleaseDC(tree, dc);

    RECT window, client, treeRect, work;
    GetWindowRect(hwnd_, &window);
    GetClientRect(hwnd_, &client);
    GetClientRect(tree, &treeRect);
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    // The tree's client area holds the line with a scroll bar's room to
    // spare; the window around it grows by as much.
    int want = longest + GetSystemMetrics(SM_CXVSCROLL) + 8;
    int grow = want - treeRect.right;
    int width = window.right - window.left;
    int widest = (work.right - work.left) * 9 / 10;
    if (grow > 0 && width < widest)
        SetWindowPos(hwnd_, nullptr, 0, 0, std::min(width + grow, widest),
                     window.bottom - window.top, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CAdvancedInfoDlg::OnSize(int cx, int cy)
{
    if (!map)
        return;
    // Everything that spans the template's width ends at its right margin.
    const LONG right = cx - DialogUnits(0, 0, 7, 0).right;
    auto place = [right](HWND control, RECT r, bool stretch) {
        if (stretch)
            r.right = std::max(r.left, right);
        r.bottom = std::max(r.top, r.bottom);
        MoveWindow(control, r.left, r.top, r.right - r.left, r.bottom - r.top, TRUE);
    };
    const int fieldRows[] = {5, 15, 25, 35};
    for (int k = 0; k < 4; k++)
        place(GetDlgItem(hwnd_, advinfo_fields[k]), DialogUnits(95, fieldRows[k], 190, 9), true);
    place(line_, DialogUnits(5, 50, 280, 1), true);
    place(GetDlgItem(hwnd_, IDC_ADV_MAP_LABEL), DialogUnits(5, 55, 280, 8), true);

    // The map keeps its height, the tree takes the rest.
    RECT m = DialogUnits(5, 65, 280, 0);
    m.bottom = m.top + map->Height();
    place(map->Window(), m, true);
    RECT d = DialogUnits(5, 0, 280, 8);
    OffsetRect(&d, 0, m.bottom + DialogUnits(0, 0, 0, 4).bottom);
    place(details_, d, true);
    RECT t = {d.left, d.top + DialogUnits(0, 0, 0, 10).bottom, 0,
              cy - DialogUnits(0, 0, 0, 21).bottom};
    place(tree, t, true);

    RECT ok = DialogUnits(0, 0, 50, 14);
    OffsetRect(&ok, (cx - ok.right) / 2, cy - DialogUnits(0, 0, 0, 17).bottom);
    place(GetDlgItem(hwnd_, IDOK), ok, false);

    HWND grip = GetDlgItem(hwnd_, IDC_ADV_GRIP);
    int gw = GetSystemMetrics(SM_CXVSCROLL), gh = GetSystemMetrics(SM_CYHSCROLL);
    place(grip, RECT{cx - gw, cy - gh, cx, cy}, false);
    ShowWindow(grip, IsZoomed(hwnd_) ? SW_HIDE : SW_SHOW);
}

void CAdvancedInfoDlg::CopySelected()
{
    int image = -1, segment = -1;
    auto item = reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
    TVITEMA tv = {};
    tv.mask = TVIF_PARAM;
    tv.hItem = item;
    if (item && SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&tv)) &&
        static_cast<size_t>(tv.lParam) < items_.size()) {
        image = items_[static_cast<size_t>(tv.lParam)].first;
        segment = items_[static_cast<size_t>(tv.lParam)].second;
    }
    ToClipboard(AdvInfoCopyText(texts_, image, segment));
}

void CAdvancedInfoDlg::CopyAll()
{
    ToClipboard(AdvInfoCopyText(texts_, -1, -1));
}

static HGLOBAL advinfo_global(const void *data, size_t size)
{
    HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, size);
    if (!mem)
        return nullptr;
    memcpy(GlobalLock(mem), data, size);
    GlobalUnlock(mem);
    return mem;
}

void CAdvancedInfoDlg::ToClipboard(const std::string &lines)
{
    // Text on the Windows clipboard ends its lines with CR LF.
    std::string text;
    for (char c : lines) {
        if (c == '\n')
            text += '\r';
        text += c;
    }
    // The texts are UTF-8, the program's code page; programs that read
    // wide text get it converted.
    int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<size_t>(std::max(n, 1)), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(), n);
    if (!OpenClipboard(hwnd_))
        return;
    EmptyClipboard();
    if (HGLOBAL mem = advinfo_global(text.c_str(), text.size() + 1))
        if (!SetClipboardData(CF_TEXT, mem))
            GlobalFree(mem);
    if (HGLOBAL mem = advinfo_global(wide.c_str(), wide.size() * sizeof(wchar_t)))
        if (!SetClipboardData(CF_UNICODETEXT, mem))
            GlobalFree(mem);
    CloseClipboard();
}

void CAdvancedInfoDlg::OnContextMenu(HWND from, int x, int y)
{
    if (from != tree)
        return;
    if (x == -1 && y == -1) {
        // From the keyboard: below the selected item, or the tree's corner.
        RECT r = {0, 0, 0, 0};
        auto item = reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
        // TVM_GETITEMRECT takes the item in the rectangle's place; copied,
        // since -O2 refuses the cast.
        std::memcpy(&r, &item, sizeof item);
        if (!item || !SendMessageA(tree, TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&r)))
            r = RECT{0, 0, 0, 0};
        POINT p = {r.left, r.bottom};
        ClientToScreen(tree, &p);
        x = p.x;
        y = p.y;
    }
    HMENU menu = CreatePopupMenu();
    AppendMenuA(menu, MF_STRING, IDM_ADV_COPY, "&Copy\tCtrl+C");
    AppendMenuA(menu, MF_STRING, IDM_ADV_COPY_ALL, "Copy &all");
    TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RIGHTBUTTON, x, y, 0, hwnd_, nullptr);
    DestroyMenu(menu);
}

BOOL CAdvancedInfoDlg::OnNotify(NMHDR *header)
{
    if (header->hwndFrom != tree)
        return FALSE;
    switch (header->code) {
    case TVN_SELCHANGEDA:
    case TVN_SELCHANGEDW: {
        // The two structures differ only in their texts, not read here.
        auto *change = reinterpret_cast<NMTREEVIEWA *>(header);
        size_t k = static_cast<size_t>(change->itemNew.lParam);
        if (!change->itemNew.hItem || k >= items_.size())
            map->SetHighlight(-1, -1);
        else
            map->SetHighlight(items_[k].first, items_[k].second);
        return FALSE;
    }
    case TVN_KEYDOWN: {
        auto *key = reinterpret_cast<NMTVKEYDOWN *>(header);
        if (key->wVKey == 'C' && GetKeyState(VK_CONTROL) < 0) {
            CopySelected();
            SetWindowLongPtrA(hwnd_, DWLP_MSGRESULT, 1); // no incremental search
            return TRUE;
        }
        return FALSE;
    }
    case NM_RCLICK: {
        // As elsewhere, the item clicked is what the menu acts on.
        DWORD pos = GetMessagePos();
        TVHITTESTINFO hit = {};
        hit.pt = {static_cast<short>(LOWORD(pos)), static_cast<short>(HIWORD(pos))};
        ScreenToClient(tree, &hit.pt);
        if (SendMessageA(tree, TVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)) &&
            (hit.flags & TVHT_ONITEM))
            SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(hit.hItem));
        return FALSE; // the tree goes on with WM_CONTEXTMENU
    }
    }
    return FALSE;
}

INT_PTR CALLBACK CAdvancedInfoDlg::DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    auto *self = reinterpret_cast<CAdvancedInfoDlg *>(GetWindowLongPtrA(hwnd, DWLP_USER));
    if (msg == WM_INITDIALOG) {
        self = reinterpret_cast<CAdvancedInfoDlg *>(lp);
        SetWindowLongPtrA(hwnd, DWLP_USER, lp);
        self->hwnd_ = hwnd;
        return self->OnInitDialog();
    }
    if (!self)
        return FALSE;
    switch (msg) {
    case WM_COMMAND:
        switch (LOWORD(wp)) {
        case IDOK:
        case IDCANCEL:
            EndDialog(hwnd, LOWORD(wp));
            return TRUE;
        case IDM_ADV_COPY:
            self->CopySelected();
            return TRUE;
        case IDM_ADV_COPY_ALL:
            self->CopyAll();
            return TRUE;
        }
        break;
    case WM_NOTIFY:
        return self->OnNotify(reinterpret_cast<NMHDR *>(lp));
    case WM_CONTEXTMENU:
        self->OnContextMenu(reinterpret_cast<HWND>(wp), static_cast<short>(LOWORD(lp)),
                            static_cast<short>(HIWORD(lp)));
        return TRUE;
    case WM_SIZE:
        if (wp != SIZE_MINIMIZED)
            self->OnSize(LOWORD(lp), HIWORD(lp));
        return TRUE;
    case WM_GETMINMAXINFO:
        if (self->minSize_.x > 0) {
            auto *info = reinterpret_cast<MINMAXINFO *>(lp);
            info->ptMinTrackSize = self->minSize_;
        }
        return TRUE;
    }
    return FALSE;
}
