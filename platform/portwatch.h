// Word from the system that serial ports appeared or went away, so that a
// window's port list follows a USB adapter plugged in or pulled out while
// it is open, without rescanning on a timer.
#pragma once

struct PlatPortWatch;

// Starts watching: onChange(context) is called on a thread of the watch's
// own, soon after the set of serial ports may have changed (the caller
// lists them again; a change may be told more than once). Null when the
// system gives no such word, with the thread's last system error set.
PlatPortWatch *PlatPortWatchStart(void (*onChange)(void *context), void *context);
// Ends the watch; once it returns, onChange is no longer called.
void PlatPortWatchStop(PlatPortWatch *watch);

// Where device nodes appear (POSIX: "/dev"); null or "" restores it. Tests
// watch a folder of their own.
void PlatSetPortWatchDir(const char *dir);
