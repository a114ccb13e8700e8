#include "host_options.hpp"

#include <charconv>

#include "kestrava_arm_behavior_tree/action/detect_toilet_info_codes_and_keys.hpp"
#include "kestrava_arm_host/command_line.hpp"
#include "kestrava_arm_host/introspection_option.hpp"
#include "tree_observers.hpp"

namespace kestrava_arm::host {
namespace {

// Over Fast DDS a process that has just started took up to 2.9 s to discover a running service,
// and up to 4.0 s with SROS2, whose authentication handshake comes first.
constexpr std::chrono::milliseconds kDiscoveryWait{10000};

std::pair<std::string, std::string> ParseEntry(const std::string& text) {
  const std::size_t equals = text.find('=');
  if (equals == std::string::npos || equals == 0) {
    throw UsageError("--set needs KEY=VALUE, not '" + text + "'");
  }
  std::string key = text.substr(0, equals);
  if (key == bt::kSharedNodeKey || key == bt::kServiceNameKey) {
    throw UsageError("--set cannot write '" + key + "': the host sets it (use --service for " +
                     bt::kServiceNameKey + ")");
  }
  // The option checks at start that this build can publish service events.
  if (key == bt::kIntrospectionKey) {
    throw UsageError("--set cannot write '" + key + "': use --introspection");
  }
  return {std::move(key), text.substr(equals + 1)};
}

// Groot2 uses the port given and the one after it.
unsigned ParseGroot2Port(const std::string& text) {
  constexpr unsigned kHighestPort = 65534;
  unsigned port = 0;
  const char* const end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, port);
  if (text.empty() || error != std::errc() || stop != end || port == 0 || port > kHighestPort) {
    throw UsageError("--groot2-port needs a TCP port from 1 to " + std::to_string(kHighestPort) +
                     " (Groot2 also uses the next one), not '" + text + "'");
  }
  return port;
}

// Groot2 replays only files of this extension, and BehaviorTree.CPP writes no other.
std::string ParseRecordFile(const std::string& text) {
  const std::string extension = ".btlog";
  if (text.size() <= extension.size() ||
      text.compare(text.size() - extension.size(), extension.size(), extension) != 0) {
    throw UsageError("--record needs a file name ending in " + extension + ", not '" + text + "'");
  }
  return text;
}

// What each Groot2 option needs of BehaviorTree.CPP, for the help and for the refusal.
constexpr const char* kPublisherNeeds = "its Groot2 publisher (ZeroMQ)";
constexpr const char* kRecorderNeeds = "its file logger FileLogger2";

std::string UnlessBuiltWith(bool available, const char* needs) {
  return available
             ? ""
             : std::string(" Not in this build: it needs BehaviorTree.CPP with ") + needs + ".";
}

std::vector<OptionDefinition> HostOptionDefinitions(HostOptions& options) {
  const auto milliseconds = [](std::chrono::milliseconds& target, const char* option) {
    return
        [&target, option](const std::string& value) { target = ParseMilliseconds(option, value); };
  };
  const auto flag = [](bool& target) { return [&target](const std::string&) { target = true; }; };
  return {
      {"--plugin", "PATH",
       "load a BehaviorTree.CPP plugin (shared library) into the factory; repeatable",
       [&options](const std::string& value) { options.plugins.push_back(value); }},
      {"--tree", "FILE", "the tree to run (BehaviorTree.CPP v4 XML); required unless --print-model",
       [&options](const std::string& value) { options.tree_file = value; }},
      {"--service", "NAME",
       "perception service name, put on the blackboard as \"arm_perception_service\" "
       "(default: /arm_perception_common)",
       [&options](const std::string& value) { options.service_name = value; }},
      IntrospectionOption(
          std::string("the DetectToiletInfo nodes' client (the blackboard entry \"") +
              bt::kIntrospectionKey + "\"), and with --simulate the simulated service too,",
          options.introspection),
      {"--set", "KEY=VALUE",
       "put a text entry on the blackboard, e.g. task_info=task_uid:42;task_name:bowl, "
       "toilet_data_path=..., camera_frame_id=...; repeatable",
       [&options](const std::string& value) { options.entries.push_back(ParseEntry(value)); }},
      {"--tick-period-ms", "N", "tick the tree every N milliseconds (default: 50)",
       milliseconds(options.tick_period, "--tick-period-ms")},
      {"--deadline-ms", "N",
       "halt the tree if it still runs after N milliseconds; 0 waits forever (default: 30000)",
       milliseconds(options.deadline, "--deadline-ms")},
      {"--simulate", "RESPONSE.yaml",
       "offer a simulated perception service in this process that answers every request with "
       "the YAML document in RESPONSE.yaml",
       [&options](const std::string& value) { options.response_file = value; }},
      {"--reply-delay-ms", "N", "let the simulated service answer N milliseconds late (default: 0)",
       milliseconds(options.reply_delay, "--reply-delay-ms")},
      {"--wait-for-service-ms", "N",
       "before the first tick, wait up to N milliseconds for the perception service to be "
       "discovered, then tick whether or not it was (default: " +
           std::to_string(kDiscoveryWait.count()) +
           " for a service of another process, 0 with --simulate or --no-service)",
       [&options](const std::string& value) {
         options.service_wait = ParseMilliseconds("--wait-for-service-ms", value);
       }},
      {"--no-service", "",
       "offer no perception service at all (without --simulate the host otherwise expects one "
       "from another process)",
       flag(options.no_service)},
      {"--repeat", "N",
       "tick the tree to its end N times in this process, as a long-lived host does (same "
       "tree, node and client), then print a summary: runs per outcome, run times, memory; "
       "each run shows the codes of the first node to write any to the entries its output ports "
       "error_code and status_code name",
       [&options](const std::string& value) {
         options.repeat = ParseWholeNumber("--repeat", value, "runs", 1);
       }},
      {"--pause-ms", "M",
       "with --repeat: wait M milliseconds between runs (default: 0); a stop signal during the "
       "pause ends the host without another run",
       milliseconds(options.pause, "--pause-ms")},
      {"--summary-json", "FILE",
       "also write the summary, with every run, to FILE as JSON; FILE is opened before the "
       "first run",
       [&options](const std::string& value) { options.summary_json = value; }},
      {"--groot2-port", "N",
       "publish the running tree to Groot2 on TCP ports N and N+1 (BehaviorTree.CPP's "
       "Groot2Publisher); the host waits for no client. The ports listen on every network "
       "interface, and whoever reaches them sees the tree and its blackboard, can set "
       "breakpoints and change what nodes return: use it on development machines and trusted "
       "networks only." +
           UnlessBuiltWith(CanPublishToGroot2(), kPublisherNeeds),
       [&options](const std::string& value) { options.groot2_port = ParseGroot2Port(value); }},
      {"--record", "FILE.btlog",
       "record every status change of the tree's nodes to FILE.btlog (BehaviorTree.CPP's "
       "FileLogger2), which Groot2 replays; complete when the host ends, whatever ends it." +
           UnlessBuiltWith(CanRecordForGroot2(), kRecorderNeeds),
       [&options](const std::string& value) { options.record_file = ParseRecordFile(value); }},
      {"--print-model", "",
       "write the model of every node the plugins register (the palette Groot2 reads) and exit; "
       "needs --plugin",
       flag(options.print_model)},
      {"--help", "", "show this help and exit", flag(options.help)},
  };
}

// Refused at once, so that nobody believes a tree is watched or recorded when it is not.
void CheckThisBuildCanObserve(const HostOptions& options) {
  const auto refusal = [](const std::string& option, const std::string& needs) {
    return UsageError(option + " needs bt_host built against a BehaviorTree.CPP 4 with " + needs +
                      " (as a ROS 2 workspace builds it); this one was built against " +
                      BehaviorTreeBuild());
  };
  if (options.groot2_port && !CanPublishToGroot2()) {
    throw refusal("--groot2-port", kPublisherNeeds);
  }
  if (options.record_file && !CanRecordForGroot2()) {
    throw refusal("--record", kRecorderNeeds);
  }
}

void CheckCombination(const HostOptions& options) {
  if (options.help) {
    return;
  }
  if (options.print_model) {
    if (options.plugins.empty()) {
      throw UsageError("--print-model needs a plugin to describe (--plugin PATH)");
    }
    return;
  }
  if (options.tree_file.empty()) {
    throw UsageError("--tree FILE is required");
  }
  if (options.no_service && options.response_file) {
    throw UsageError("--no-service and --simulate exclude each other");
  }
  if (options.reply_delay.count() > 0 && !options.response_file) {
    throw UsageError("--reply-delay-ms needs --simulate");
  }
  if (options.pause.count() > 0 && !options.repeat) {
    throw UsageError("--pause-ms needs --repeat");
  }
  if (options.tick_period.count() == 0) {
    throw UsageError("--tick-period-ms must be at least 1");
  }
  CheckThisBuildCanObserve(options);
}

}  // namespace

