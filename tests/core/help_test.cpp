// Where the Windows program looks for its help files. (The order of the
// steps and their boxes: the window tests of both desktop programs.)
#include "core/help.h"

#include <gtest/gtest.h>

TEST(Help, DirectoryOfTheProgram)
{
    const char *cases[][2] = {{"C:\\Tools\\mirdel.exe", "C:\\Tools\\"},
                              {"D:/x/y\\mirdel.exe", "D:/x/y\\"}, // the backslash wins
                              {"/opt/mirdel/mirdel.exe", "/opt/mirdel\\"},
                              {"mirdel.exe", ""}};
    for (const auto &c : cases)
        EXPECT_EQ(HelpDirectoryOf(c[0]), c[1]) << c[0];
}
