// The display of several ports at once: one row per port redrawn on a
// terminal, plain lines that begin with the port's name otherwise, or the
// children's JSON lines passed on; at the end a summary of every port.
#pragma once

#include <cstddef>

#include "core/station.h"

class CliRows : public StationView
{
  public:
    CliRows(const Station &station, bool json);

    void Begin() override;
    void PortLine(size_t port, const std::string &event, const std::string &line) override;
    void StopPassed(const std::vector<std::string> &notPassed) override;
    void PortEnded(size_t port, const std::string &lostResult) override;
    int TickDelay() override;
    void Tick() override;

    // After the station's run: the last drawing and the summary.
    void Summary();

  private:
    void Draw(bool again);

    const Station &station_;
    bool json_;
    bool terminal_;
    size_t portWidth_ = 4;
    std::vector<int> printed_; // plain output: each port's last percentage written
    bool changed_ = false;     // a row changed since it was drawn
    RunClock::time_point lastDraw_;
};
