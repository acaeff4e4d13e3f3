// Help: where the help files are looked for, and which boxes the user sees
// in which order when they open or not.
#include "core/help.h"

#include "platform/syserr.h"
#include "support/winerr.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

TEST(Help, PdfFirstThenTextEachFailureInItsBox)
{
    const std::string pdfBox = "Error opening PDF help file:\n\nC:\\M\\Mirdel.pdf\n\n" +
                               std::string(WinErrStr(ERROR_FILE_NOT_FOUND));
    const std::string txtBox = "Error opening TXT help file:\n\nC:\\M\\Mirdel.txt\n\n" +
                               std::string(WinErrStr(ERROR_ACCESS_DENIED));
    const struct {
        bool pdf, txt;
        std::vector<std::string> tried, boxes;
    } cases[] = {
        {true, true, {"C:\\M\\Mirdel.pdf"}, {}},
        {false, true, {"C:\\M\\Mirdel.pdf", "C:\\M\\Mirdel.txt"}, {pdfBox}},
        {false, false, {"C:\\M\\Mirdel.pdf", "C:\\M\\Mirdel.txt"}, {pdfBox, txtBox}},
    };
    for (const auto &c : cases) {
        std::vector<std::string> tried, boxes;
        auto opener = [&tried](bool ok, unsigned long error) {
            return [&tried, ok, error](const std::string &path) {
                tried.push_back(path);
                PlatSetLastError(error);
                return ok;
            };
        };
        bool opened = HelpOpen("C:\\M\\", opener(c.pdf, ERROR_FILE_NOT_FOUND),
                               opener(c.txt, ERROR_ACCESS_DENIED),
                               [&boxes](const std::string &text) { boxes.push_back(text); });
        EXPECT_EQ(opened, c.pdf || c.txt);
        EXPECT_EQ(tried, c.tried);
        EXPECT_EQ(boxes, c.boxes);
    }
}
