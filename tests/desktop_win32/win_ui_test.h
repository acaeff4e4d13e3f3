// Drives the Windows desktop program's windows from a test on the test's
// own thread: each dialog or message box that becomes active is handed to
// the handler queued for it, which reads it and closes it.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

// The text of a window, and of a dialog's control.
std::string WinText(HWND window);
std::string WinItemText(HWND dialog, int id);

// A message box's text, and its icon (MB_ICONSTOP, ... or 0).
std::string WinBoxText(HWND box);
UINT WinBoxIcon(HWND box);

// Clicks a dialog's button as the user would (the dialog gets WM_COMMAND).
void WinClick(HWND dialog, int id);

// Queues handler for the next dialog (or message box) that becomes active
// on this thread, once it shows (after MIRDEL_TEST_HOLD_MS when set). The
// handler must end the dialog. The test fails when the dialog is still open
// after its handler, and when none has come within timeoutMs (the active
// dialog is then closed). Handlers run in the order they were queued.
void WhenDialog(std::function<void(HWND)> handler, int timeoutMs = 20000);

// True when every queued handler has had its dialog.
bool WinAllDialogsSeen();

// Runs the thread's messages for about ms milliseconds, or until done
// answers true.
void WinPump(int ms, const std::function<bool()> &done = nullptr);
