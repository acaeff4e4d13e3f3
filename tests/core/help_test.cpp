// Help: where the Windows program looks for its help files. (The order of
// the steps and their boxes: the window tests of both desktop programs.)
#include "core/help.h"

#include <gtest/gtest.h>

#include <string>

TEST(Help, DirectoryOfTheProgram)
{
    const struct {
        const char *program, *dir;
    } cases[] = {
        {"C:\\Tools\\Mirdel\\mirdel.exe", "C:\\Tools\\Mirdel\\"},
        {"D:/x/y\\mirdel.exe", "D:/x/y\\"}, // the backslash wins
        {"/opt/mirdel/mirdel.exe", "/opt/mirdel\\"},
        {"mirdel.exe", ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(HelpDirectoryOf(c.program), c.dir) << c.program;
}
