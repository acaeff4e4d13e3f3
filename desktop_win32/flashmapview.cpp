#include "desktop_win32/flashmapview.h"

#include <commctrl.h>

#define FLASHMAPVIEW_CLASS "MirdelFlashMap"
#define FLASHMAPVIEW_TOOL 1

static COLORREF flashmapview_blend(COLORREF a, COLORREF b)
{
    return RGB((GetRValue(a) + GetRValue(b)) / 2, (GetGValue(a) + GetGValue(b)) / 2,
               (GetBValue(a) + GetBValue(b)) / 2);
}

static COLORREF flashmapview_ink(const FlashMapPaint &paint)
{
    switch (paint.ink) {
    case FLASHMAP_INK_BASE:
        return GetSysColor(COLOR_WINDOW);
    case FLASHMAP_INK_MID:
        // Between the face of buttons and their shadow.
        return flashmapview_blend(GetSysColor(COLOR_BTNFACE), GetSysColor(COLOR_BTNSHADOW));
    case FLASHMAP_INK_DARK:
        return GetSysColor(COLOR_BTNSHADOW);
    case FLASHMAP_INK_TEXT:
        return GetSysColor(COLOR_WINDOWTEXT);
    case FLASHMAP_INK_RGB:
        break;
    }
    return RGB((paint.rgb >> 16) & 0xff, (paint.rgb >> 8) & 0xff, paint.rgb & 0xff);
}

static RECT flashmapview_rect(const FlashMapRect &r)
{
    return RECT{r.x, r.y, r.x + r.w, r.y + r.h};
}

CFlashMapView *CFlashMapView::Create(HWND parent, int id)
{
    HINSTANCE instance = GetModuleHandleA(nullptr);
    static bool registered = false;
    if (!registered) {
        WNDCLASSA wc = {};
        wc.style = CS_HREDRAW | CS_VREDRAW;
        wc.lpfnWndProc = WindowProc;
        wc.hInstance = instance;
        wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
        wc.lpszClassName = FLASHMAPVIEW_CLASS;
        registered = RegisterClassA(&wc) != 0;
    }
    HWND hwnd =
        CreateWindowExA(0, FLASHMAPVIEW_CLASS, "", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, parent,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
    if (!hwnd)
        return nullptr;
    auto *view = reinterpret_cast<CFlashMapView *>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));

    // One tool over the whole map whose text and rectangle follow the
    // shape under the pointer.
    view->tip_ =
        CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr,
                        WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, hwnd, nullptr, instance, nullptr);
    // The size every version of the common controls takes.
    TOOLINFOA ti = {};
    ti.cbSize = TTTOOLINFOA_V2_SIZE;
    ti.hwnd = hwnd;
    ti.uId = FLASHMAPVIEW_TOOL;
    ti.lpszText = const_cast<char *>("");
    SendMessageA(view->tip_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&ti));
    // The tips hold several lines.
    SendMessageA(view->tip_, TTM_SETMAXTIPWIDTH, 0, GetSystemMetrics(SM_CXSCREEN) * 9 / 10);
    return view;
}

void CFlashMapView::SetMap(const FlashMap &map, const std::vector<std::string> &tips)
{
    map_ = map;
    tips_ = tips;
    laidOut_ = false;
    InvalidateRect(hwnd_, nullptr, FALSE);
}

void CFlashMapView::SetHighlight(int image, int segment)
{
    highlightImage_ = image;
    highlightSegment_ = segment;
    laidOut_ = false;
    InvalidateRect(hwnd_, nullptr, FALSE);
}

int CFlashMapView::LineHeight() const
{
    HDC dc = GetDC(hwnd_);
    HGDIOBJ old = SelectObject(dc, font_ ? font_ : GetStockObject(DEFAULT_GUI_FONT));
    TEXTMETRICA tm = {};
    GetTextMetricsA(dc, &tm);
    SelectObject(dc, old);
    ReleaseDC(hwnd_, dc);
    return tm.tmHeight;
}

int CFlashMapView::Height() const
{
    return FlashMapLayoutHeight(LineHeight());
}

const FlashMapLayout &CFlashMapView::Layout() const
{
    RECT client;
    GetClientRect(hwnd_, &client);
    if (laidOut_ && layout_.width == client.right)
        return layout_;
    HDC dc = GetDC(hwnd_);
    HGDIOBJ old = SelectObject(dc, font_ ? font_ : GetStockObject(DEFAULT_GUI_FONT));
    TEXTMETRICA tm = {};
    GetTextMetricsA(dc, &tm);
    FlashMapLayoutCompute(
        map_, client.right, tm.tmHeight,
        [dc](const std::string &text) {
            SIZE size = {};
            GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
            return static_cast<int>(size.cx);
        },
        highlightImage_, highlightSegment_, &layout_);
    SelectObject(dc, old);
    ReleaseDC(hwnd_, dc);
    laidOut_ = true;
    return layout_;
}

