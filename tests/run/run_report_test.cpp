// The progress line of a terminal, time texts and estimates.
#include <gtest/gtest.h>

#include <chrono>

#include "core/runreport.h"

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

TEST(RunReport, LinesOfARunMakeItsState)
{
    struct Case {
        std::string line, event, phase;
        bool done;
        int bar;
        double elapsed, left;
    };
    const Case cases[] = {
        {"{\"event\":\"phase_start\",\"port\":\"p\",\"phase\":\"upload\"}", "phase_start", "upload",
         false, 0, -1, -1},
        {"{\"event\":\"progress\",\"port\":\"p\",\"phase\":\"upload\",\"percent\":12.345,"
         "\"elapsed\":1.5,\"left\":null}",
         "progress", "upload", false, 1235, 1.5, -1},
        {"{\"event\":\"progress\",\"phase\":\"upload\",\"percent\":50,\"elapsed\":2,\"left\":2}",
         "progress", "upload", false, 5000, 2, 2},
        {"{\"event\":\"phase_end\",\"phase\":\"upload\",\"seconds\":4.25}", "phase_end", "upload",
         true, RUN_BAR_MAX, 4.25, 0},
        {"not json", "", "upload", true, RUN_BAR_MAX, 4.25, 0}, // changes nothing
        {"{\"event\":\"phase_start\",\"phase\":\"read\"}", "phase_start", "read", false, 0, -1, -1},
    };
    RunLineState state;
    for (const Case &c : cases) {
        EXPECT_EQ(RunLineTake(state, c.line), c.event) << c.line;
        EXPECT_EQ(state.phase, c.phase);
        EXPECT_EQ(state.phaseDone, c.done);
        EXPECT_EQ(state.bar, c.bar);
        EXPECT_EQ(state.elapsed, c.elapsed);
        EXPECT_EQ(state.left, c.left);
    }
    EXPECT_EQ(RunPhaseLabel(state.phase), " Reading");
    EXPECT_EQ(RunPhaseLabel("flash"), " Writing to flash memory");
    EXPECT_FALSE(state.finished);
    RunLineTake(state, "{\"event\":\"result\",\"outcome\":\"Upload failed:\\n\\nx\",\"exit_status\":2}");
    EXPECT_TRUE(state.finished);
    EXPECT_EQ(state.outcome, "Upload failed:\n\nx");
    EXPECT_EQ(state.exitStatus, 2);
}
