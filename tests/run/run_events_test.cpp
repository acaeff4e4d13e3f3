// The worker's reports on their way to a window: what the window's thread
// takes, and how often it is woken.
#include <gtest/gtest.h>

#include <sstream>

#include "core/runevents.h"
#include "core/textfmt.h"

namespace
{

// A script of the worker's calls and the window's doings, one word each:
// B begin, S<g> started, P<g>:<bar>:<percent> progress, E<g> ended,
// N<g> stopping, F<r> finished, "!" Stop pressed, "|" the window takes.
// What each take got is written the same way, takes split by "|"; w is the
// number of wake-ups.
std::string Play(const std::string &script, int &wakes)
{
    wakes = 0;
    RunEventQueue q([&] { wakes++; });
    std::istringstream in(script);
    std::string word, taken;
    while (in >> word) {
        int g = word.size() > 1 ? word[1] - '0' : 0;
        if (word == "!")
            q.SetStopPressed(true);
        else if (word == "|") {
            for (const RunEvent &e : q.Take()) {
                const char *k = "BSPENF";
                taken += k[e.kind];
                taken += std::to_string(e.kind == RunEvent::FINISHED ? int(e.result) : e.group);
                if (e.kind == RunEvent::PROGRESS)
                    taken += ":" + std::to_string(e.bar) + ":" + std::to_string(e.percent);
                taken += " ";
            }
            taken += "| ";
        } else if (word[0] == 'B')
            q.RunBegin();
        else if (word[0] == 'S')
            q.PhaseStarted(g);
        else if (word[0] == 'E')
            q.PhaseEnded(g);
        else if (word[0] == 'N')
            q.PhaseStopping(g);
        else if (word[0] == 'F')
            q.RunFinished(static_cast<UploadResult>(g));
        else if (word[0] == 'P') {
            RunStep step;
            std::sscanf(word.c_str() + 3, "%d:%d", &step.bar, &step.percent);
            q.PhaseProgress(g, step);
        }
    }
    return taken;
}

} // namespace

TEST(RunEventQueue, WhatTheWindowTakes)
{
    const struct {
        const char *script, *taken;
        int wakes;
    } cases[] = {
        // A progress still waiting is replaced by the next of its group.
        {"B S0 P0:100:1 P0:200:2 |", "B0 S0 P0:200:2 | ", 1},
        {"P0:100:1 P1:50:1 P0:200:2 |", "P0:100:1 P1:50:1 P0:200:2 | ", 1},
        // A report that changes nothing is not queued, nor woken for;
        // RunBegin starts every group from 0 again.
        {"B P0:0:0 | P0:100:1 | P0:100:1 |", "B0 | P0:100:1 | | ", 2},
        {"P0:100:1 | B P0:100:1 |", "P0:100:1 | B0 P0:100:1 | ", 2},
        // Above 100 % the bar stands at its end, the number goes on.
        {"P1:15000:150 | P1:20000:200 | P1:-5:0 |", "P1:10000:150 | P1:10000:200 | P1:0:0 | ", 3},
        // After Stop only the group that goes on after a stop is drawn.
        {"B S0 P0:100:1 ! S1 P1:100:1 P0:200:2 E1 N1 E0 F1 |", "B0 S1 P1:100:1 E1 N1 F1 | ", 1},
        {"S0 P0:100:1 | P0:200:2 ! |", "S0 P0:100:1 | | ", 2},
        {"F4 |", "F4 | ", 1},
        {"S3 S-1 P7:1:1 E3 N9 |", "| ", 0},
    };
    for (const auto &c : cases) {
        int wakes;
        EXPECT_EQ(Play(c.script, wakes), c.taken) << c.script;
        EXPECT_EQ(wakes, c.wakes) << c.script;
    }
}

TEST(TextCut, NeverSplitsACharacter)
{
    const struct {
        std::string text;
        size_t max;
        std::string cut;
    } cases[] = {
        {"abcdef", 4, "abcd"},
        {"abc", 79, "abc"},
        {"ab\xc3\xa9z", 3, "ab"},    // é is 2 bytes
        {"ab\xe2\x82\xac", 4, "ab"}, // € is 3 bytes
        {"ab\xe2\x82\xac", 5, "ab\xe2\x82\xac"},
        {"\xf0\x9f\x98\x80x", 3, ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(TextCut(c.text, c.max), c.cut) << c.text << " " << c.max;
}
