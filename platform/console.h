// The program's console, as the command-line tool needs it: whether a
// standard stream is a terminal, and the user's Ctrl-C.
#pragma once

#include <cstdio>

// True when stream (stdin, stdout or stderr) is an interactive terminal.
bool PlatIsTerminal(FILE *stream);

// From now on the first Ctrl-C calls onStop instead of ending the program;
// a second one ends it as usual. On POSIX systems SIGTERM and SIGHUP do the
// same, so that a station shut down or a dropped session stops the run as
// Ctrl-C does, and a closed output does not end the program. onStop runs
// on a thread of its own, never in a signal handler: it may take a lock and
// wake a waiting thread, but must not wait for the thread that removes the
// handler.
void PlatInstallStopHandler(void (*onStop)(void));

// Gives Ctrl-C back its usual meaning. On POSIX systems it returns once
// onStop has run for every stop that came before; on Windows a call under
// way may still run.
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
