#include "core/cmdline.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using Words = std::vector<std::string>;

// Splits a copy of text; a guard entry catches a word stored past the limit.
static int split(const std::string &text, Words &out, int maxWords = CMDLINE_MAX_WORDS)
{
    char buf[CMDLINE_SIZE];
    snprintf(buf, sizeof buf, "%s", text.c_str());
    char *words[CMDLINE_MAX_WORDS + 1];
    words[maxWords] = nullptr;
    int n = CmdLineSplit(buf, words, maxWords);
    EXPECT_EQ(words[maxWords], nullptr);
    out.assign(words, words + (n < 0 ? maxWords : n));
    return n;
}

static std::string manyWords(int count)
{
    std::string s = "w0";
    for (int i = 1; i < count; i++)
        s += " w" + std::to_string(i);
    return s;
}

TEST(CmdLine, Split)
{
    Words w;
    EXPECT_EQ(split("\"D:\\Tools\\Mirdel.exe\" -v -l \"my log.txt\" \"E:\\fw\\new image.srec\"", w), 5);
    EXPECT_EQ(w, (Words{"D:\\Tools\\Mirdel.exe", "-v", "-l", "my log.txt", "E:\\fw\\new image.srec"}));
    EXPECT_EQ(split("\"x y\"z \"\"q", w), 4); // a word may follow a closing quote at once
    EXPECT_EQ(w, (Words{"x y", "z", "", "q"}));
    EXPECT_EQ(split("a\"b c\"", w), 2); // inside a plain word a quote is ordinary
    EXPECT_EQ(w, (Words{"a\"b", "c\""}));
    EXPECT_EQ(split(" \t prog\t\t-v   \"b c \t d", w), 3); // unclosed quote runs to the end
    EXPECT_EQ(w, (Words{"prog", "-v", "b c \t d"}));
    EXPECT_EQ(split(" \t ", w), 0);

    EXPECT_EQ(split(manyWords(20) + "  ", w), 20);
    EXPECT_EQ(split(manyWords(20) + " \"x", w), -1);
    EXPECT_EQ(split("a b c", w, 2), -1);
    EXPECT_EQ(w, (Words{"a", "b"}));
}

TEST(CmdLine, Limits)
{
    CmdLine cl;
    std::string fits = "prog " + std::string(1018, 'a');
    EXPECT_EQ(CmdLineFromText(cl, fits.c_str()), CMDLINE_OK);
    EXPECT_EQ(cl.argc, 2);
    EXPECT_EQ(strlen(cl.argv[1]), 1018u);
    EXPECT_EQ(cl.argv[2], nullptr);
    // Refused, not cut; the program's word stays readable for the message.
    EXPECT_EQ(CmdLineFromText(cl, (fits + "b").c_str()), CMDLINE_TOO_LONG);
    EXPECT_STREQ(cl.argv[0], "prog");
    EXPECT_EQ(CmdLineFromText(cl, manyWords(21).c_str()), CMDLINE_TOO_MANY_WORDS);

    // argv words: 1023 characters when joined with a blank (5 + 1 + 1017).
    std::vector<std::string> words = {"mirde", std::string(1017, 'x')};
    auto fromArgv = [&]() {
        std::vector<char *> argv;
        for (auto &s : words)
            argv.push_back(s.data());
        return CmdLineFromArgv(cl, (int)words.size(), argv.data());
    };
    EXPECT_EQ(fromArgv(), CMDLINE_OK);
    EXPECT_EQ(cl.argv[1], cl.text + 6); // the words are the copy's own
    words[1] += "x";
    EXPECT_EQ(fromArgv(), CMDLINE_TOO_LONG);
    EXPECT_STREQ(cl.argv[0], "mirde");
    words = {std::string(5000, 'p')};
    EXPECT_EQ(fromArgv(), CMDLINE_TOO_LONG);
    EXPECT_EQ(strlen(cl.argv[0]), 1023u);
    words.assign(20, "w b"); // blanks inside a word are the word's own
    EXPECT_EQ(fromArgv(), CMDLINE_OK);
    EXPECT_EQ(cl.argc, 20);
    EXPECT_STREQ(cl.argv[19], "w b");
    words.push_back("w");
    EXPECT_EQ(fromArgv(), CMDLINE_TOO_MANY_WORDS);
}

TEST(CmdLine, ProgramName)
{
    char buf[CMDLINE_SIZE];
    auto name = [&](const char *word) {
        CmdLineProgramName(word, buf, sizeof buf);
        return std::string(buf);
    };
    EXPECT_EQ(name("D:\\Tools\\Mirdel.exe"), "Mirdel");
    EXPECT_EQ(name("C:\\x\\Mirdel.EXE"), "Mirdel");
    EXPECT_EQ(name("C:\\x\\Mirdel.exe.bak"), "Mirdel.exe.bak");
    EXPECT_EQ(name("D:/x/y\\Mirdel.exe"), "y\\Mirdel");
    EXPECT_EQ(name("/usr/bin/mirdel"), "mirdel");
    EXPECT_EQ(name("exe"), "exe");
    EXPECT_EQ(name("/opt/.exe"), "");
    char small[4];
    CmdLineProgramName("/bin/mirdel", small, sizeof small);
    EXPECT_STREQ(small, "mir");
}
