// The worker's reports on their way to a window: what the window's thread
// takes, and how often it is woken.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <sstream>

#include "core/runevents.h"
#include "core/textfmt.h"

namespace
{

// Plays the worker's calls (B, S<g>, P<g>:<bar>:<percent>, E<g>, N<g>, F<r>),
// Stop ("!") and takes ("|"); returns what each take got, written alike.
std::string Play(const std::string &script, int &wakes)
{
    wakes = 0;
    RunEventQueue q([&] { wakes++; });
    const std::map<char, std::function<void(int, const RunStep &)>> calls = {
        {'!', [&](int, const RunStep &) { q.SetStopPressed(true); }},
        {'B', [&](int, const RunStep &) { q.RunBegin(); }},
        {'S', [&](int g, const RunStep &) { q.PhaseStarted(g); }},
        {'E', [&](int g, const RunStep &) { q.PhaseEnded(g); }},
        {'N', [&](int g, const RunStep &) { q.PhaseStopping(g); }},
        {'F', [&](int g, const RunStep &) { q.RunFinished(static_cast<UploadResult>(g)); }},
        {'P', [&](int g, const RunStep &step) { q.PhaseProgress(g, step); }},
    };
    std::istringstream in(script);
    std::string word, taken;
    while (in >> word) {
        RunStep step;
        if (word[0] == 'P')
            std::sscanf(word.c_str() + 3, "%d:%d", &step.bar, &step.percent);
        if (word != "|") {
            calls.at(word[0])(word.size() > 1 ? word[1] - '0' : 0, step);
            continue;
        }
        for (const RunEvent &e : q.Take()) {
            taken += "BSPENF"[e.kind];
            taken += std::to_string(e.kind == RunEvent::FINISHED ? int(e.result) : e.group);
            if (e.kind == RunEvent::PROGRESS)
                taken += ":" + std::to_string(e.bar) + ":" + std::to_string(e.percent);
            taken += " ";
        }
        taken += "| ";
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
    EXPECT_EQ(TextCut("abcdef", 4), "abcd");
    EXPECT_EQ(TextCut("ab\xc3\xa9z", 3), "ab");    // é is 2 bytes
    EXPECT_EQ(TextCut("ab\xe2\x82\xac", 4), "ab"); // € is 3 bytes
    EXPECT_EQ(TextCut("ab\xe2\x82\xac", 5), "ab\xe2\x82\xac");
}
