// Commands of mirdel-cli. Each takes the arguments after its name and
// returns the exit status.
#pragma once

#include "core/runreport.h" // the exit statuses

struct CliCommand {
    const char *name;
    const char *synopsis; // arguments, for the usage line
    const char *summary;  // one line for the command list
    const char *help;     // the command's own help text
    int (*run)(int argc, char **argv);
};

int CliInfo(int argc, char **argv);
extern const char CliInfoHelp[];
int CliUpload(int argc, char **argv);
extern const char CliUploadHelp[];
int CliVerify(int argc, char **argv);
extern const char CliVerifyHelp[];
int CliRead(int argc, char **argv);
extern const char CliReadHelp[];
int CliPorts(int argc, char **argv);
extern const char CliPortsHelp[];
int CliSample(int argc, char **argv);
extern const char CliSampleHelp[];

// Writes the usage of the program, or of one command, to stderr and
// returns CLI_EXIT_USAGE.
int CliUsageError(const char *command, const char *fmt, ...) __attribute__((format(printf, 2, 3)));

// Flushes stdout; CLI_EXIT_OUTPUT with a message when that fails.
int CliFinishOutput(int status);
