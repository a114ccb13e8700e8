#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "behaviortree_cpp/bt_factory.h"

namespace kestrava_arm::host {

// How often a sleep of the host looks whether it was asked to stop: the longest a stop waits.
inline constexpr std::chrono::milliseconds kStopPollInterval{20};

struct TickSchedule {
  std::chrono::milliseconds period{50};
  std::chrono::milliseconds deadline{0};  // zero: none
};

struct TickOutcome {
  enum class End { kCompleted, kDeadlinePassed, kInterrupted, kError };
  End end = End::kCompleted;
  BT::NodeStatus status = BT::NodeStatus::IDLE;  // the last status the tree returned
  int ticks = 0;
  std::string error;  // the exception's text for kError
};

// Ticks the tree until it returns anything but RUNNING, the deadline passes, stop_requested()
// turns true or a node throws; in the last three cases the tree is halted. Between ticks it sleeps
// out the period, but no longer than to the deadline, and looks at stop_requested() every
// kStopPollInterval meanwhile.
TickOutcome TickUntilDone(BT::Tree& tree, const TickSchedule& schedule,
                          const std::function<bool()>& stop_requested);

}  // namespace kestrava_arm::host
