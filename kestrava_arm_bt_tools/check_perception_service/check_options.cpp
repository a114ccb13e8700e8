#include "check_options.hpp"

#include "kestrava_arm_host/command_line.hpp"

namespace kestrava_arm::check {
namespace {

using host::OptionDefinition;
using host::UsageError;

// The tasks a run of the example tree meets: no settings, a task description, and a data
// directory and camera of their own.
std::vector<RequestSource> DefaultRequests() {
  RequestSource task_info{"task_info task_uid:42;task_name:bowl", {}, {}};
  task_info.settings.task_info = "task_uid:42;task_name:bowl";
  RequestSource own_paths{"own toilet_data_path and camera_frame_id", {}, {}};
  own_paths.settings.toilet_data_path = "/srv/kestrava/toilet_data";
  own_paths.settings.camera_frame_id = "camera_02_color_optical_frame";
  return {{"default task", {}, {}}, task_info, own_paths};
}

// What the command line asked of each mode, to tell a mixture apart: the options of a running
// service (live check and watch alike), those of sending requests and those of watching.
struct Given {
  std::vector<RequestSource> requests;
  std::vector<std::string> live_options;
  std::vector<std::string> sending_options;
  std::vector<std::string> watch_options;
};

// Notes the option among `kind` before applying it.
template <typename Apply>
auto Noted(std::vector<std::string>& kind, const char* name, Apply apply) {
  return [&kind, name, apply](const std::string& value) {
    kind.emplace_back(name);
    apply(value);
  };
}

std::vector<OptionDefinition> OptionDefinitions(CheckOptions& options, Given& given) {
  const auto live = [&given](const char* name, auto apply) {
    return Noted(given.live_options, name, apply);
  };
  const auto sending = [&given](const char* name, auto apply) {
    return Noted(given.live_options, name, Noted(given.sending_options, name, apply));
  };
  const auto watching = [&given](const char* name, auto apply) {
    return Noted(given.watch_options, name, apply);
  };
  return {
      {"--service", "NAME",
       "live and watch: the service to check (default: /arm_perception_common)",
       live("--service", [&options](const std::string& value) { options.service_name = value; })},
      {"--task-info", "TEXT",
       "live: send the request of a task with this task description, e.g. "
       "'task_uid:42;task_name:bowl' (repeatable; replaces the default tasks)",
       sending("--task-info",
               [&given](const std::string& value) {
                 RequestSource task{"task_info " + value, {}, {}};
                 task.settings.task_info = value;
                 given.requests.push_back(std::move(task));
               })},
      {"--request", "FILE",
       "live: send the request document in FILE as it is (repeatable; replaces the default "
       "tasks)",
       sending("--request",
               [&given](const std::string& value) {
                 given.requests.push_back({"request " + value, {}, value});
               })},
      {"--rounds", "N", "live: send each request N times (default: 10)",
       sending("--rounds",
               [&options](const std::string& value) {
                 options.rounds = host::ParseWholeNumber<int>("--rounds", value, "rounds", 1);
               })},
      {"--time-limit-ms", "N",
       "live: the node's time limit, sent in the requests; a later answer is late (default: "
       "2000, as in the example tree); watch: the limit of requests whose document is not "
       "published",
       live("--time-limit-ms",
            [&options](const std::string& value) {
              options.time_limit = host::ParseMilliseconds("--time-limit-ms", value);
            })},
      {"--wait-for-service-ms", "N",
       "live: wait up to N milliseconds for the service to be discovered (default: 10000)",
       sending("--wait-for-service-ms",
               [&options](const std::string& value) {
                 options.service_wait = host::ParseMilliseconds("--wait-for-service-ms", value);
               })},
      {"--watch", "",
       "watch the service's events on a running system (introspection on, ROS 2 Jazzy or "
       "later) and judge every exchange, sending nothing; until Ctrl-C, --count or "
       "--duration-ms",
       [&options](const std::string&) { options.watch = true; }},
      {"--count", "N", "watch: stop after N exchanges",
       watching("--count",
                [&options](const std::string& value) {
                  options.watch_count =
                      host::ParseWholeNumber<std::size_t>("--count", value, "exchanges", 1);
                })},
      {"--duration-ms", "N", "watch: stop after N milliseconds",
       watching("--duration-ms",
                [&options](const std::string& value) {
                  options.watch_duration = host::ParseMilliseconds("--duration-ms", value);
                })},
      {"--record", "FILE", "watch: write every exchange to the recording FILE as it completes",
       watching("--record", [&options](const std::string& value) { options.record_file = value; })},
      {"--answer", "FILE",
       "offline: judge the answer document in FILE as the node would, without any service "
       "(repeatable)",
       [&options](const std::string& value) { options.answer_files.push_back(value); }},
      {"--answers-from", "FILE",
       "offline: judge every exchange of the recording in FILE (check_perception_service "
       "--watch --record) as the node would: its answer, or its timeout, against the request's "
       "time_out; without any service",
       [&options](const std::string& value) { options.recording_file = value; }},
      {"--junit", "FILE",
       "also write the verdicts as a JUnit report to FILE (not with --answers-from)",
       [&options](const std::string& value) { options.junit_file = value; }},
      {"--json", "FILE", "also write the verdicts as JSON to FILE",
       [&options](const std::string& value) { options.json_file = value; }},
      {"--help", "", "show this help and exit",
       [&options](const std::string&) { options.help = true; }},
  };
}

void RefuseMixedWatch(const CheckOptions& options, const Given& given) {
  if (!options.watch && !given.watch_options.empty()) {
    throw UsageError(given.watch_options.front() + " needs --watch");
  }
  if (!options.watch) {
    return;
  }
  if (!options.answer_files.empty() || !options.recording_file.empty()) {
    throw UsageError(
        "--watch judges a running system; it cannot be combined with --answer or "
        "--answers-from");
  }
  if (!options.junit_file.empty() || !options.json_file.empty()) {
    throw UsageError(
        "--watch writes no report; --record the exchanges, then --answers-from the recording "
        "--json FILE");
  }
  if (!given.sending_options.empty()) {
    throw UsageError("--watch sends nothing; it cannot be combined with " +
                     given.sending_options.front());
  }
}

}  // namespace

CheckOptions ParseCheckOptions(int argc, const char* const argv[]) {
  CheckOptions options;
  Given given;
  options.ros_args = host::ParseCommandLine(argc, argv, OptionDefinitions(options, given));
  if (!options.recording_file.empty()) {
    if (!options.answer_files.empty()) {
      throw UsageError("--answers-from and --answer cannot be combined: judge one or the other");
    }
    if (!given.live_options.empty()) {
      throw UsageError(
          "--answers-from judges a recording without a service; it cannot be combined with " +
          given.live_options.front());
    }
    if (!options.junit_file.empty()) {
      throw UsageError("--answers-from writes no JUnit report; use --json");
    }
  }
  if (!options.answer_files.empty() && !given.live_options.empty()) {
    throw UsageError(
        "--answer judges saved answers without a service; it cannot be combined "
        "with " +
        given.live_options.front());
  }
  RefuseMixedWatch(options, given);
  options.requests = given.requests.empty() ? DefaultRequests() : std::move(given.requests);
  return options;
}

std::string CheckUsage() {
  CheckOptions options;
  Given given;
  return "Usage: check_perception_service [options] [--ros-args ...]\n"
         "       check_perception_service --answer FILE [--answer FILE ...] [options]\n"
         "       check_perception_service --answers-from RECORDING [--json FILE]\n"
         "       check_perception_service --watch [--record FILE] [options] [--ros-args ...]\n"
         "Sends a running perception service the requests DetectToiletInfo sends and tells for\n"
         "each answer whether the node would take it, and how fast it came. With --answer it\n"
         "judges saved answer documents instead, without any service; with --answers-from,\n"
         "every exchange of a recording, one line each and then a summary. With --watch it\n"
         "sends nothing and judges the exchanges of a running system as they happen.\n"
         "\n"
         "Options:\n" +
         host::DescribeOptions(OptionDefinitions(options, given)) +
         "\n"
         "Exit status:\n"
         "  0  the node would take every answer (live: each within the time limit)\n"
         "  1  the node would refuse an answer, or one came late or not at all\n"
         "  2  the command line is wrong\n"
         "  3  setup failed: no service discovered within the wait, a file that cannot be\n"
         "     read or written, a request file that is no request document, or ROS 2;\n"
         "     --answers-from: also a line of the recording that cannot be read (the other\n"
         "     lines are judged all the same)\n";
}

}  // namespace kestrava_arm::check
