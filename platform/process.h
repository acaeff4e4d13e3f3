// Child processes of the command-line tool: one per port when several
// ports are served at once, each reporting on its standard output and
// taking its stop on its standard input.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

struct PlatProcess;

// Starts the program at path with the arguments args (args[0] is the
// name it is given). Its standard output is a pipe read through
// PlatProcessOutput and its standard error is ours. Its standard input is
// a channel from this process, open until PlatProcessWait, so that the
// child sees its end only when the parent has gone (PlatWatchStopInput in
// platform/console.h reads it). It does not receive the terminal's Ctrl-C:
// PlatProcessStop passes a stop on. Null with the reason in error on
// failure.
PlatProcess *PlatProcessStart(const std::string &path, const std::vector<std::string> &args,
                              std::string &error);
// The read end of the child's standard output (owned by the record).
FILE *PlatProcessOutput(PlatProcess *process);
// Writes PLAT_STOP_LINE to the child's standard input; a child that does
// not read it yet finds it there once it does. True when it was written or
// the child has ended already; false with the reason in error when a child
// still running could not be told. Never raises a signal in this process,
// which may be a desktop program.
bool PlatProcessStop(PlatProcess *process, std::string &error);
// Waits for the child to end and releases the record. Its exit status, or
// -1 when it did not end by itself (killed, crashed).
int PlatProcessWait(PlatProcess *process);

// The path of the running program; argv0 when the system cannot tell.
std::string PlatSelfPath(const char *argv0);
