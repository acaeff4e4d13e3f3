// The program's console, as the command-line tool needs it: whether a
// standard stream is a terminal, and the user's Ctrl-C.
#pragma once

#include <cstdio>

// True when stream (stdin, stdout or stderr) is an interactive terminal.
bool PlatIsTerminal(FILE *stream);

// From now on the first Ctrl-C calls onStop instead of ending the program;
// a second one ends it as usual. onStop runs in a signal handler or on a
// thread of the system's own, so it may only set atomic flags.
void PlatInstallStopHandler(void (*onStop)(void));

// Gives Ctrl-C back its usual meaning.
void PlatRemoveStopHandler(void);
