#include "host_run.hpp"

#include <unistd.h>

#include <iostream>
#include <memory>
#include <optional>
#include <thread>

#include <fmt/ranges.h>

#include "behaviortree_cpp/xml_parsing.h"
#include "blackboard_report.hpp"
#include "exit_codes.hpp"
#include "host_log.hpp"
#include "kestrava_arm_behavior_tree/action/detect_toilet_info_codes_and_keys.hpp"
#include "kestrava_arm_host/command_line.hpp"
#include "kestrava_arm_host/report_file.hpp"
#include "kestrava_arm_host/service_discovery.hpp"
#include "kestrava_arm_host/simulated_perception_service.hpp"
#include "node_factory.hpp"
#include "recorded_run.hpp"
#include "ros_session.hpp"
#include "run_summary.hpp"
#include "stop_signal.hpp"
#include "tree_observers.hpp"
#include "tree_runner.hpp"

namespace kestrava_arm::host {
namespace {

std::unique_ptr<SimulatedPerceptionService> OfferServiceIfAsked(const rclcpp::Node::SharedPtr& node,
                                                                const HostOptions& options) {
  if (!options.response_file) {
    if (!options.no_service) {
      HostLog().info("no simulated service: expecting {} from another process",
                     options.service_name);
    }
    return nullptr;
  }
  return std::make_unique<SimulatedPerceptionService>(
      node, SimulatedServiceConfig{options.service_name, ReadTextFile(*options.response_file),
                                   options.reply_delay, options.introspection});
}

void AwaitPerceptionService(const rclcpp::Node::SharedPtr& node, const HostOptions& options) {
  const std::chrono::milliseconds limit = ServiceWaitLimit(options);
  if (limit.count() == 0) {
    return;
  }
  const auto found_after =
      WaitForPerceptionService(node, options.service_name, limit, StopSignalReceived);
  if (found_after) {
    HostLog().info("{} discovered after {} ms", options.service_name, found_after->count());
  } else {
    HostLog().warn("{} not discovered within {} ms; ticking anyway", options.service_name,
                   limit.count());
  }
}

BT::Blackboard::Ptr MakeBlackboard(const rclcpp::Node::SharedPtr& node,
                                   const HostOptions& options) {
  BT::Blackboard::Ptr blackboard = BT::Blackboard::create();
  blackboard->set(bt::kSharedNodeKey, node);
  blackboard->set(bt::kServiceNameKey, options.service_name);
  // Absent rather than "off", so that a host without the option shows the blackboard it always has.
  if (options.introspection != bt::IntrospectionMode::kOff) {
    blackboard->set(bt::kIntrospectionKey,
                    std::string(bt::IntrospectionModeName(options.introspection)));
  }
  for (const auto& [key, value] : options.entries) {
    blackboard->set(key, value);
  }
  return blackboard;
}

std::string DescribeEnd(const TickOutcome& outcome, const TickSchedule& schedule) {
  const std::string ticks = " after " + std::to_string(outcome.ticks) + " tick(s)";
  switch (outcome.end) {
    case TickOutcome::End::kCompleted:
      return BT::toStr(outcome.status, false) + ticks;
    case TickOutcome::End::kDeadlinePassed:
      return "RUNNING" + ticks + ": the deadline of " + std::to_string(schedule.deadline.count()) +
             " ms passed, tree halted";
    case TickOutcome::End::kInterrupted:
      return "interrupted" + ticks + ", tree halted";
    case TickOutcome::End::kError:
      return "error" + ticks + ": " + outcome.error + "; tree halted";
  }
  return {};
}

int ExitCodeFor(const TickOutcome& outcome) {
  switch (outcome.end) {
    case TickOutcome::End::kCompleted:
      return outcome.status == BT::NodeStatus::SUCCESS ? kExitSuccess : kExitTreeFailed;
    case TickOutcome::End::kDeadlinePassed:
      return kExitDeadline;
    case TickOutcome::End::kInterrupted:
      return kExitInterrupted;
    case TickOutcome::End::kError:
      return kExitTickError;
  }
  return kExitTickError;
}

void PrintTickError(const TickOutcome& outcome, const TickSchedule& schedule) {
  if (outcome.end == TickOutcome::End::kError) {
    std::cerr << "bt_host: " << DescribeEnd(outcome, schedule) << std::endl;
  }
}

void PrintReport(const TickOutcome& outcome, const TickSchedule& schedule,
                 const BT::Blackboard& blackboard) {
  PrintTickError(outcome, schedule);
  std::cout << "result: " << DescribeEnd(outcome, schedule) << "\n"
            << "blackboard:\n"
            << DescribeBlackboard(blackboard) << std::flush;
}

int SingleRun(BT::Tree& tree, const TickSchedule& schedule, const BT::Blackboard& blackboard,
              RosSession& ros) {
  const TickOutcome outcome = TickUntilDone(tree, schedule, StopSignalReceived);
  // No response callback may run into the nodes once they start going away.
  ros.Stop();
  PrintReport(outcome, schedule, blackboard);
  return ExitCodeFor(outcome);
}

// Run k of N on one line that each run rewrites; only on a terminal, so pipes and logs get none.
class ProgressLine {
 public:
  explicit ProgressLine(int planned) : planned_(planned), shown_(isatty(STDERR_FILENO) == 1) {}

