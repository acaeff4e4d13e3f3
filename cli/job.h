// The commands that run on instruments (upload, verify, read): their
// options, the run on one port, and the runs on several ports at once, one
// child process per port.
#pragma once

#include <string>
#include <vector>

#include "core/run.h"

struct CliJobOptions {
    RunJob job = RUN_JOB_UPLOAD;
    std::vector<std::string> ports;
    std::string path;    // the firmware file (upload, verify)
    bool verify = true;  // upload: read the flash back afterwards
    bool yes = false;    // upload: no question about the highest address
    bool json = false;   // JSON lines instead of the human display
    bool debug = false;  // the serial link's console messages on stderr
    std::string logFile; // empty: no log
    RunReadRequest read; // read: the range and where it goes
    std::string backupDir; // upload: back the flash up into this folder first
    // A child of the station (--stop-input): a line on standard input, or
    // its end, stops the run.
    bool stopInput = false;
};

// Reads the command's arguments into o. Returns -1 when they are fine,
// otherwise the exit status of the usage error already reported.
int CliParseJob(const char *command, int argc, char **argv, CliJobOptions &o);

// Runs the job; returns the exit status.
int CliRunJob(const CliJobOptions &o);
