// Drives the Windows desktop program's windows from a test on the test's
// own thread: each dialog or message box that becomes active is handed to
// the handler queued for it, which reads it and closes it.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

std::string WinText(HWND window);
std::string WinItemText(HWND dialog, int id);
std::string WinBoxText(HWND box);
UINT WinBoxIcon(HWND box); // MB_ICONSTOP, ... or 0
// As the user would: the dialog gets WM_COMMAND.
void WinClick(HWND dialog, int id);

// Queues handler for the next dialog (or message box) that becomes active
// on this thread, once it shows (after MIRDEL_TEST_HOLD_MS when set). The
// handler must end the dialog. The test fails when the dialog is still open
// after its handler, and when none has come within timeoutMs (the active
// dialog is then closed). Handlers run in the order they were queued.
void WhenDialog(std::function<void(HWND)> handler, int timeoutMs = 20000);
bool WinAllDialogsSeen(); // every queued handler has had its dialog

// Runs the thread's messages for about ms milliseconds, or until done.
void WinPump(int ms, const std::function<bool()> &done = nullptr);
