// The worker's reports queued for the window's thread.
#include "core/runevents.h"

#include <algorithm>

static bool runevents_group_ok(int group)
{
    return group >= 0 && group < RUN_GROUP_COUNT;
}

void RunEventQueue::Post(const RunEvent &event)
{
    bool first;
    {
        std::lock_guard<std::mutex> hold(lock_);
        first = events_.empty();
        if (event.kind == RunEvent::PROGRESS && !first &&
            events_.back().kind == RunEvent::PROGRESS && events_.back().group == event.group)
            events_.back() = event;
        else
            events_.push_back(event);
    }
    if (first && wake_)
        wake_();
}

std::vector<RunEvent> RunEventQueue::Take()
{
    std::vector<RunEvent> events;
    {
        std::lock_guard<std::mutex> hold(lock_);
        events.swap(events_);
    }
    if (stopPressed_) {
        events.erase(std::remove_if(events.begin(), events.end(),
                                    [](const RunEvent &e) {
                                        return e.kind != RunEvent::BEGIN &&
                                               e.kind != RunEvent::FINISHED &&
                                               !RunGroupMovesAfterStop(e.group);
                                    }),
                     events.end());
    }
    return events;
}

void RunEventQueue::RunBegin()
{
    // The groups start from the idle state: bars and numbers at 0.
    std::fill(std::begin(bar_), std::end(bar_), 0);
    std::fill(std::begin(percent_), std::end(percent_), 0);
    std::fill(std::begin(resends_), std::end(resends_), 0u);
    Post({RunEvent::BEGIN, 0, 0, 0, UPLOAD_OK});
}

void RunEventQueue::PhaseStarted(int group)
{
    if (runevents_group_ok(group))
        Post({RunEvent::STARTED, group, 0, 0, UPLOAD_OK});
}

void RunEventQueue::PhaseProgress(int group, const RunStep &step)
{
    if (!runevents_group_ok(group))
        return;
    int bar = std::clamp(step.bar, 0, RUN_BAR_MAX);
    if (bar == bar_[group] && step.percent == percent_[group] && step.resends == resends_[group])
        return;
    bar_[group] = bar;
    percent_[group] = step.percent;
    resends_[group] = step.resends;
    Post({RunEvent::PROGRESS, group, bar, step.percent, UPLOAD_OK, step.resends});
}

void RunEventQueue::PhaseEnded(int group)
{
    if (runevents_group_ok(group))
        Post({RunEvent::ENDED, group, 0, 0, UPLOAD_OK});
}

void RunEventQueue::PhaseStopping(int group)
{
    if (runevents_group_ok(group))
        Post({RunEvent::STOPPING, group, 0, 0, UPLOAD_OK});
}

void RunEventQueue::RunFinished(UploadResult result)
{
    Post({RunEvent::FINISHED, 0, 0, 0, result});
}
