// The progress line of a terminal, time texts and estimates.
#include <gtest/gtest.h>

#include <chrono>

#include "upload_dialog/core/runreport.h"

TEST(RunReport, ProgressLineFitsTheWidth)
{
    struct Case {
        int width;
        std::string line;
    };
    const Case cases[] = {
        {80, " Uploading ... [##########" + std::string(30, '.') + "]  25% 0:10 left 0:30"},
        {57, " Uploading ... [#####" + std::string(15, '.') + "]  25% 0:10 left 0:30"},
        {47, " Uploading ... [##........]  25% 0:10 left 0:30"},
        {46, " Uploading ...  25% 0:10 left 0:30"}, // no room for a bar
        {20, " Uploading ...  25% "},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(RunProgressLine(" Uploading ...", 2500, 10, 30, c.width), c.line) << c.width;
        EXPECT_LE(c.line.size(), (size_t)c.width);
    }
    // The bar is at most 40 cells, full at 100 percent and beyond.
    EXPECT_EQ(RunProgressLine("x", 12000, 0, 0, 200),
              "x [" + std::string(40, '#') + "] 120% 0:00 left 0:00");
}

TEST(RunReport, TimesAndEstimates)
{
    EXPECT_EQ(RunDurationText(0), "0:00");
    EXPECT_EQ(RunDurationText(59.4), "0:59");
    EXPECT_EQ(RunDurationText(3599), "59:59");
    EXPECT_EQ(RunDurationText(3600), "1:00:00");
    EXPECT_EQ(RunDurationText(-1), "-:--");
    EXPECT_EQ(RunTimeLeft(10, 2500), 30);
    EXPECT_EQ(RunTimeLeft(10, RUN_BAR_MAX), 0);
    EXPECT_EQ(RunTimeLeft(10, 10), -1);  // too little done to tell
    EXPECT_EQ(RunTimeLeft(0.5, 5000), -1); // too early to tell
    using namespace std::chrono;
    EXPECT_EQ(RunIsoTime(RunWallClock::time_point(milliseconds(1796728502123LL))),
              "2026-12-08T11:15:02.123Z");
    EXPECT_EQ(RunIsoTime(RunWallClock::time_point(milliseconds(951782400000LL))),
              "2000-02-29T00:00:00.000Z");
}
