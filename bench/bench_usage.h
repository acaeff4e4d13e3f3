// The benchmark tools' command lines, in the GNU habit: --help prints the
// usage on standard output and ends well; another word that begins with a
// hyphen is a usage error, never a file name or a number.
#pragma once

#include <cstdio>
#include <cstring>

// -1: go on. Otherwise the status to end with, the usage printed (on
// standard output for --help, on standard error with errorStatus). known:
// the one option the tool takes, or null.
inline int BenchUsage(int argc, char **argv, const char *usage, int errorStatus,
                      const char *known = nullptr)
{
    for (int i = 1; i < argc; i++) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::fputs(usage, stdout);
            return 0;
        }
    }
    for (int i = 1; i < argc; i++) {
        if (argv[i][0] == '-' && argv[i][1] != '\0' &&
            !(known && std::strcmp(argv[i], known) == 0)) {
            std::fprintf(stderr, "%s: unknown option '%s'\n%s", argv[0], argv[i], usage);
            return errorStatus;
        }
    }
    return -1;
}
