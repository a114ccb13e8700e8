#include "host_run.hpp"

#include <iostream>
#include <memory>

#include <fmt/ranges.h>

#include "behaviortree_cpp/xml_parsing.h"
#include "blackboard_report.hpp"
#include "exit_codes.hpp"
#include "host_log.hpp"
#include "kestrava_arm_behavior_tree/action/detect_toilet_info_codes_and_keys.hpp"
#include "kestrava_arm_host/command_line.hpp"
#include "kestrava_arm_host/simulated_perception_service.hpp"
#include "node_factory.hpp"
#include "ros_session.hpp"
#include "service_discovery.hpp"
#include "stop_signal.hpp"
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
                                   options.reply_delay});
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

void PrintReport(const TickOutcome& outcome, const TickSchedule& schedule,
                 const BT::Blackboard& blackboard) {
  if (outcome.end == TickOutcome::End::kError) {
    std::cerr << "bt_host: " << DescribeEnd(outcome, schedule) << std::endl;
  }
  std::cout << "result: " << DescribeEnd(outcome, schedule) << "\n"
            << "blackboard:\n"
            << DescribeBlackboard(blackboard) << std::flush;
}

}  // namespace

int RunTree(const HostOptions& options) {
  InstallStopSignalHandlers();
  RosSession ros("bt_host", options.ros_args);
  BT::BehaviorTreeFactory factory = MakeFactory(options.plugins);
  HostLog().info("loaded plugin(s): {}", fmt::join(options.plugins, ", "));
  std::unique_ptr<SimulatedPerceptionService> service = OfferServiceIfAsked(ros.node(), options);
  const BT::Blackboard::Ptr blackboard = MakeBlackboard(ros.node(), options);
  BT::Tree tree = BuildTree(factory, options.tree_file, blackboard);
  AwaitPerceptionService(ros.node(), options);

  const TickSchedule schedule{options.tick_period, options.deadline};
  HostLog().info("ticking {} every {} ms", options.tree_file, schedule.period.count());
  const TickOutcome outcome = TickUntilDone(tree, schedule, StopSignalReceived);
  // No response callback may run into the nodes once they start going away.
  ros.Stop();
  service.reset();
  PrintReport(outcome, schedule, *blackboard);
  return ExitCodeFor(outcome);
}

int PrintModel(const HostOptions& options) {
  // The palette of the plugins alone: the host's own nodes exist only in this host.
  BT::BehaviorTreeFactory factory;
  LoadPlugins(factory, options.plugins);
  std::cout << BT::writeTreeNodesModelXML(factory) << std::flush;
  return kExitSuccess;
}

}  // namespace kestrava_arm::host
