// mirdel-cli: the upload utility's functions without a window.
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "cli/cli.h"
#include "core/textfmt.h"
#include "platform/console.h"
#include "support/log.h"
#include "support/version.h"

static const CliCommand cli_commands[] = {
    {"info", "[--map] FILE", "analyse a firmware file and show its properties, images and segments",
     CliInfoHelp, CliInfo},
    {"upload", "--port NAME [--no-verify] [--backup DIR] [--yes] [-l LOGFILE] FILE",
     "upload a firmware file to the instrument and verify it", CliUploadHelp, CliUpload},
    {"verify", "--port NAME... [--json] [-l LOGFILE] FILE",
     "compare the instrument's flash with a firmware file", CliVerifyHelp, CliVerify},
    {"read", "--port NAME --address A --length N [--binary] [-o FILE]",
     "read a flash range into a file", CliReadHelp, CliRead},
    {"ports", "[--json]", "list the serial ports, with driver and USB adapter details",
     CliPortsHelp, CliPorts},
    {"sample", "FILE", "write a sample firmware file to try an upload with", CliSampleHelp,
     CliSample},
};

static const char cli_exit_help[] =
    "Exit status:\n"
    "  0   success\n"
    "  1   upload: stopped by the user (during the upload or the verification)\n"
    "  2   upload: failed (the message tells why); verify: the flash differs;\n"
    "      ports: the list cannot be read\n"
    "  3   upload: I/O time-out, the instrument did not answer\n"
    "  4   the firmware file cannot be opened or read, or holds a faulty line;\n"
    "      sample: the file cannot be written;\n"
    "      upload: segments overlap, or the firmware exceeds the highest flash\n"
    "      address or holds no data and the upload was not confirmed\n"
    "  5   upload: the serial port cannot be opened\n"
    "      (verify and read as upload; with several ports the most severe)\n"
    "  64  wrong command line\n"
    "  74  the results could not be written to standard output, or the log\n"
    "      file cannot be opened\n";

static const CliCommand *cli_find(const char *name)
{
    for (const CliCommand &c : cli_commands)
        if (std::strcmp(c.name, name) == 0)
            return &c;
    return nullptr;
}

static void cli_print_usage(FILE *out)
{
    std::fprintf(out, "Usage: mirdel-cli COMMAND [ARGUMENTS]\n"
                      "       mirdel-cli COMMAND --help\n"
                      "       mirdel-cli --help\n"
                      "       mirdel-cli --version\n\n"
                      "Commands:\n");
    for (const CliCommand &c : cli_commands)
        std::fprintf(out, "  %-7s %s\n", c.name, c.summary);
}

static void cli_print_command_usage(FILE *out, const CliCommand &c)
{
    std::fprintf(out, "Usage: mirdel-cli %s%s%s\n", c.name, c.synopsis[0] ? " " : "", c.synopsis);
}

int CliUsageError(const char *command, const char *fmt, ...)
{
    std::fputs("mirdel-cli: ", stderr);
    va_list ap;
    va_start(ap, fmt);
    std::vfprintf(stderr, fmt, ap);
    va_end(ap);
    std::fputs("\n", stderr);
    const CliCommand *c = command ? cli_find(command) : nullptr;
    if (c) {
        cli_print_command_usage(stderr, *c);
        std::fprintf(stderr, "Try 'mirdel-cli %s --help' for more information.\n", c->name);
    } else {
        cli_print_usage(stderr);
        std::fputs("Try 'mirdel-cli --help' for more information.\n", stderr);
    }
    return CLI_EXIT_USAGE;
}

std::string CliFit(FILE *stream, const std::string &text)
{
    int width = PlatTerminalWidth(stream);
    return TextWrap(text, (width > 0 ? width : 80) - 1); // the last column would wrap early
}

int CliFinishOutput(int status)
{
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "mirdel-cli: cannot write to standard output: %s\n", std::strerror(errno));
        return CLI_EXIT_OUTPUT;
    }
    return status;
}

static bool cli_is_help(const char *arg)
{
    return std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0;
}

// The log's console lines would repeat on stderr what the commands report
// themselves.
static void cli_drop_log_line(const char *, bool) {}

int main(int argc, char **argv)
{
    if (argc < 2)
        return CliUsageError(nullptr, "no command given");
    if (cli_is_help(argv[1])) {
        cli_print_usage(stdout);
        std::fputs("\n", stdout);
        for (const CliCommand &c : cli_commands) {
            cli_print_command_usage(stdout, c);
            std::fputs(c.help, stdout);
            std::fputs("\n", stdout);
        }
        std::fputs(cli_exit_help, stdout);
        return CliFinishOutput(CLI_EXIT_OK);
    }
    if (std::strcmp(argv[1], "--version") == 0)
        return CliFinishOutput(VersionPrint(stdout, "mirdel-cli") ? CLI_EXIT_OK : CLI_EXIT_OUTPUT);
    if (argv[1][0] == '-')
        return CliUsageError(nullptr, "unknown option '%s'", argv[1]);
    const CliCommand *c = cli_find(argv[1]);
    if (!c)
        return CliUsageError(nullptr, "unknown command '%s'", argv[1]);
    for (int i = 2; i < argc && std::strcmp(argv[i], "--") != 0; i++) {
        if (cli_is_help(argv[i])) {
            cli_print_command_usage(stdout, *c);
            std::fputs(c->help, stdout);
            std::fputs("\n", stdout);
            std::fputs(cli_exit_help, stdout);
            return CliFinishOutput(CLI_EXIT_OK);
        }
    }

    LogOpen(nullptr, cli_drop_log_line, nullptr, false);
    return c->run(argc - 2, argv + 2);
}
