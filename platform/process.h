// Child processes of the command-line tool: one per port when several
// ports are served at once, each reporting on its standard output.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

struct PlatProcess;

// Starts the program at path with the arguments args (args[0] is the
// name it is given). Its standard output is a pipe read through
// PlatProcessOutput, its standard input is empty and its standard error is
// ours. It does not receive the terminal's Ctrl-C: PlatProcessStop passes
// a stop on. Null with the reason in error on failure.
PlatProcess *PlatProcessStart(const std::string &path, const std::vector<std::string> &args,
                              std::string &error);
// The read end of the child's standard output (owned by the record).
FILE *PlatProcessOutput(PlatProcess *process);
// Asks the child to stop as a first Ctrl-C would.
void PlatProcessStop(PlatProcess *process);
// Waits for the child to end and releases the record. Its exit status, or
// -1 when it did not end by itself (killed, crashed).
int PlatProcessWait(PlatProcess *process);

// The path of the running program; argv0 when the system cannot tell.
std::string PlatSelfPath(const char *argv0);
