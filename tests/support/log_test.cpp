// The log: file layout, channels, placeholders, nesting and opening.
#include "platform/syserr.h"
#include "support/winerr.h"
#include "support/err.h"
#include "support/log.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{

std::vector<std::pair<std::string, bool>> g_lines;

void capture(const char *line, bool toFile)
{
    g_lines.emplace_back(line, toFile);
}

class LogTest : public ::testing::Test
{
  protected:
    std::string path;
    void SetUp() override
    {
        std::string tmpl = ::testing::TempDir() + "mirdel-log-XXXXXX";
        int fd = mkstemp(tmpl.data());
        ASSERT_GE(fd, 0);
        close(fd);
        path = tmpl;
        g_lines.clear();
    }
    void TearDown() override
    {
        LogOpen(nullptr, LogDefaultConsole, nullptr, false);
        LogSetOpener(nullptr);
        unlink(path.c_str());
    }
    std::vector<std::string> fileLines()
    {
        std::ifstream in(path);
        std::vector<std::string> lines;
        for (std::string l; std::getline(in, l);)
            lines.push_back(l);
        return lines;
    }
    std::string lastText() { return g_lines.empty() ? "<none>" : g_lines.back().first; }
};

std::string stampOf(time_t t)
{
    struct tm tm;
    localtime_r(&t, &tm);
    char buf[32];
    strftime(buf, sizeof buf, "%m/%d %k:%M:%S ", &tm);
    return buf;
}

TEST_F(LogTest, FileLayoutOfFirstAndContinuationLines)
{
    ASSERT_TRUE(LogOpen(path.c_str(), capture, "Mirdel: ", true));
    time_t before = time(nullptr);
    Log("first %d\nsecond", 1);
    time_t after = time(nullptr);
    Log("");            // the prefix alone
    Log("\ncontinued"); // no first line at all
    Log("ends\n");      // followed by an empty continuation line

    std::vector<std::string> lines = fileLines();
    ASSERT_EQ(lines.size(), 6u);
    // The stamp is the local time when the line was written, 15 characters.
    std::string stamp = lines[0].substr(0, 15);
    EXPECT_TRUE(stamp == stampOf(before) || stamp == stampOf(after)) << stamp;
    EXPECT_TRUE(
        std::regex_match(lines[0], std::regex(R"(\d\d/\d\d [ 12]\d:\d\d:\d\d Mirdel: first 1)")))
        << lines[0];
    std::string indent(15 + 8, ' ');
    EXPECT_EQ(lines[1], indent + "second");
    EXPECT_TRUE(std::regex_match(lines[2], std::regex(R"(.{15}Mirdel: )"))) << lines[2];
    EXPECT_EQ(lines[3], indent + "continued");
    EXPECT_EQ(lines[4].substr(15), "Mirdel: ends");
    EXPECT_EQ(lines[5], indent); // the prefix-wide indent of an empty text

    // The console channel gets the same lines without stamps.
    ASSERT_EQ(g_lines.size(), 6u);
    EXPECT_EQ(g_lines[0].first, "Mirdel: first 1");
    EXPECT_EQ(g_lines[1].first, "        second");
    EXPECT_TRUE(g_lines[0].second);
}

TEST_F(LogTest, ChannelsFlushAndMissingFileOrCallback)
{
    ASSERT_TRUE(LogOpen(path.c_str(), capture, nullptr, false));
    LogConsole("console only");
    EXPECT_EQ(g_lines.back(), std::make_pair(std::string("console only"), false));
    Log("both");
    EXPECT_EQ(g_lines.back(), std::make_pair(std::string("both"), true));
    // Without the flush switch the line waits in the stream's buffer.
    EXPECT_TRUE(fileLines().empty());
    EXPECT_TRUE(LogClose());
    std::vector<std::string> lines = fileLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].substr(15), "both");

    // No file: Log reaches the callback only.
    ASSERT_TRUE(LogOpen(nullptr, capture, "p>", false));
    Log("no file");
    EXPECT_EQ(lastText(), "p>no file");

    // No callback: the console channel is silent, the file still written.
    g_lines.clear();
    ASSERT_TRUE(LogOpen(path.c_str(), nullptr, nullptr, true));
    LogConsole("gone");
    Log("kept");
    EXPECT_TRUE(g_lines.empty());
    lines = fileLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].substr(15), "kept");
}

