// The options of upload, verify and read.
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "cli/cli.h"
#include "cli/job.h"

namespace
{

// A whole number in C notation (0x for hexadecimal) within [low, high].
bool cli_number(const char *text, unsigned long long low, unsigned long long high,
                unsigned long long &value)
{
    if (!*text || *text == '-' || *text == '+')
        return false;
    char *end = nullptr;
    errno = 0;
    value = std::strtoull(text, &end, 0);
    return *end == '\0' && errno == 0 && value >= low && value <= high;
}

} // namespace

int CliParseJob(const char *command, int argc, char **argv, CliJobOptions &o)
{
    bool options = true, readJob = o.job == RUN_JOB_READ;
    bool address = false, length = false, output = false;
    for (int i = 0; i < argc; i++) {
        const char *a = argv[i];
        const char *value = nullptr;
        // Options with a value, as "--opt VALUE" or "--opt=VALUE".
        static const char *const valued[] = {"--port", "-l", "--address", "--length", "-o",
                                             "--backup"};
        const char *named = nullptr;
        for (const char *v : valued) {
            size_t n = std::strlen(v);
            if (options && std::strcmp(a, v) == 0) {
                if (i + 1 >= argc)
                    return CliUsageError(command, "option '%s' needs an argument", a);
                named = v;
                value = argv[++i];
            } else if (options && v[1] == '-' && std::strncmp(a, v, n) == 0 && a[n] == '=') {
                named = v;
                value = a + n + 1;
            }
            if (named)
                break;
        }
        if (options && std::strcmp(a, "--") == 0) {
            options = false;
        } else if (named && std::strcmp(named, "--port") == 0) {
            if (!*value)
                return CliUsageError(command, "empty port name");
            o.ports.push_back(value);
        } else if (named && o.job == RUN_JOB_UPLOAD && std::strcmp(named, "--backup") == 0) {
            if (!*value)
                return CliUsageError(command, "empty backup folder");
            o.backupDir = value;
        } else if (named && std::strcmp(named, "-l") == 0) {
            o.logFile = value;
        } else if (named && readJob && std::strcmp(named, "--address") == 0) {
            unsigned long long v;
            if (!cli_number(value, 0, 0xFFFFFFFFull, v))
                return CliUsageError(command, "'%s': not a flash address (0 to 0xFFFFFFFF)", value);
            o.read.address = (uint32_t)v;
            address = true;
        } else if (named && readJob && std::strcmp(named, "--length") == 0) {
            unsigned long long v;
            if (!cli_number(value, 1, INT32_MAX, v))
                return CliUsageError(command, "'%s': not a length (1 to %d bytes)", value,
                                     INT32_MAX);
            o.read.length = (int32_t)v;
            length = true;
        } else if (named && readJob && std::strcmp(named, "-o") == 0) {
            o.read.path = value;
            output = true;
        } else if (options && std::strcmp(a, "--json") == 0) {
            o.json = true;
        } else if (options && readJob && std::strcmp(a, "--binary") == 0) {
            o.read.binary = true;
        } else if (options && o.job == RUN_JOB_UPLOAD && std::strcmp(a, "--no-verify") == 0) {
            o.verify = false;
        } else if (options && o.job == RUN_JOB_UPLOAD && std::strcmp(a, "--yes") == 0) {
            o.yes = true;
        } else if (options && std::strcmp(a, "--stop-input") == 0) {
            o.stopInput = true; // the station's, not in the help
        } else if (options && std::strcmp(a, "--debug") == 0) {
            o.debug = true;
        } else if (options && std::strcmp(a, "-v") == 0) {
            // accepted, as by the desktop program
        } else if (options && a[0] == '-' && a[1] != '\0') {
            return CliUsageError(command, "unknown option '%s'", a);
        } else if (readJob) {
            return CliUsageError(command, "unexpected argument '%s'", a);
        } else if (!o.path.empty()) {
            return CliUsageError(command, "more than one file given");
        } else {
            o.path = a;
        }
    }
    if (o.ports.empty())
        return CliUsageError(command, "no port given (--port NAME)");
    if (readJob) {
        if (!address || !length)
            return CliUsageError(command, "the range is needed (--address A --length N)");
        if (!output || o.read.path.empty())
            o.read.path = "-";
        if (o.ports.size() > 1)
            return CliUsageError(command, "one port at a time");
        if (o.json && o.read.path == "-")
            return CliUsageError(command, "--json writes to standard output: give -o FILE");
    } else if (o.path.empty()) {
        return CliUsageError(command, "no firmware file given");
    }
    return -1;
}
