// The node's run over the real middleware beside the bare exchange it is built on, against a
// perception service in another process. Four steps, each adding one part of a run to the one
// before it, are interleaved run by run, so that load on the machine falls on all of them alike:
//   bare       emit the request with yaml-cpp, send it, spin this thread until the answer is in,
//              parse the answer with yaml-cpp: the least any client of the service does;
//   checked    bare, after the availability check the node makes at each start;
//   handed_off checked, with the answer taken and parsed on an executor thread and handed to the
//              waiting thread, as the node's answer reaches the ticking thread;
//   node_run   the node's run as bt_host runs it under --repeat: the plugin's tree ticked to its
//              end by the host's own code, its duration the one the host reports.
// The difference between neighbouring steps is what that part of a run costs. Each step also
// marks the moments of its runs (the node's run through its tree's status changes), and the
// segments between them say where within a run the time goes. With --introspection the node's
// client publishes its service events (the other steps' clients never do): node_run then shows
// what they cost a run.
#include <algorithm>
#include <chrono>
#include <functional>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <fmt/format.h>
#include <yaml-cpp/yaml.h>

#include "behaviortree_cpp/loggers/abstract_logger.h"
#include "handed_off_client.hpp"
#include "kestrava_arm_behavior_tree/action/detect_toilet_info_codes_and_keys.hpp"
#include "kestrava_arm_behavior_tree/contract/perception_contract.hpp"
#include "kestrava_arm_host/command_line.hpp"
#include "kestrava_arm_host/introspection_option.hpp"
#include "kestrava_arm_host/service_discovery.hpp"
#include "kestrava_arm_perception_srvs/srv/arm_perception_common.hpp"
#include "node_factory.hpp"
#include "recorded_run.hpp"
#include "ros_session.hpp"
#include "run_summary.hpp"

namespace {

using kestrava_arm::bench::CheckAvailability;
using kestrava_arm::bench::Clock;
using kestrava_arm::bench::HandedOffClient;
using kestrava_arm::bench::MillisecondsSince;
using kestrava_arm::bench::ParseAnswer;
using kestrava_arm::bench::ServiceType;
using kestrava_arm::bench::Timeline;
using kestrava_arm::host::OptionDefinition;

constexpr std::chrono::seconds kAnswerLimit{5};
constexpr int kWarmUpRuns = 20;

struct BenchOptions {
  std::string plugin;
  std::string tree_file;
  std::string service_name = "/arm_perception_common";
  std::chrono::milliseconds tick_period{10};
  int runs = 2000;
  int rounds = 3;
  std::string only_step;  // empty: all steps
  kestrava_arm::bt::IntrospectionMode introspection = kestrava_arm::bt::IntrospectionMode::kOff;
  bool help = false;
};

std::vector<OptionDefinition> BenchOptionDefinitions(BenchOptions& options) {
  using kestrava_arm::host::ParseMilliseconds;
  using kestrava_arm::host::ParseWholeNumber;
  return {
      {"--plugin", "PATH", "the node's plugin library (required)",
       [&options](const std::string& value) { options.plugin = value; }},
      {"--tree", "FILE", "the tree a run ticks, e.g. examples/detect_toilet.xml (required)",
       [&options](const std::string& value) { options.tree_file = value; }},
      {"--service", "NAME", "the perception service (default: /arm_perception_common)",
       [&options](const std::string& value) { options.service_name = value; }},
      {"--tick-period-ms", "N", "the host's tick period (default: 10)",
       [&options](const std::string& value) {
         options.tick_period = ParseMilliseconds("--tick-period-ms", value);
       }},
      {"--runs", "N", "runs of each step per round (default: 2000)",
       [&options](const std::string& value) {
         options.runs = ParseWholeNumber("--runs", value, "runs", 1);
       }},
      {"--rounds", "N", "rounds (default: 3)",
       [&options](const std::string& value) {
         options.rounds = ParseWholeNumber("--rounds", value, "rounds", 1);
       }},
      {"--only", "STEP", "run this step alone, e.g. for counting its instructions",
       [&options](const std::string& value) { options.only_step = value; }},
      kestrava_arm::host::IntrospectionOption("the node_run step's client", options.introspection),
      {"--help", "", "show this help and exit",
       [&options](const std::string&) { options.help = true; }},
  };
}

// The document the node sends, emitted the way any yaml-cpp user would.
std::string EmitRequest(const kestrava_arm::bt::PerceptionRequest& fields, double time_out) {
  YAML::Node request;
  request["aruco_config_path"] = fields.aruco_config_path;
  request["time_out"] = time_out;
  request["camera_frame_id"] = "camera_06_color_optical_frame";
  YAML::Emitter emitter;
  emitter << request;
  return emitter.c_str();
}

// The durations in microseconds of each segment over the recorded runs, in order of appearance.
class Segments {
 public:
  void Add(const Timeline& timeline) {
    const auto& marks = timeline.marks();
    for (std::size_t i = 1; i < marks.size(); ++i) {
      DurationsOf(marks[i].first)
          .push_back(
              std::chrono::duration<double, std::micro>(marks[i].second - marks[i - 1].second)
                  .count());
    }
  }
  const std::vector<std::pair<std::string, std::vector<double>>>& all() const { return all_; }

