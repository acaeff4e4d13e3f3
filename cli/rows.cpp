// Redrawn at most ten times a second while rows change: the station's
// wait ends in time for the next drawing only while one is due.
#include "cli/rows.h"

#include "cli/cli.h"
#include "platform/console.h"

namespace
{

// The outcome on one line: its line breaks as blanks.
std::string cli_one_line(const std::string &text)
{
    std::string out;
    for (char ch : text) {
        if (ch == '\n') {
            if (!out.empty() && out.back() != ' ')
                out += ' ';
        } else {
            out += ch;
        }
    }
    return out;
}

const auto cli_draw_interval = std::chrono::milliseconds(100);

} // namespace

CliRows::CliRows(const Station &station, bool json)
    : station_(station), json_(json),
      terminal_(!json && PlatIsTerminal(stdout) && PlatEnableTerminalControls(stdout)),
      printed_(station.Ports().size(), -1)
{
    for (const StationPort &p : station.Ports())
        portWidth_ = p.name.size() > portWidth_ ? p.name.size() : portWidth_;
}

void CliRows::Begin()
{
    if (terminal_)
        Draw(false);
}

// Plain output: each port's lines prefixed with its name, so that a log
// stays readable.
void CliRows::PortLine(size_t index, const std::string &event, const std::string &line)
{
    if (json_) {
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
        return;
    }
    if (terminal_) {
        changed_ = true;
        return;
    }
    const StationPort &port = station_.Ports()[index];
    int &printed = printed_[index];
    std::string label = RunPhaseLabel(port.state.phase);
    int percent = (port.state.bar + 50) / 100;
    if (event == "phase_start") {
        std::printf("%s:%s ...\n", port.name.c_str(), label.c_str());
        printed = -1;
    } else if (event == "phase_end") {
        std::printf("%s:%s ... done.\n", port.name.c_str(), label.c_str());
    } else if (event == "progress" && percent / 10 != printed / 10 && percent >= 10) {
        printed = percent;
        std::printf("%s:%s %d%%\n", port.name.c_str(), label.c_str(), percent);
    }
    std::fflush(stdout);
}

void CliRows::StopPassed(const std::vector<std::string> &notPassed)
{
    if (!json_)
        std::fprintf(stderr, "\nStop requested: the runs end at their next step.\n");
    for (size_t i = 0; i < notPassed.size(); i++)
        if (!notPassed[i].empty())
            std::fprintf(stderr, "mirdel-cli: the stop could not be passed to %s: %s\n",
                         station_.Ports()[i].name.c_str(), notPassed[i].c_str());
    if (terminal_) // the rows begin again below the message
        Draw(false);
}

void CliRows::PortEnded(size_t, const std::string &lostResult)
{
    if (json_ && !lostResult.empty())
        std::printf("%s\n", lostResult.c_str());
}

int CliRows::TickDelay()
{
    if (!terminal_ || !changed_)
        return -1;
    auto due = lastDraw_ + cli_draw_interval - RunClock::now();
    return due.count() > 0 ? (int)std::chrono::ceil<std::chrono::milliseconds>(due).count() : 0;
}

void CliRows::Tick()
{
    if (terminal_ && changed_ && RunClock::now() - lastDraw_ >= cli_draw_interval)
        Draw(true);
}

// The terminal's rows, one per port, drawn over the previous drawing.
void CliRows::Draw(bool again)
{
    const std::vector<StationPort> &ports = station_.Ports();
    int width = PlatTerminalWidth(stdout);
    width = (width > 0 ? width : 80) - 1;
    if (again)
        std::printf("\x1b[%zuA", ports.size());
    for (const StationPort &p : ports) {
        std::string label = p.name + std::string(portWidth_ - p.name.size() + 1, ' ');
        std::string line;
        if (!p.outcome.empty()) {
            line = label + " " + p.outcome.substr(0, p.outcome.find('\n'));
            if ((int)line.size() > width)
                line.resize((size_t)(width > 0 ? width : 0));
        } else {
            const RunLineState &st = p.state;
            std::string phase =
                st.phase.empty()
                    ? " starting ..."
                    : RunPhaseLabel(st.phase) + (st.phaseDone ? RUN_LABEL_DONE : RUN_LABEL_BUSY);
            line = RunProgressLine(label + phase, st.bar, st.elapsed, st.left, width);
        }
        std::printf("\r%s\x1b[K\n", line.c_str());
    }
    std::fflush(stdout);
    changed_ = false;
    lastDraw_ = RunClock::now();
}

void CliRows::Summary()
{
    const std::vector<StationPort> &ports = station_.Ports();
    if (terminal_)
        Draw(true);
    if (json_)
        return;
    std::printf("\n%-*s  %-8s  %s\n", (int)portWidth_, "Port", "Time", "Outcome");
    for (const StationPort &p : ports) {
        double seconds = std::chrono::duration<double>(p.end - p.start).count();
        std::printf("%-*s  %-8s  %s\n", (int)portWidth_, p.name.c_str(),
                    RunDurationText(seconds).c_str(), cli_one_line(p.outcome).c_str());
    }
    // The whole text of every run that did not succeed.
    for (const StationPort &p : ports)
        if (p.status != CLI_EXIT_OK)
            std::fprintf(stderr, "\n%s:\n%s\n", p.name.c_str(), CliFit(stderr, p.outcome).c_str());
}
