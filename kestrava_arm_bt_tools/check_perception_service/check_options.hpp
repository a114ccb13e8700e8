#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "kestrava_arm_behavior_tree/contract/perception_contract.hpp"

namespace kestrava_arm::check {

// A request the live check sends: made from task settings as the node makes it, or a document of
// the user's own, sent as it is.
struct RequestSource {
  std::string name;  // how the report names it
  bt::TaskSettings settings;
  std::string request_file;  // when not empty: the document to send instead
};

struct CheckOptions {
  // Offline: the answer documents to judge. Live when there is none (and no recording).
  std::vector<std::string> answer_files;
  // Offline: the recording (doc/watching-the-field.md) whose exchanges to judge.
  std::string recording_file;

  std::string service_name = "/arm_perception_common";
  std::vector<RequestSource> requests;  // the default set unless --task-info or --request
  int rounds = 10;
  std::chrono::milliseconds time_limit{2000};
  std::chrono::milliseconds service_wait{10000};

  // Watch: the events of a running system, instead of sending requests.
  bool watch = false;
  std::optional<std::size_t> watch_count;                   // stop after this many exchanges
  std::optional<std::chrono::milliseconds> watch_duration;  // stop after this long
  std::string record_file;                                  // write every exchange here

  std::string junit_file;
  std::string json_file;
  std::vector<std::string> ros_args;
  bool help = false;
};

// Throws kestrava_arm::host::UsageError for a command line the check cannot act on.
CheckOptions ParseCheckOptions(int argc, const char* const argv[]);

std::string CheckUsage();

}  // namespace kestrava_arm::check