 private:
  std::vector<double>& DurationsOf(const std::string& segment) {
    const auto found = std::find_if(
        all_.begin(), all_.end(), [&segment](const auto& entry) { return entry.first == segment; });
    return found != all_.end() ? found->second : all_.emplace_back(segment, 0).second;
  }
  std::vector<std::pair<std::string, std::vector<double>>> all_;
};

// The request of the example tree's run: no task settings, a limit of 2000 ms.
class Exchange {
 public:
  Exchange() : fields_(kestrava_arm::bt::WritePerceptionRequest({}, kTimeLimitMs)) {
    const std::string bare_request = EmitRequest(fields_, kTimeLimitMs);
    if (bare_request != fields_.request_yaml) {
      throw std::runtime_error("the bare request differs from the node's:\n" + bare_request + "\n" +
                               fields_.request_yaml);
    }
  }

  std::shared_ptr<ServiceType::Request> Request() const {
    auto request = std::make_shared<ServiceType::Request>();
    request->request_yaml = EmitRequest(fields_, kTimeLimitMs);
    return request;
  }

 private:
  static constexpr double kTimeLimitMs = 2000;
  kestrava_arm::bt::PerceptionRequest fields_;
};

// A client on a node of its own, spun by the thread that waits for the answer.
class BareClient {
 public:
  BareClient(const Exchange& exchange, const std::string& service_name)
      : exchange_(exchange),
        node_(std::make_shared<rclcpp::Node>("dds_round_trip_bare")),
        client_(node_->create_client<ServiceType>(service_name)) {
    executor_.add_node(node_);
  }

  double RoundTrip(bool check_availability, Timeline& timeline) {
    const Clock::time_point start = Clock::now();
    auto request = exchange_.Request();
    timeline.Mark("request emitted");
    if (check_availability) {
      CheckAvailability(*client_, timeline);
    }
    auto future = client_->async_send_request(std::move(request));
    timeline.Mark("request sent");
    if (executor_.spin_until_future_complete(future, kAnswerLimit) !=
        rclcpp::FutureReturnCode::SUCCESS) {
      throw std::runtime_error("no answer within 5 s");
    }
    timeline.Mark("answer taken");
    ParseAnswer(future.get()->response_yaml);
    timeline.Mark("answer parsed");
    return MillisecondsSince(start);
  }

 private:
  const Exchange& exchange_;
  rclcpp::Node::SharedPtr node_;
  rclcpp::Client<ServiceType>::SharedPtr client_;
  rclcpp::executors::SingleThreadedExecutor executor_;
};

// Marks each status but IDLE that a node of the tree takes on the timeline of the current run,
// after the node's name.
class StatusMarks final : public BT::StatusChangeLogger {
 public:
  explicit StatusMarks(const BT::Tree& tree) : BT::StatusChangeLogger(tree.rootNode()) {
    enableTransitionToIdle(false);
  }
  void MarkOn(Timeline& timeline) { timeline_ = &timeline; }
  void callback(BT::Duration /*timestamp*/, const BT::TreeNode& node, BT::NodeStatus /*prev*/,
                BT::NodeStatus status) override {
    timeline_->Mark(node.name() + " " + BT::toStr(status));
  }
  void flush() override {}

