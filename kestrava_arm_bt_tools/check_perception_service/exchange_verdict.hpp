#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "kestrava_arm_behavior_tree/contract/perception_contract.hpp"
#include "kestrava_arm_host/field_recording.hpp"

namespace kestrava_arm::check {

// What the node makes of one exchange of a recording or a watch: the run that sent the request
// and received the answer (or none within the request's "time_out").
struct ExchangeVerdict {
  // As JudgeAnswer for an answer within the limit; for one after it, or none: FAILURE with
  // status_code 102501008 (the node writes no error_code then) and the reason.
  bt::RunOutcome outcome;
  bool timed_out = false;
  std::optional<std::chrono::milliseconds> latency;  // request to answer, client side if seen
  std::optional<double> time_limit_ms;               // the request's "time_out", when readable
  std::string task;  // the request's "aruco_config_path", which names the task; may be empty
};

ExchangeVerdict JudgeExchange(const host::RecordedExchange& exchange);

// One line for people, the same for the watch and for a recording judged offline: when the
// request was made (UTC), the task, the latency, how the run ends with its codes, the reason.
std::string ExchangeLine(const host::RecordedExchange& exchange, const ExchangeVerdict& verdict);

}  // namespace kestrava_arm::check
