#include "core/getopt.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

// Runs the parser with "vl:" and describes every result and where option
// reading stopped, e.g. "v l=run.log | 3"; err receives stderr.
static std::string parse(std::vector<std::string> words, std::string *err = nullptr)
{
    std::vector<char *> argv;
    for (auto &s : words)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    mgetopt::getopt_reset();
    CaptureStderr();
    std::string trace;
    int c;
    while ((c = mgetopt::getopt((int)words.size(), argv.data(), "vl:")) != -1 && trace.size() < 100) {
        trace += (char)c;
        if (c == 'l')
            trace += std::string("=") + mgetopt::optarg;
        trace += ' ';
    }
    std::string e = GetCapturedStderr();
    if (err != nullptr)
        *err = e;
    return trace + "| " + std::to_string(mgetopt::optind);
}

TEST(Getopt, Options)
{
    EXPECT_EQ(parse({"mirdel"}), "| 1");
    EXPECT_EQ(parse({}), "| 1");
    EXPECT_EQ(parse({"mirdel", "-lrun.log", "fw"}), "l=run.log | 2");
    EXPECT_EQ(parse({"mirdel", "-l", "run.log", "fw"}), "l=run.log | 3");
    EXPECT_EQ(parse({"mirdel", "-vl", "run.log"}), "v l=run.log | 3");
    EXPECT_EQ(parse({"mirdel", "-vv", "-vlx"}), "v v v l=x | 3");
    EXPECT_EQ(parse({"mirdel", "-l", "-v", "x"}), "l=-v | 3");
    // Reading stops at "--" (skipped), a lone hyphen or a plain word.
    EXPECT_EQ(parse({"mirdel", "-v", "--", "-v"}), "v | 3");
    EXPECT_EQ(parse({"mirdel", "-", "-v"}), "| 1");
    EXPECT_EQ(parse({"mirdel", "image.srec", "-v"}), "| 1");
}

TEST(Getopt, Diagnostics)
{
    std::string err;
    EXPECT_EQ(parse({"/usr/bin/mirdel", "-x", "-v", "fw"}, &err), "? v | 3");
    EXPECT_EQ(err, "/usr/bin/mirdel: illegal option -- x\n");
    EXPECT_EQ(mgetopt::optopt, 'x');
    // Every letter after a bad one is read once.
    EXPECT_EQ(parse({"D:\\Mirdel.exe", "-xv", "-yz"}, &err), "? v ? ? | 3");
    EXPECT_EQ(err, "D:\\Mirdel.exe: illegal option -- x\nD:\\Mirdel.exe: illegal option -- y\n"
                   "D:\\Mirdel.exe: illegal option -- z\n");
    // The colon only marks arguments.
    EXPECT_EQ(parse({"mirdel", "-:"}, &err), "? | 2");
    EXPECT_EQ(err, "mirdel: illegal option -- :\n");
    EXPECT_EQ(parse({"mirdel", "-v", "-l"}, &err), "v ? | 3");
    EXPECT_EQ(err, "mirdel: option requires an argument -- l\n");

    std::vector<std::string> w = {"mirdel", "-x", "-l"};
    char *argv[] = {w[0].data(), w[1].data(), w[2].data(), nullptr};
    mgetopt::getopt_reset();
    mgetopt::opterr = 0;
    CaptureStderr();
    EXPECT_EQ(mgetopt::getopt(3, argv, "vl:"), '?');
    EXPECT_EQ(mgetopt::getopt(3, argv, "vl:"), '?');
    EXPECT_EQ(mgetopt::getopt(3, argv, "vl:"), -1);
    EXPECT_EQ(GetCapturedStderr(), "");
    mgetopt::getopt_reset();
}
