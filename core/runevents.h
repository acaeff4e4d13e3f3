// The worker's reports on their way to a window. The worker calls the
// RunView side and never waits; the window's thread takes what has come,
// in order, whenever it is woken. A front end gives the wake-up (Qt queues
// a call, Win32 posts a window message) and draws the events it takes.
#pragma once

#include <functional>
#include <mutex>
#include <vector>

#include "core/run.h"

// One report of the worker, as the window's thread takes it.
struct RunEvent {
    enum Kind { BEGIN, STARTED, PROGRESS, ENDED, STOPPING, FINISHED } kind;
    int group;           // STARTED, PROGRESS, ENDED, STOPPING
    int bar;             // PROGRESS: 0..RUN_BAR_MAX
    int percent;         // PROGRESS: the number shown (may pass 100)
    UploadResult result; // FINISHED
    uint32_t resends = 0; // PROGRESS: lines the instrument asked for again
};

class RunEventQueue : public RunView
{
  public:
    // wake is called on the worker thread when an event is queued and none
    // was waiting: one wake-up stands for all that follows until Take.
    explicit RunEventQueue(std::function<void()> wake) : wake_(std::move(wake)) {}

    // The window's thread: the events queued so far. Once StopPressed, the
    // reports of the groups that stand still after a stop are dropped
    // (those the worker sent before it saw the stop), so that the groups
    // show what they showed when Stop was pressed; a group that goes on
    // after a stop (RunGroupMovesAfterStop) is still reported.
    std::vector<RunEvent> Take();
    // The window's thread, when the user presses Stop, and when a run
    // starts (false).
    void SetStopPressed(bool pressed) { stopPressed_ = pressed; }

    // RunView, from the worker thread. A progress replaces the progress of
    // the same group still waiting, so that a slow window never slows the
    // run; a progress that would change nothing is not queued; the bar
    // stands at its end above 100 % while the number goes on.
    void RunBegin() override;
    void PhaseStarted(int group) override;
    void PhaseProgress(int group, const RunStep &step) override;
    void PhaseEnded(int group) override;
    void PhaseStopping(int group) override;
    void RunFinished(UploadResult result) override;

  private:
    void Post(const RunEvent &event);

    std::function<void()> wake_;
    std::mutex lock_;
    std::vector<RunEvent> events_; // guarded by lock_
    // What the groups were last told to show; worker only, reset by RunBegin.
    int bar_[RUN_GROUP_COUNT] = {};
    int percent_[RUN_GROUP_COUNT] = {};
    uint32_t resends_[RUN_GROUP_COUNT] = {};
    bool stopPressed_ = false; // window's thread only
};
