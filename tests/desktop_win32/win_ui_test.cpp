#include "tests/desktop_win32/win_ui_test.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <vector>

namespace
{

struct Pending {
    std::function<void(HWND)> handler;
    UINT_PTR timer = 0;
};

std::deque<Pending> win_pending;
HHOOK win_hook;
std::vector<HWND> win_seen; // dialogs already handed to a handler

bool win_is_dialog(HWND w)
{
    char cls[64] = "";
    GetClassNameA(w, cls, sizeof cls);
    return std::string(cls) == "#32770";
}

HWND win_answering;

void CALLBACK win_run_handler(HWND, UINT, UINT_PTR timer, DWORD)
{
    KillTimer(nullptr, timer);
    if (win_pending.empty() || !win_answering)
        return;
    // A dialog shows itself once its loop first goes idle: hand it over
    // then, so that "still open" below means what it says.
    static int waits = 0;
    if (IsWindow(win_answering) && !IsWindowVisible(win_answering) && waits++ < 500) {
        SetTimer(nullptr, 0, 10, win_run_handler);
        return;
    }
    waits = 0;
    HWND dialog = win_answering;
    win_answering = nullptr;
    Pending p = std::move(win_pending.front());
    win_pending.pop_front();
    KillTimer(nullptr, p.timer);
    std::string title = WinText(dialog);
    // scripts/screenshots takes its pictures meanwhile.
    if (const char *hold = getenv("MIRDEL_TEST_HOLD_MS"))
        WinPump(atoi(hold));
    p.handler(dialog);
    if (IsWindow(dialog) && IsWindowVisible(dialog)) {
        ADD_FAILURE() << "the window \"" << title << "\" is still open after its handler";
        EndDialog(dialog, IDCANCEL);
    }
}

void CALLBACK win_time_out(HWND, UINT, UINT_PTR timer, DWORD)
{
    KillTimer(nullptr, timer);
    for (auto it = win_pending.begin(); it != win_pending.end(); ++it) {
        if (it->timer != timer)
            continue;
        win_pending.erase(it);
        HWND active = GetActiveWindow();
        ADD_FAILURE() << "no dialog came for a queued handler; active: \"" << WinText(active)
                      << "\"";
        if (active && win_is_dialog(active))
            EndDialog(active, IDCANCEL);
        return;
    }
}

LRESULT CALLBACK win_cbt(int code, WPARAM wp, LPARAM lp)
{
    if (code == HCBT_ACTIVATE) {
        HWND w = reinterpret_cast<HWND>(wp);
        bool known = false;
        for (HWND s : win_seen)
            known = known || s == w;
        if (!known && win_is_dialog(w) && !win_pending.empty() && !win_answering) {
            win_seen.push_back(w);
            win_answering = w;
            // From the dialog's own loop, once it is up.
            SetTimer(nullptr, 0, 0, win_run_handler);
        }
    }
    return CallNextHookEx(win_hook, code, wp, lp);
}

// Common controls once, and the hook on the test's thread.
class WinUiEnvironment : public testing::Environment
{
  public:
    void SetUp() override
    {
        INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
        InitCommonControlsEx(&icc);
        win_hook = SetWindowsHookExA(WH_CBT, win_cbt, nullptr, GetCurrentThreadId());
    }
    void TearDown() override { UnhookWindowsHookEx(win_hook); }
};

const testing::Environment *const win_env = testing::AddGlobalTestEnvironment(new WinUiEnvironment);

// The first static control of a message box that shows an icon.
HWND win_box_icon_control(HWND box)
{
    for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        char cls[32] = "";
        GetClassNameA(c, cls, sizeof cls);
        if (lstrcmpiA(cls, "Static") == 0 &&
            (GetWindowLongA(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
            return c;
    }
    return nullptr;
}

} // namespace

std::string WinText(HWND window)
{
    if (!window)
        return std::string();
    int n = GetWindowTextLengthA(window);
    std::string text(static_cast<size_t>(n) + 1, '\0');
    // The length may be more than the text (a window of another process,
    // a text of wide characters): what was copied counts.
    n = GetWindowTextA(window, text.data(), n + 1);
    text.resize(static_cast<size_t>(n));
    return text;
}

std::string WinItemText(HWND dialog, int id)
{
    return WinText(GetDlgItem(dialog, id));
}

std::string WinBoxText(HWND box)
{
    // Windows gives the text the id 0xFFFF, Wine 100; else the longest
    // text that is not a button's.
    for (int id : {0xFFFF, 100}) {
        HWND c = GetDlgItem(box, id);
        char cls[32] = "";
        if (c && GetClassNameA(c, cls, sizeof cls) && lstrcmpiA(cls, "Static") == 0)
            return WinText(c);
    }
    std::string best;
    for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        char cls[32] = "";
        GetClassNameA(c, cls, sizeof cls);
        if (lstrcmpiA(cls, "Static") == 0 && WinText(c).size() > best.size())
            best = WinText(c);
    }
    return best;
}

UINT WinBoxIcon(HWND box)
{
    HWND c = win_box_icon_control(box);
    if (!c)
        return 0;
    HICON shown = reinterpret_cast<HICON>(SendMessageA(c, STM_GETICON, 0, 0));
    struct {
        LPCSTR id;
        UINT style;
    } const icons[] = {{IDI_HAND, MB_ICONSTOP},
                       {IDI_EXCLAMATION, MB_ICONEXCLAMATION},
                       {IDI_ASTERISK, MB_ICONINFORMATION},
                       {IDI_QUESTION, MB_ICONQUESTION}};
    for (const auto &i : icons)
        if (shown && shown == LoadIconA(nullptr, i.id))
            return i.style;
    return 0;
}

void WinClick(HWND dialog, int id)
{
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void WhenDialog(std::function<void(HWND)> handler, int timeoutMs)
{
    Pending p;
    p.handler = std::move(handler);
    p.timer = SetTimer(nullptr, 0, static_cast<UINT>(timeoutMs), win_time_out);
    win_pending.push_back(std::move(p));
}

bool WinAllDialogsSeen()
{
    return win_pending.empty();
}

void WinPump(int ms, const std::function<bool()> &done)
{
    DWORD end = GetTickCount() + static_cast<DWORD>(ms);
    while (static_cast<LONG>(end - GetTickCount()) > 0) {
        if (done && done())
            return;
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}