void CFlashMapView::Draw(HDC dc) const
{
    RECT client;
    GetClientRect(hwnd_, &client);
    FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
    const FlashMapLayout &layout = Layout();
    int oldMode = SetBkMode(dc, TRANSPARENT);
    for (const FlashMapShape &s : layout.shapes) {
        RECT r = flashmapview_rect(s.rect);
        FlashMapPaint paint[2];
        int n = FlashMapShapePaint(s, paint);
        for (int i = 0; i < n; i++) {
            COLORREF colour = flashmapview_ink(paint[i]);
            HBRUSH brush = paint[i].stroke == FLASHMAP_STROKE_HATCH
                               ? CreateHatchBrush(HS_BDIAGONAL, colour)
                               : CreateSolidBrush(colour);
            if (paint[i].stroke == FLASHMAP_STROKE_OUTLINE) {
                RECT ring = r;
                for (int w = 0; w < paint[i].width; w++) {
                    FrameRect(dc, &ring, brush);
                    InflateRect(&ring, -1, -1);
                }
            } else {
                FillRect(dc, &r, brush);
            }
            DeleteObject(brush);
        }
    }
    HGDIOBJ oldFont = SelectObject(dc, font_ ? font_ : GetStockObject(DEFAULT_GUI_FONT));
    COLORREF oldColour = SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
    for (const FlashMapLabel &l : layout.labels) {
        RECT r = flashmapview_rect(l.rect);
        DrawTextA(dc, l.text.c_str(), static_cast<int>(l.text.size()), &r,
                  DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX | DT_NOCLIP);
    }
    SetTextColor(dc, oldColour);
    SelectObject(dc, oldFont);
    SetBkMode(dc, oldMode);
}

void CFlashMapView::OnMouseMove(LPARAM lp)
{
    int x = static_cast<short>(LOWORD(lp)), y = static_cast<short>(HIWORD(lp));
    int k = FlashMapLayoutShapeAt(Layout(), x, y);
    const FlashMapShape *shape = k >= 0 ? &Layout().shapes[static_cast<size_t>(k)] : nullptr;
    int tip = shape && static_cast<size_t>(shape->tip) < tips_.size() ? shape->tip : -1;
    if (tip != shownTip_) {
        // The tool covers the shape alone, so that the tip goes away when
        // the pointer leaves it.
        SendMessageA(tip_, TTM_POP, 0, 0);
        TOOLINFOA ti = {};
        ti.cbSize = TTTOOLINFOA_V2_SIZE;
        ti.hwnd = hwnd_;
        ti.uId = FLASHMAPVIEW_TOOL;
        ti.rect = shape ? flashmapview_rect(shape->rect) : RECT{0, 0, 0, 0};
        SendMessageA(tip_, TTM_NEWTOOLRECTA, 0, reinterpret_cast<LPARAM>(&ti));
        ti.lpszText = const_cast<char *>(tip >= 0 ? tips_[static_cast<size_t>(tip)].c_str() : "");
        SendMessageA(tip_, TTM_UPDATETIPTEXTA, 0, reinterpret_cast<LPARAM>(&ti));
        shownTip_ = tip;
    }
}

LRESULT CALLBACK CFlashMapView::WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    auto *self = reinterpret_cast<CFlashMapView *>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    switch (msg) {
    case WM_NCCREATE:
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(new CFlashMapView(hwnd)));
        break;
    case WM_NCDESTROY:
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
        delete self;
        self = nullptr;
        break;
    case WM_DESTROY:
        if (self && self->tip_) {
            DestroyWindow(self->tip_);
            self->tip_ = nullptr;
        }
        break;
    case WM_SETFONT:
        if (self) {
            self->font_ = reinterpret_cast<HFONT>(wp);
            self->laidOut_ = false;
            if (LOWORD(lp))
                InvalidateRect(hwnd, nullptr, FALSE);
        }
        return 0;
    case WM_GETFONT:
        return self ? reinterpret_cast<LRESULT>(self->font_) : 0;
    case WM_ERASEBKGND:
        return 1; // painting covers every pixel
    case WM_PAINT:
        if (self) {
            // Into a bitmap first, so that resizing does not flicker.
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(hwnd, &ps);
            RECT client;
            GetClientRect(hwnd, &client);
            HDC mem = CreateCompatibleDC(dc);
            HBITMAP bitmap = CreateCompatibleBitmap(dc, client.right, client.bottom);
            HGDIOBJ old = SelectObject(mem, bitmap);
            self->Draw(mem);
            BitBlt(dc, 0, 0, client.right, client.bottom, mem, 0, 0, SRCCOPY);
            SelectObject(mem, old);
            DeleteObject(bitmap);
            DeleteDC(mem);
            EndPaint(hwnd, &ps);
            return 0;
        }
        break;
    case WM_PRINTCLIENT:
        if (self) {
            self->Draw(reinterpret_cast<HDC>(wp));
            return 0;
        }
        break;
    default:
        if (self && msg >= WM_MOUSEFIRST && msg <= WM_MOUSELAST) {
            // The tip first follows the pointer, then the tooltip sees it.
            if (msg == WM_MOUSEMOVE)
                self->OnMouseMove(lp);
            MSG relay = {hwnd,
                         msg,
                         wp,
                         lp,
                         static_cast<DWORD>(GetMessageTime()),
                         {static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))}};
            SendMessageA(self->tip_, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&relay));
        }
        break;
    }
    return DefWindowProcA(hwnd, msg, wp, lp);
}
