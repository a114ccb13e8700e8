// my_bt_host PLUGIN TREE: runs the tree once against the perception service.
#include <behaviortree_cpp/bt_factory.h>
#include <kestrava_arm_behavior_tree/action/detect_toilet_info_codes_and_keys.hpp>
#include <kestrava_arm_perception_srvs/srv/arm_perception_common.hpp>
#include <rclcpp/rclcpp.hpp>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <string>
#include <thread>

int main(int argc, char** argv) {
  namespace arm = kestrava_arm::bt;
  if (argc < 3) {
    std::cerr << "usage: my_bt_host PLUGIN TREE\n";
    return 2;
  }
  rclcpp::init(argc, argv);
  auto node = std::make_shared<rclcpp::Node>("my_bt_host");
  const std::string service_name = "/arm_perception_common";

  BT::BehaviorTreeFactory factory;
  factory.registerFromPlugin(argv[1]);
  // The tree's root blackboard: the node reads these entries from it even inside a SubTree.
  auto blackboard = BT::Blackboard::create();
  blackboard->set(arm::kSharedNodeKey, node);
  blackboard->set(arm::kServiceNameKey, service_name);
  blackboard->set(arm::kTaskInfoKey, std::string("task_uid:42;task_name:bowl"));
  BT::Tree tree = factory.createTreeFromFile(std::filesystem::absolute(argv[2]), blackboard);

  using kestrava_arm_perception_srvs::srv::ArmPerceptionCommon;
  node->create_client<ArmPerceptionCommon>(service_name)->wait_for_service(std::chrono::seconds(5));

  rclcpp::executors::SingleThreadedExecutor executor;
  executor.add_node(node);
  std::thread spinner([&executor] { executor.spin(); });
  // tickOnce would poll the wake-up signal with a zero timeout after a RUNNING tick, which Linux
  // sleeps out for 50-70 us; tree.sleep returns at once if the node woke the tree meanwhile.
  BT::NodeStatus status = tree.tickExactlyOnce();
  while (status == BT::NodeStatus::RUNNING && rclcpp::ok()) {
    tree.sleep(std::chrono::milliseconds(50));
    status = tree.tickExactlyOnce();
  }
  tree.haltTree();
  // A tree writes the node's outputs where its ports say; the example trees, on this blackboard.
  int status_code = 0;
  const bool ended = blackboard->get("status_code", status_code);
  std::cout << "result: " << BT::toStr(status) << ", status_code "
            << (ended ? std::to_string(status_code) : "none") << std::endl;
  rclcpp::shutdown();  // ends executor.spin() before the tree and its nodes go away
  spinner.join();
  return status == BT::NodeStatus::SUCCESS && status_code == arm::kStatusSucceeded ? 0 : 1;
}