  void Show(const std::vector<RunRecord>& runs) const {
    if (shown_) {
      const int succeeded = SucceededRuns(runs);
      std::cerr << fmt::format("\rrun {} of {}: {} succeeded, {} failed", runs.size(), planned_,
                               succeeded, static_cast<int>(runs.size()) - succeeded)
                << std::flush;
    }
  }

  void Finish() const {
    if (shown_) {
      std::cerr << std::endl;
    }
  }

 private:
  int planned_;
  bool shown_;
};

void PauseUnlessStopped(std::chrono::milliseconds pause) {
  const auto until = std::chrono::steady_clock::now() + pause;
  while (!StopSignalReceived() && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
        kStopPollInterval, until - std::chrono::steady_clock::now()));
  }
}

// Which nodes' codes the runs report; none when no node of the tree has code ports.
std::vector<CodeEntries> ReportedCodeEntries(const BT::Tree& tree) {
  std::vector<CodeEntries> code_entries = CodeEntriesOf(tree);
  std::string described;
  for (const CodeEntries& entries : code_entries) {
    described += fmt::format("{}{} ({{{}}}, {{{}}})", described.empty() ? "" : ", ", entries.node,
                             entries.error_code, entries.status_code);
  }
  if (code_entries.empty()) {
    HostLog().warn("no node of the tree has an error_code or status_code port: runs show no codes");
  } else {
    HostLog().info("each run shows the codes of the first of these nodes to write any: {}",
                   described);
  }
  return code_entries;
}

// Ticks the same tree to its end run after run, as a long-lived host does. The exit status is
// that of an interruption or a node's exception, which end the runs, else that of a deadline
// passed in any run, else that of a failed run. A stop during a pause ends the runs at once.
int RepeatedRuns(BT::Tree& tree, const TickSchedule& schedule, RosSession& ros,
                 const HostOptions& options, std::optional<ReportFile>& summary_file) {
  const int planned = options.repeat.value_or(1);
  const std::vector<CodeEntries> code_entries = ReportedCodeEntries(tree);
  const ProgressLine progress(planned);
  std::vector<RunRecord> runs;
  int exit_code = kExitSuccess;
  TickOutcome outcome;
  while (static_cast<int>(runs.size()) < planned) {
    if (!runs.empty() && options.pause.count() > 0) {
      HostLog().info("pausing {} ms before run {} of {}", options.pause.count(), runs.size() + 1,
                     planned);
      PauseUnlessStopped(options.pause);
    }
    if (StopSignalReceived()) {
      break;
    }
    runs.push_back(RunOnceRecorded(tree, schedule, code_entries, outcome));
    progress.Show(runs);
    const int run_exit_code = ExitCodeFor(outcome);
    if (run_exit_code == kExitInterrupted || run_exit_code == kExitTickError) {
      exit_code = run_exit_code;
      break;
    }
    if (exit_code != kExitDeadline && run_exit_code != kExitSuccess) {
      exit_code = run_exit_code;
    }
  }
  progress.Finish();
  ros.Stop();
  PrintTickError(outcome, schedule);
  std::cout << SummaryText(runs, planned) << std::flush;
  if (summary_file) {
    summary_file->Write(SummaryJson(runs, planned));
  }
  return StopSignalReceived() ? kExitInterrupted : exit_code;
}

// The summary file, opened before anything runs: a path that cannot be written ends the host at
// once instead of after all the runs.
std::optional<ReportFile> OpenSummaryFile(const HostOptions& options) {
  if (!options.summary_json) {
    return std::nullopt;
  }
  return std::optional<ReportFile>(std::in_place, *options.summary_json);
}

}  // namespace

int RunTree(const HostOptions& options) {
  std::optional<ReportFile> summary_file = OpenSummaryFile(options);
  InstallStopSignalHandlers();
  RosSession ros("bt_host", options.ros_args);
  BT::BehaviorTreeFactory factory = MakeFactory(options.plugins);
  HostLog().info("loaded plugin(s): {}", fmt::join(options.plugins, ", "));
  std::unique_ptr<SimulatedPerceptionService> service = OfferServiceIfAsked(ros.node(), options);
  const BT::Blackboard::Ptr blackboard = MakeBlackboard(ros.node(), options);
  BT::Tree tree = BuildTree(factory, options.tree_file, blackboard);
  // Declared after the tree, so that they go first: the recording is complete when they have.
  const TreeObservers observers(tree, options);
  AwaitPerceptionService(ros.node(), options);

  const TickSchedule schedule{options.tick_period, options.deadline};
  HostLog().info("ticking {} every {} ms", options.tree_file, schedule.period.count());
  const bool summarise = options.repeat || options.summary_json;
  return summarise ? RepeatedRuns(tree, schedule, ros, options, summary_file)
                   : SingleRun(tree, schedule, *blackboard, ros);
}

int PrintModel(const HostOptions& options) {
  // The palette of the plugins alone: the host's own nodes exist only in this host.
  BT::BehaviorTreeFactory factory;
  LoadPlugins(factory, options.plugins);
  std::cout << BT::writeTreeNodesModelXML(factory) << std::flush;
  return kExitSuccess;
}

}  // namespace kestrava_arm::host
