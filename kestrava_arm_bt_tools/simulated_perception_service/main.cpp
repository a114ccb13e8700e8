// The simulated perception service as a process of its own, for hosts in another process.

#include <exception>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <vector>

#include "kestrava_arm_host/command_line.hpp"
#include "kestrava_arm_host/field_recording.hpp"
#include "kestrava_arm_host/introspection_option.hpp"
#include "kestrava_arm_host/report_text.hpp"
#include "kestrava_arm_host/ros_security.hpp"
#include "kestrava_arm_host/simulated_perception_service.hpp"

namespace {

using kestrava_arm::host::OptionDefinition;

struct ServiceOptions {
  kestrava_arm::host::SimulatedServiceConfig config{"/arm_perception_common", {}, {}};
  std::string response_file;
  std::string replay_file;
  bool replay_delays = false;
  std::vector<std::string> ros_args;
  bool help = false;
};

std::vector<OptionDefinition> ServiceOptionDefinitions(ServiceOptions& options) {
  using kestrava_arm::host::ParseMilliseconds;
  return {
      {"--response", "FILE",
       "answer every request with the YAML document in FILE (this or --replay is required)",
       [&options](const std::string& value) { options.response_file = value; }},
      {"--replay", "FILE",
       "answer each request with the recorded answer of an exchange of the recording in FILE "
       "(check_perception_service --watch --record) whose request is the same; a repeated "
       "request gets the answers of its exchanges in recorded order, over and over; requests "
       "that match none, and those of exchanges without an answer, are left unanswered",
       [&options](const std::string& value) { options.replay_file = value; }},
      {"--replay-delays", "",
       "with --replay: answer each request after its exchange's recorded delay (the service's, "
       "else the client's), not after --reply-delay-ms, which stays for exchanges without one",
       [&options](const std::string&) { options.replay_delays = true; }},
      {"--service", "NAME", "service name to offer (default: /arm_perception_common)",
       [&options](const std::string& value) { options.config.service_name = value; }},
      {"--reply-delay-ms", "N", "answer N milliseconds after each request (default: 0)",
       [&options](const std::string& value) {
         options.config.reply_delay = ParseMilliseconds("--reply-delay-ms", value);
       }},
      kestrava_arm::host::IntrospectionOption("the service", options.config.introspection),
      {"--help", "", "show this help and exit",
       [&options](const std::string&) { options.help = true; }},
  };
}

ServiceOptions ParseServiceOptions(int argc, const char* const argv[]) {
  ServiceOptions options;
  // rclcpp::init picks its own arguments (after --ros-args) out of the full command line.
  options.ros_args =
      kestrava_arm::host::ParseCommandLine(argc, argv, ServiceOptionDefinitions(options));
  using kestrava_arm::host::UsageError;
  if (!options.help && options.response_file.empty() == options.replay_file.empty()) {
    throw UsageError(options.response_file.empty()
                         ? "--response FILE or --replay FILE is required"
                         : "--response and --replay cannot be combined: give one of them");
  }
  if (options.replay_delays && options.replay_file.empty()) {
    throw UsageError("--replay-delays needs --replay FILE");
  }
  return options;
}

// The recording's exchanges; each line that cannot be read is logged and the rest served.
kestrava_arm::host::AnswerSource ReplayOf(const std::string& path, bool recorded_delays) {
  using namespace kestrava_arm::host;
  const Recording recording = ReadRecordingText(ReadTextFile(path));
  for (const RecordingLineError& error : recording.errors) {
    std::cerr << PrintableText("simulated_perception_service: " + path + ":" +
                               std::to_string(error.line) + ": " + error.message)
              << "\n";
  }
  try {
    return AnswerSource::Replay(recording.exchanges, recorded_delays);
  } catch (const std::invalid_argument& error) {
    throw std::runtime_error("cannot replay '" + path + "': " + error.what());
  }
}

int Serve(int argc, const char* const argv[], ServiceOptions options) {
  using kestrava_arm::host::SimulatedPerceptionService;
  options.config.answers = options.replay_file.empty()
                               ? kestrava_arm::host::ReadTextFile(options.response_file)
                               : ReplayOf(options.replay_file, options.replay_delays);
  rclcpp::Node::SharedPtr node;
  std::unique_ptr<SimulatedPerceptionService> service;
  try {
    rclcpp::init(argc, argv);
    node = std::make_shared<rclcpp::Node>("simulated_perception_service");
    service = std::make_unique<SimulatedPerceptionService>(node, options.config);
  } catch (const std::exception& error) {
    // ROS 2's refusal, of a secure start say, names what the process started with.
    throw std::runtime_error(kestrava_arm::host::WithRosSecurity(error.what(), options.ros_args));
  }
  rclcpp::spin(node);
  service.reset();
  rclcpp::shutdown();
  return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
  try {
    ServiceOptions options = ParseServiceOptions(argc, argv);
    if (options.help) {
      std::cout
          << "Usage: simulated_perception_service --response FILE [options] [--ros-args ...]\n"
          << "       simulated_perception_service --replay FILE [--replay-delays] [options] "
             "[--ros-args ...]\n"
          << kestrava_arm::host::DescribeOptions(ServiceOptionDefinitions(options));
      return 0;
    }
    return Serve(argc, argv, std::move(options));
  } catch (const kestrava_arm::host::UsageError& error) {
    std::cerr << "simulated_perception_service: " << error.what() << "\n";
    return 2;
  } catch (const std::exception& error) {
    std::cerr << "simulated_perception_service: " << error.what() << "\n";
    return 3;
  }
}
