#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "kestrava_arm_behavior_tree/contract/perception_contract.hpp"
#include "kestrava_arm_host/field_recording.hpp"

namespace kestrava_arm::check {

// What the node makes of one exchange of a recording or a watch: the run that sent the request
// and received the answer (or none within the request's "time_out").
//
// The node ends a run on a timeout when more whole milliseconds than the request's "time_out"
// have passed since it sent the request; so does the verdict, with the latency of the exchange.
// The verdict is that of a node that ticks all the time: a node that ticks seldom may still take
// an answer that came a little after the limit but before its next tick.
struct ExchangeVerdict {
  // As JudgeAnswer for an answer within the limit; for one after it, or none: FAILURE with
  // status_code 102501008 and the reason; the node writes no error_code then, and
  // outcome.error_code is 0. For an answer in time whose contents the recording lacks
  // (introspection "metadata"), see answer_unrecorded.
  bt::RunOutcome outcome;
  bool timed_out = false;
  // Answered in time, but the contents of the answer were not recorded: how the run ended is
  // unknown. outcome is then FAILURE with error_code and status_code 0 and the reason; reports
  // show the end as "UNKNOWN" and the codes as "-", and count it as not taken.
  bool answer_unrecorded = false;
  std::optional<std::chrono::milliseconds> latency;  // request to answer, client side if seen
  std::optional<double> time_limit_ms;               // the request's "time_out", when readable
  std::string task;  // the request's "aruco_config_path", which names the task; may be empty
};

// The limit is the request's "time_out", finite and read with yaml-cpp; without one (no
// contents, another document) no answer is late, and an exchange without one is still
// timed out. The latency is RESPONSE_RECEIVED - REQUEST_SENT where the client's events were
// seen, else RESPONSE_SENT - REQUEST_RECEIVED, in whole milliseconds.
ExchangeVerdict JudgeExchange(const host::RecordedExchange& exchange);

// "SUCCESS", "FAILURE" or "UNKNOWN" (answer_unrecorded).
const char* EndOf(const ExchangeVerdict& verdict);

// One line for people, the same for the watch and for a recording judged offline, without a
// line feed and safe for a terminal: when the request was made (UTC, ISO 8601 with
// milliseconds, "-" without events), the task ("-" when unknown), the latency ("35 ms", or "-"),
// how the run ends and its codes ("-" for a code the run does not write), and the reason, e.g.
//   2026-12-10T19:10:06.123Z  /opt/.../aruco_detection_config.yaml  35 ms  FAILURE
//   error_code=102300001 status_code=102300001  the service found no toilet ("success" is false)
// (one line).
std::string ExchangeLine(const host::RecordedExchange& exchange, const ExchangeVerdict& verdict);

// One exchange and its verdict as a JSON object, on one line, for scripts: "request_time"
// (as ExchangeLine, or null), "client_gid", "sequence", "task", "latency_ms",
// "time_limit_ms" (null when unknown), "timed_out", "answer_recorded", "end", "error_code",
// "status_code" (null where the run writes none), "transfor_matrix", "reason".
std::string ExchangeJson(const host::RecordedExchange& exchange, const ExchangeVerdict& verdict);

// The count of a watch's or a recording's exchanges by how their runs ended.
struct ExchangeTally {
  struct Ending {
    std::string end;          // as EndOf
    std::string error_code;   // "-" where the run writes none
    std::string status_code;  // "-" where unknown
    std::size_t runs = 0;
  };
  std::vector<Ending> endings;  // one per end and codes, in the order first met
  std::size_t exchanges = 0;
  std::size_t taken = 0;      // SUCCESS
  std::size_t timed_out = 0;  // answered late, or not at all
  std::size_t unknown = 0;    // answer_unrecorded
  std::size_t unreadable_lines = 0;

  void Add(const ExchangeVerdict& verdict);
  // Whether the node took every answer; true for no exchanges.
  bool AllTaken() const { return taken == exchanges; }
};

// The tally for people, for the end of a watch or of an offline judging, e.g.
//   5 exchange(s): 1 taken, 3 refused, 1 timed out; 1 line(s) unreadable
//     1  SUCCESS  error_code=102200000 status_code=102501006
//     ...
std::string TallySummary(const ExchangeTally& tally);

// The judged exchanges as one JSON document: {"passed", "exchanges", "taken", "timed_out",
// "unknown", "unreadable_lines", "verdicts": [ExchangeJson...]}.
struct JudgedExchange {
  host::RecordedExchange exchange;
  ExchangeVerdict verdict;
};
std::string ExchangesJson(const std::vector<JudgedExchange>& judged, const ExchangeTally& tally);

}  // namespace kestrava_arm::check
