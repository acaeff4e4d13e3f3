// Commands of mirdel-cli. Each takes the arguments after its name and
// returns the exit status.
#pragma once

enum {
    CLI_EXIT_OK = 0,
    CLI_EXIT_STOPPED = 1, // the user stopped the upload or the verification
    CLI_EXIT_FAILED = 2,  // the upload failed
    CLI_EXIT_TIMEOUT = 3, // the instrument did not answer in time
    CLI_EXIT_FILE = 4,    // the firmware file cannot be read or is faulty, or a check failed
    CLI_EXIT_PORT = 5,    // the serial port cannot be opened
    CLI_EXIT_USAGE = 64,  // wrong command line
    CLI_EXIT_OUTPUT = 74, // the results could not be written
};

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

// Writes the usage of the program, or of one command, to stderr and
// returns CLI_EXIT_USAGE.
int CliUsageError(const char *command, const char *fmt, ...) __attribute__((format(printf, 2, 3)));

// Flushes stdout; CLI_EXIT_OUTPUT with a message when that fails.
int CliFinishOutput(int status);