TEST_F(LogTest, PlaceholdersReplaceFirstOccurrenceOnly)
{
    ASSERT_TRUE(LogOpen(nullptr, capture, nullptr, false));
    std::string busy = ErrnoStr(EBUSY);
    errno = EBUSY;
    Log("a %m b %m c");
    EXPECT_EQ(lastText(), "a " + busy + " b %m c");
    EXPECT_EQ(errno, EBUSY); // the caller still finds its error

    PlatSetLastErrorFromErrno(ETIMEDOUT);
    std::string timeout = WinLastErrStr();
    errno = ENOENT;
    Log("%s: %m / %W / %W %d%%", "open", 7);
    EXPECT_EQ(lastText(), "open: " + std::string(ErrnoStr(ENOENT)) + " / " + timeout + " / %W 7%");
    Log("100%%m");
    EXPECT_EQ(lastText(), "100%m");

    // The inserted text is literal; the rest of the format is not.
    char buf[LOG_SUBST_SIZE];
    ASSERT_EQ(LogSubstitute(buf, "x %m y %d", 'm', "50% <E>"), 1);
    char out[64];
    snprintf(out, sizeof out, buf, 42);
    EXPECT_STREQ(out, "x 50% <E> y 42");
    // In place, as for %W after %m.
    snprintf(buf, sizeof buf, "%s", "A%WB%mC");
    ASSERT_EQ(LogSubstitute(buf, buf, 'W', "wide text"), 1);
    EXPECT_STREQ(buf, "Awide textB%mC");
    EXPECT_EQ(LogSubstitute(buf, "no marker %%W", 'W', "x"), 0);
    // 511 characters fit, 512 do not, and the buffer stays as it was.
    std::string fits = std::string(508, 'x') + "%m";
    EXPECT_EQ(LogSubstitute(buf, fits.c_str(), 'm', "abc"), 1);
    EXPECT_EQ(strlen(buf), 511u);
    std::string over = std::string(509, 'y') + "%m";
    EXPECT_EQ(LogSubstitute(buf, over.c_str(), 'm', "abc"), -1);
    EXPECT_EQ(std::string(buf), std::string(508, 'x') + "abc");
}

TEST_F(LogTest, OverflowReportIsNestedAndComesFirst)
{
    ASSERT_TRUE(LogOpen(path.c_str(), capture, "P ", true));
    std::string fmt = std::string(500, 'x') + "%m";
    errno = EPERM;
    Log(fmt.c_str());
    ASSERT_EQ(g_lines.size(), 2u);
    EXPECT_EQ(
        g_lines[0].first,
        "P vLogX()-REENT #1: log:replace(): the resulting string would be too long (overflow) !");
    EXPECT_EQ(g_lines[1].first, "P " + fmt); // no tag, marker left as written
    std::vector<std::string> lines = fileLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].substr(15), g_lines[0].first);
    EXPECT_EQ(lines[1].substr(15), g_lines[1].first);

    // Texts beyond the fixed buffers are cut, never overrun.
    g_lines.clear();
    Log("%s", std::string(3000, 'z').c_str());
    ASSERT_EQ(g_lines.size(), 1u);
    EXPECT_EQ(g_lines[0].first, "P " + std::string(513, 'z'));
}

// While a message is being written, a message of another thread carries the
// depth tag: the counter is shared by all threads.
void nestingCallback(const char *line, bool toFile)
{
    capture(line, toFile);
    if (std::string(line) == "outer") {
        std::thread([] { Log("other thread"); }).join();
        Log("same thread");
    }
}

TEST_F(LogTest, DepthTagCountsCallsOfAllThreads)
{
    ASSERT_TRUE(LogOpen(nullptr, nestingCallback, nullptr, false));
    Log("outer");
    Log("after");
    ASSERT_EQ(g_lines.size(), 4u);
    EXPECT_EQ(g_lines[1].first, "vLogX()-REENT #1: other thread");
    EXPECT_EQ(g_lines[2].first, "vLogX()-REENT #1: same thread");
    EXPECT_EQ(g_lines[3].first, "after");
}

std::vector<std::string> g_modes;
int g_firstErrno;

FILE *failingOpener(const char *name, const char *mode)
{
    g_modes.push_back(mode);
    if (g_modes.size() == 1) {
        errno = g_firstErrno;
        return nullptr;
    }
    return fopen(name, mode);
}

TEST_F(LogTest, OpenFailureAndIllegalSeekFallback)
{
    ASSERT_TRUE(LogOpen(nullptr, capture, "old", false));
    std::string bad = path + ".d/missing.log";
    EXPECT_FALSE(LogOpen(bad.c_str(), capture, "new", false));
    EXPECT_EQ(lastText(), "LogOpen(): " + bad + ": " + ErrnoStr(ENOENT));
    Log("plain");
    EXPECT_EQ(lastText(), "plain"); // no prefix after the failure

    // glibc's append-open never fails with ESPIPE (it ignores that error of
    // its seek), so the fallback is driven through the opener.
    LogSetOpener(failingOpener);
    g_modes.clear();
    g_firstErrno = ESPIPE;
    ASSERT_TRUE(LogOpen(path.c_str(), capture, nullptr, true));
    EXPECT_EQ(g_modes, (std::vector<std::string>{"a", "w"}));
    Log("written");
    ASSERT_EQ(fileLines().size(), 1u);

    g_modes.clear();
    g_firstErrno = EACCES;
    EXPECT_FALSE(LogOpen(path.c_str(), capture, nullptr, true));
    EXPECT_EQ(g_modes, std::vector<std::string>{"a"});
    EXPECT_EQ(lastText(), "LogOpen(): " + path + ": " + ErrnoStr(EACCES));

    // A real unseekable target: a pipe opened by name.
    LogSetOpener(nullptr);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::string name = "/proc/self/fd/" + std::to_string(fds[1]);
    if (access(name.c_str(), W_OK) == 0) {
        ASSERT_TRUE(LogOpen(name.c_str(), nullptr, nullptr, true));
        Log("through the pipe");
        char buf[64] = {};
        ASSERT_GT(read(fds[0], buf, sizeof buf - 1), 0);
        EXPECT_STREQ(buf + 15, "through the pipe\n");
    }
    LogOpen(nullptr, nullptr, nullptr, false);
    close(fds[0]);
    close(fds[1]);
}

} // namespace
