// Where the desktop program finds --help and --version: only where its own
// option parser would read an option word.
#include "core/startup.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(StartupGnuOption, FoundWhereOptionsAre)
{
    const struct {
        std::vector<std::string> words;
        StartupGnuOption want;
    } cases[] = {
        {{"mirdel", "--help"}, STARTUP_GNU_HELP},
        {{"mirdel", "-v", "--version"}, STARTUP_GNU_VERSION},
        {{"mirdel", "-lrun.log", "--help"}, STARTUP_GNU_HELP},
        {{"mirdel", "-l", "run.log", "-vv", "--version", "--help"}, STARTUP_GNU_VERSION},
        {{"mirdel", "-l", "--help"}, STARTUP_GNU_NONE},  // the log file's name
        {{"mirdel", "-vl", "--help"}, STARTUP_GNU_NONE}, // the same, after -v
        {{"mirdel", "image.srec", "--help"}, STARTUP_GNU_NONE},
        {{"mirdel", "--", "--version"}, STARTUP_GNU_NONE},
        {{"mirdel", "-", "--version"}, STARTUP_GNU_NONE},
        {{"mirdel", "--helpx"}, STARTUP_GNU_NONE},
        {{"mirdel"}, STARTUP_GNU_NONE},
    };
    for (const auto &c : cases) {
        std::vector<std::string> words = c.words;
        std::vector<char *> argv;
        std::string shown;
        for (std::string &w : words) {
            argv.push_back(w.data());
            shown += w + " ";
        }
        EXPECT_EQ(StartupFindGnuOption((int)argv.size(), argv.data()), c.want) << shown;
    }
}
