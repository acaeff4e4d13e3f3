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

// What a parent writes to a child's standard input to stop it
// (PlatProcessStop in platform/process.h).
inline constexpr char PLAT_STOP_LINE[] = "stop\n";

// For a child whose parent passes the stop on its standard input: from now
// on a line there, or the end of it (the parent has gone), calls onStop
// once, on a thread of its own as PlatInstallStopHandler's. Standard input
// is read raw, never through stdio: a thread waiting inside stdio could
// hold up the program's exit.
void PlatWatchStopInput(void (*onStop)(void));

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