HostOptions ParseHostOptions(int argc, const char* const argv[]) {
  HostOptions options;
  options.ros_args = ParseCommandLine(argc, argv, HostOptionDefinitions(options));
  CheckCombination(options);
  return options;
}

std::string HostUsage() {
  HostOptions defaults;
  return "Usage: bt_host --plugin PATH... --tree FILE [options] [--ros-args ...]\n"
         "\n"
         "Loads BehaviorTree.CPP plugins, shares one ROS 2 node with them through the blackboard\n"
         "entry \"kestrava_arm_bt_shared_node\" (spun by an executor on a thread of its own),\n"
         "builds the tree and ticks it until it ends, then prints its status and the blackboard.\n"
         "\n"
         "Options:\n" +
         DescribeOptions(HostOptionDefinitions(defaults)) +
         "  --ros-args ...\n"
         "      everything from here on goes to rclcpp (remappings, parameters, log levels)\n"
         "\n"
         "Exit status:\n"
         "  0  the tree ended with SUCCESS, with --repeat every run did (also after --help and\n"
         "     --print-model)\n"
         "  1  the tree ended with FAILURE, with --repeat at least one run did\n"
         "  2  the command line is wrong\n"
         "  3  setup failed: plugin, tree file, response file, ROS 2, Groot2 port, recording or\n"
         "     summary file\n"
         "  4  a node raised an exception while the tree was ticked\n"
         "  5  the tree still ran at the deadline and was halted (with --repeat: in any run)\n"
         "  6  interrupted by SIGINT or SIGTERM; the tree was halted\n";
}

std::chrono::milliseconds ServiceWaitLimit(const HostOptions& options) {
  const bool from_another_process = !options.response_file && !options.no_service;
  return options.service_wait.value_or(from_another_process ? kDiscoveryWait
                                                            : std::chrono::milliseconds(0));
}

}  // namespace kestrava_arm::host
