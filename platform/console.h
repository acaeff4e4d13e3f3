// The program's console, as the command-line tool needs it: whether a
// standard stream is a terminal, and the user's Ctrl-C.
#pragma once

#include <cstdio>

// True when stream (stdin, stdout or stderr) is an interactive terminal.
bool PlatIsTerminal(FILE *stream);

// From now on the first Ctrl-C calls onStop instead of ending the program;
// a second one ends it as usual. On POSIX systems SIGTERM and SIGHUP do the
// same, so that a station shut down or a dropped session stops the run as
// Ctrl-C does, and a closed output does not end the program. onStop runs in a signal handler or on a
// thread of the system's own, so it may only set atomic flags.
void PlatInstallStopHandler(void (*onStop)(void));

// Gives Ctrl-C back its usual meaning.
void PlatRemoveStopHandler(void);

// The width of the terminal stream is, in columns; 0 when not known. Asked
// anew on every call, so that a resized window is followed.
int PlatTerminalWidth(FILE *stream);

// Makes the terminal stream carry the ANSI control sequences for cursor
// movement and line erasing; false when it cannot (the caller then writes
// plain lines).
bool PlatEnableTerminalControls(FILE *stream);

// Makes stream write bytes unchanged (no line-end translation).
void PlatSetBinary(FILE *stream);
