#include "tests/desktop_win32/win_ui_test.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <utility>
#include <vector>

namespace
{

std::deque<std::pair<std::function<void(HWND)>, UINT_PTR>> win_pending; // with time-out timers
std::vector<HWND> win_seen; // dialogs already handed to a handler
HWND win_answering;

bool win_is_class(HWND w, const char *name)
{
    char cls[64] = "";
    GetClassNameA(w, cls, sizeof cls);
    return lstrcmpiA(cls, name) == 0;
}

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
    HWND dialog = std::exchange(win_answering, nullptr);
    auto [handler, timeout] = std::move(win_pending.front());
    win_pending.pop_front();
    KillTimer(nullptr, timeout);
    std::string title = WinText(dialog);
    if (const char *hold = getenv("MIRDEL_TEST_HOLD_MS")) // for scripts/screenshots' pictures
        WinPump(atoi(hold));
    handler(dialog);
    if (IsWindow(dialog) && IsWindowVisible(dialog)) {
        ADD_FAILURE() << "the window \"" << title << "\" is still open after its handler";
        EndDialog(dialog, IDCANCEL);
    }
}

void CALLBACK win_time_out(HWND, UINT, UINT_PTR timer, DWORD)
{
    KillTimer(nullptr, timer);
    auto it = std::find_if(win_pending.begin(), win_pending.end(),
                           [&](const auto &p) { return p.second == timer; });
    if (it == win_pending.end())
        return;
    win_pending.erase(it);
    HWND active = GetActiveWindow();
    ADD_FAILURE() << "no dialog came for a queued handler; active: \"" << WinText(active) << "\"";
    if (active && win_is_class(active, "#32770"))
        EndDialog(active, IDCANCEL);
}

LRESULT CALLBACK win_cbt(int code, WPARAM wp, LPARAM lp)
{
    HWND w = reinterpret_cast<HWND>(wp);
    if (code == HCBT_ACTIVATE && !win_pending.empty() && !win_answering &&
        win_is_class(w, "#32770") &&
        std::find(win_seen.begin(), win_seen.end(), w) == win_seen.end()) {
        win_seen.push_back(w);
        win_answering = w;
        // From the dialog's own loop, once it is up.
        SetTimer(nullptr, 0, 0, win_run_handler);
    }
    return CallNextHookEx(nullptr, code, wp, lp);
}

// Common controls once, and the hook on the test's (the main) thread.
const HHOOK win_hook = [] {
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);
    return SetWindowsHookExA(WH_CBT, win_cbt, nullptr, GetCurrentThreadId());
}();

} // namespace

std::string WinText(HWND window)
{
    if (!window)
        return std::string();
    int n = GetWindowTextLengthA(window);
    std::string text(static_cast<size_t>(n) + 1, '\0');
    // The length may be more than the text (a window of another process,
    // a text of wide characters): what was copied counts.
    text.resize(static_cast<size_t>(GetWindowTextA(window, text.data(), n + 1)));
    return text;
}

std::string WinItemText(HWND dialog, int id)
{
    return WinText(GetDlgItem(dialog, id));
}

std::string WinBoxText(HWND box)
{
    // The longest text that is not a button's (the icon's has none).
    std::string best;
    for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        if (win_is_class(c, "Static") && WinText(c).size() > best.size())
            best = WinText(c);
    return best;
}

UINT WinBoxIcon(HWND box)
{
    LRESULT shown = 0;
    for (HWND c = GetWindow(box, GW_CHILD); c && !shown; c = GetWindow(c, GW_HWNDNEXT))
        if (win_is_class(c, "Static") && (GetWindowLongA(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
            shown = SendMessageA(c, STM_GETICON, 0, 0);
    const std::pair<LPCSTR, UINT> icons[] = {{IDI_HAND, MB_ICONSTOP},
                                             {IDI_EXCLAMATION, MB_ICONEXCLAMATION},
                                             {IDI_ASTERISK, MB_ICONINFORMATION},
                                             {IDI_QUESTION, MB_ICONQUESTION}};
    for (const auto &[id, style] : icons)
        if (shown && shown == LRESULT(LoadIconA(nullptr, id)))
            return style;
    return 0;
}

void WinClick(HWND dialog, int id)
{
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void WhenDialog(std::function<void(HWND)> handler, int timeoutMs)
{
    win_pending.emplace_back(std::move(handler),
                             SetTimer(nullptr, 0, static_cast<UINT>(timeoutMs), win_time_out));
}

bool WinAllDialogsSeen()
{
    return win_pending.empty();
}

void WinPump(int ms, const std::function<bool()> &done)
{
    DWORD end = GetTickCount() + static_cast<DWORD>(ms);
    while (static_cast<LONG>(end - GetTickCount()) > 0 && !(done && done())) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}
