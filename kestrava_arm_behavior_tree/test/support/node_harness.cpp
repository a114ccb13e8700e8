#include "node_harness.hpp"

#include <iostream>
#include <utility>

#include "kestrava_arm_behavior_tree/action/detect_toilet_info_codes_and_keys.hpp"
#include "kestrava_arm_testing/ros_domain.hpp"

namespace kestrava_arm::bt::testing {

namespace {

constexpr std::chrono::seconds kTickDeadline{30};
constexpr std::chrono::milliseconds kCancelRetryPeriod{1};
constexpr std::chrono::seconds kSpinEndLimit{10};

rclcpp::Node::SharedPtr MakeNode(const std::string& name) {
  if (!rclcpp::ok()) {
    IsolateRosDomain();
    rclcpp::init(0, nullptr);
  }
  return std::make_shared<rclcpp::Node>(name);
}

}  // namespace

NodeHarness::NodeHarness()
    : shared_node_(MakeNode("bt_host")),
      service_node_(MakeNode("perception")),
      service_(service_node_, kServiceName),
      blackboard_(CreateHostBlackboard()) {
  executor_.add_node(shared_node_);
  executor_.add_node(service_node_);
  spinning_ = std::async(std::launch::async, [this] { executor_.spin(); });
  factory_.registerFromPlugin(KESTRAVA_PLUGIN_PATH);
}

NodeHarness::~NodeHarness() {
  // A cancel that comes before the spin has started is lost, so repeat it until the spin ends.
  const auto until = std::chrono::steady_clock::now() + kSpinEndLimit;
  do {
    executor_.cancel();
  } while (spinning_.wait_for(kCancelRetryPeriod) != std::future_status::ready &&
           std::chrono::steady_clock::now() < until);
  if (spinning_.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
    // Shutting ROS 2 down ends any spin; the tests of this process then fail for want of it.
    std::cerr << "NodeHarness: the executor still spins " << kSpinEndLimit.count()
              << " s after the first cancel; shutting ROS 2 down" << std::endl;
    rclcpp::shutdown();
  }
}

BT::Blackboard::Ptr NodeHarness::CreateHostBlackboard() const {
  auto blackboard = BT::Blackboard::create();
  blackboard->set(kSharedNodeKey, shared_node_);
  blackboard->set(kServiceNameKey, std::string(kServiceName));
  return blackboard;
}

BT::Tree NodeHarness::CreateTree(const std::string& timeout_duration,
                                 BT::Blackboard::Ptr blackboard) {
  return CreateTreeFromText(R"(<root BTCPP_format="4" main_tree_to_execute="Main">
  <BehaviorTree ID="Main">
    <DetectToiletInfo timeout_duration=")" +
                                timeout_duration +
                                R"(" transfor_matrix="{transfor_matrix}"
        fix_trajectory="{fix_trajectory}" error_code="{error_code}" status_code="{status_code}"/>
  </BehaviorTree>
</root>)",
                            std::move(blackboard));
}

BT::Tree NodeHarness::CreateTreeFromText(const std::string& xml, BT::Blackboard::Ptr blackboard) {
  return factory_.createTreeFromText(xml, blackboard ? std::move(blackboard) : blackboard_);
}

BT::NodeStatus TickUntilDone(BT::Tree& tree, std::chrono::microseconds period) {
  const auto deadline = std::chrono::steady_clock::now() + kTickDeadline;
  BT::NodeStatus status = tree.tickOnce();
  while (status == BT::NodeStatus::RUNNING && std::chrono::steady_clock::now() < deadline) {
    tree.sleep(period);
    status = tree.tickOnce();
  }
  return status;
}

void ClearOutputs(BT::Blackboard& blackboard) {
  blackboard.set("error_code", kNotWritten);
  blackboard.set("status_code", kNotWritten);
  blackboard.set("transfor_matrix", std::vector<double>{});
  blackboard.set("fix_trajectory", std::string());
}

RunOutcome PublishedOutcome(BT::NodeStatus status, const BT::Blackboard& blackboard) {
  RunOutcome published;
  published.succeeded = status == BT::NodeStatus::SUCCESS;
  published.error_code = blackboard.get<int>("error_code");
  published.status_code = blackboard.get<int>("status_code");
  published.transfor_matrix = blackboard.get<std::vector<double>>("transfor_matrix");
  return published;
}

std::string SuccessAnswer() {
  return "success: true\n"
         "arm_base_end:\n"
         "  translation: [0.5, -0.25, 0.125]\n"
         "  rotation: [0.0, 0.0, 0.7071, 0.7071]\n"
         "  description: arm base\n"
         "camera_end:\n"
         "  translation: [1.5, 2.5, 3.5]\n"
         "  rotation: [1.0, 0.0, 0.0, 0.0]\n"
         "  description: camera\n";
}

}  // namespace kestrava_arm::bt::testing