 private:
  Timeline* timeline_ = nullptr;
};

// The plugin's tree on the host's node, run by the host's code for one run of --repeat.
class HostedTree {
 public:
  HostedTree(const BenchOptions& options, const rclcpp::Node::SharedPtr& node)
      : factory_(kestrava_arm::host::MakeFactory({options.plugin})),
        blackboard_(BT::Blackboard::create()),
        schedule_{options.tick_period, std::chrono::milliseconds(30000)} {
    blackboard_->set(kestrava_arm::bt::kSharedNodeKey, node);
    blackboard_->set(kestrava_arm::bt::kServiceNameKey, options.service_name);
    if (options.introspection != kestrava_arm::bt::IntrospectionMode::kOff) {
      blackboard_->set(kestrava_arm::bt::kIntrospectionKey,
                       std::string(kestrava_arm::bt::IntrospectionModeName(options.introspection)));
    }
    tree_ = kestrava_arm::host::BuildTree(factory_, options.tree_file, blackboard_);
    code_entries_ = kestrava_arm::host::CodeEntriesOf(tree_);
    marks_ = std::make_unique<StatusMarks>(tree_);
  }

  double Run(Timeline& timeline) {
    marks_->MarkOn(timeline);
    kestrava_arm::host::TickOutcome outcome;
    const kestrava_arm::host::RunRecord run =
        kestrava_arm::host::RunOnceRecorded(tree_, schedule_, code_entries_, outcome);
    timeline.Mark("run recorded (host, untimed)");
    if (run.end != "SUCCESS") {
      throw std::runtime_error("a run of the tree ended in " + run.end);
    }
    return run.duration_ms;
  }

 private:
  BT::BehaviorTreeFactory factory_;
  BT::Blackboard::Ptr blackboard_;
  BT::Tree tree_;
  std::vector<kestrava_arm::host::CodeEntries> code_entries_;
  kestrava_arm::host::TickSchedule schedule_;
  std::unique_ptr<StatusMarks> marks_;  // after the tree, so that it goes first
};

struct Step {
  Step(std::string step_name, std::function<double(Timeline&)> step_run)
      : name(std::move(step_name)), run(std::move(step_run)) {}

