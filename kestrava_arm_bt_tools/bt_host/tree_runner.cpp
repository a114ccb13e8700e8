#include "tree_runner.hpp"

#include <algorithm>
#include <exception>

namespace kestrava_arm::host {
namespace {

using Clock = std::chrono::steady_clock;

bool DeadlinePassed(const TickSchedule& schedule, Clock::time_point start) {
  return schedule.deadline.count() > 0 && Clock::now() - start >= schedule.deadline;
}

// The end of the sleep after a tick: the period's end, or the deadline when that comes first.
Clock::time_point WakeTime(const TickSchedule& schedule, Clock::time_point start) {
  const Clock::time_point period_end = Clock::now() + schedule.period;
  return schedule.deadline.count() > 0 ? std::min(period_end, start + schedule.deadline)
                                       : period_end;
}

// Sleeps until `until` or a node wakes the tree, in slices, so that a stop is not left waiting
// for the end of a long period.
void SleepUntil(BT::Tree& tree, Clock::time_point until,
                const std::function<bool()>& stop_requested) {
  for (Clock::time_point now = Clock::now(); now < until && !stop_requested(); now = Clock::now()) {
    // Whole milliseconds, as BehaviorTree.CPP waits: a shorter slice would not sleep at all.
    const auto slice = std::chrono::ceil<std::chrono::milliseconds>(until - now);
    if (tree.sleep(std::min(kStopPollInterval, slice))) {
      return;
    }
  }
}

TickOutcome::End TickWhileRunning(BT::Tree& tree, const TickSchedule& schedule,
                                  const std::function<bool()>& stop_requested,
                                  TickOutcome& outcome) {
  const Clock::time_point start = Clock::now();
  while (!stop_requested()) {
    // Exactly once: after a RUNNING tick, tickOnce polls the wake-up signal with a zero timeout,
    // which Linux turns into a sleep of some 50-70 us (the timer slack of the expired wait). The
    // sleep below returns at once for a wake-up that came during the tick, so nothing is lost.
    outcome.status = tree.tickExactlyOnce();
    ++outcome.ticks;
    if (outcome.status != BT::NodeStatus::RUNNING) {
      return TickOutcome::End::kCompleted;
    }
    if (DeadlinePassed(schedule, start)) {
      return TickOutcome::End::kDeadlinePassed;
    }
    SleepUntil(tree, WakeTime(schedule, start), stop_requested);
  }
  return TickOutcome::End::kInterrupted;
}

}  // namespace

TickOutcome TickUntilDone(BT::Tree& tree, const TickSchedule& schedule,
                          const std::function<bool()>& stop_requested) {
  TickOutcome outcome;
  try {
    outcome.end = TickWhileRunning(tree, schedule, stop_requested, outcome);
  } catch (const std::exception& error) {
    outcome.end = TickOutcome::End::kError;
    outcome.error = error.what();
  }
  if (outcome.end != TickOutcome::End::kCompleted) {
    tree.haltTree();
  }
  return outcome;
}

}  // namespace kestrava_arm::host
