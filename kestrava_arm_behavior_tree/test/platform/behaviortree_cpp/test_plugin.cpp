// Node library loaded by the plugin tests: doubles its input into its output.
#include "behaviortree_cpp/bt_factory.h"

namespace {

class Doubler : public BT::SyncActionNode {
 public:
  Doubler(const std::string& name, const BT::NodeConfig& config) : SyncActionNode(name, config) {}

  static BT::PortsList providedPorts() {
    return {BT::InputPort<double>("in"), BT::OutputPort<double>("out")};
  }

  BT::NodeStatus tick() override {
    setOutput("out", getInput<double>("in").value() * 2);
    return BT::NodeStatus::SUCCESS;
  }
};

}  // namespace

BT_REGISTER_NODES(factory) {
  factory.registerNodeType<Doubler>("Doubler");
}