  std::string name;
  std::function<double(Timeline&)> run;
  std::vector<double> durations_ms;  // of the current round
  std::vector<double> all_durations_ms;
  Timeline timeline;
  Segments segments;
};

std::vector<Step> SelectedSteps(std::vector<Step> steps, const std::string& only) {
  if (only.empty()) {
    return steps;
  }
  steps.erase(std::remove_if(steps.begin(), steps.end(),
                             [&only](const Step& step) { return step.name != only; }),
              steps.end());
  if (steps.empty()) {
    throw kestrava_arm::host::UsageError("no step named '" + only + "'");
  }
  return steps;
}

// Run i starts with step i modulo the number of steps, so that no step always follows another.
void RunInterleaved(std::vector<Step>& steps, int runs, bool recorded) {
  for (int run = 0; run < runs; ++run) {
    for (std::size_t k = 0; k < steps.size(); ++k) {
      Step& step = steps[(run + k) % steps.size()];
      step.timeline.Begin();
      const double duration_ms = step.run(step.timeline);
      if (recorded) {
        step.durations_ms.push_back(duration_ms);
        step.segments.Add(step.timeline);
      }
    }
  }
}

std::string FiguresRow(const std::string& round, const std::string& step,
                       const std::vector<double>& durations_ms,
                       const kestrava_arm::host::DurationFigures& bare) {
  const auto figures = kestrava_arm::host::FiguresOfDurations(durations_ms);
  return fmt::format("| {} | {} | {:.3f} | {:.3f} | {:.2f} | {:.2f} |\n", round, step,
                     figures.median, figures.p99, figures.median / bare.median,
                     figures.p99 / bare.p99);
}

// One row per step, its ratios to the first step's figures.
void PrintRows(const std::string& round, const std::vector<Step>& steps,
               std::vector<double> Step::*durations) {
  const auto bare = kestrava_arm::host::FiguresOfDurations(steps.front().*durations);
  for (const Step& step : steps) {
    std::cout << FiguresRow(round, step.name, step.*durations, bare);
  }
}

void RunRounds(std::vector<Step>& steps, const BenchOptions& options) {
  RunInterleaved(steps, kWarmUpRuns, false);
  std::cout << "| Round | Step | p50 (ms) | p99 (ms) | p50 / first | p99 / first |\n"
            << "|---|---|---|---|---|---|\n";
  for (int round = 1; round <= options.rounds; ++round) {
    RunInterleaved(steps, options.runs, true);
    PrintRows(std::to_string(round), steps, &Step::durations_ms);
    for (Step& step : steps) {
      step.all_durations_ms.insert(step.all_durations_ms.end(), step.durations_ms.begin(),
                                   step.durations_ms.end());
      step.durations_ms.clear();
    }
  }
  PrintRows("all", steps, &Step::all_durations_ms);
}

// Each step's segments over all rounds, each named after the moment that ends it.
void PrintSegments(const std::vector<Step>& steps) {
  std::cout << "\n| Step | Segment ending with | p50 (us) | p90 (us) |\n|---|---|---|---|\n";
  for (const Step& step : steps) {
    for (const auto& [segment, durations_us] : step.segments.all()) {
      const auto figures = kestrava_arm::host::FiguresOfDurations(durations_us);
      std::cout << fmt::format("| {} | {} | {:.1f} | {:.1f} |\n", step.name, segment,
                               figures.median, figures.p90);
    }
  }
}

int Measure(const BenchOptions& options) {
  const std::string middleware = rmw_get_implementation_identifier();
  kestrava_arm::host::RosSession ros("dds_round_trip", {});
  if (!kestrava_arm::host::WaitForPerceptionService(
          ros.node(), options.service_name, std::chrono::seconds(10), [] { return false; })) {
    throw std::runtime_error(options.service_name + " not discovered within 10 s");
  }
  const Exchange exchange;
  BareClient bare(exchange, options.service_name);
  HandedOffClient handed_off([&exchange] { return exchange.Request(); }, ros.node(),
                             options.service_name, kAnswerLimit);
  HostedTree hosted(options, ros.node());
  std::vector<Step> steps = SelectedSteps(
      {{"bare", [&bare](Timeline& timeline) { return bare.RoundTrip(false, timeline); }},
       {"checked", [&bare](Timeline& timeline) { return bare.RoundTrip(true, timeline); }},
       {"handed_off", [&handed_off](Timeline& timeline) { return handed_off.RoundTrip(timeline); }},
       {"node_run", [&hosted](Timeline& timeline) { return hosted.Run(timeline); }}},
      options.only_step);
  std::cout << fmt::format("{}: {} round(s) of {} runs per step, tick period {} ms\n\n", middleware,
                           options.rounds, options.runs, options.tick_period.count());
  RunRounds(steps, options);
  PrintSegments(steps);
  return 0;
}

BenchOptions ParseBenchOptions(int argc, const char* const argv[]) {
  BenchOptions options;
  kestrava_arm::host::ParseCommandLine(argc, argv, BenchOptionDefinitions(options));
  if (!options.help && (options.plugin.empty() || options.tree_file.empty())) {
    throw kestrava_arm::host::UsageError("--plugin PATH and --tree FILE are required");
  }
  return options;
}

}  // namespace

int main(int argc, char* argv[]) {
  try {
    BenchOptions options = ParseBenchOptions(argc, argv);
    if (options.help) {
      std::cout << "Usage: dds_round_trip --plugin PATH --tree FILE [options]\n"
                << kestrava_arm::host::DescribeOptions(BenchOptionDefinitions(options));
      return 0;
    }
    return Measure(options);
  } catch (const kestrava_arm::host::UsageError& error) {
    std::cerr << "dds_round_trip: " << error.what() << "\n";
    return 2;
  } catch (const std::exception& error) {
    std::cerr << "dds_round_trip: " << error.what() << "\n";
    return 1;
  }
}
