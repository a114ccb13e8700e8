#include "tree_runner.hpp"

#include <exception>

namespace kestrava_arm::host {
namespace {

using Clock = std::chrono::steady_clock;

bool DeadlinePassed(const TickSchedule& schedule, Clock::time_point start) {
  return schedule.deadline.count() > 0 && Clock::now() - start >= schedule.deadline;
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
    tree.sleep(schedule.period);
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
