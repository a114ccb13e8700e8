// The StatefulActionNode state machine, halting, and how the control nodes drive it.
#include <gtest/gtest.h>

#include <deque>

#include "behaviortree_cpp/bt_factory.h"
#include "test_support.h"

namespace {

using BT::NodeStatus;
using bt_test::thrownText;
using bt_test::treeXml;

// What a scripted action returns from its hooks, and what the tree made it do.
struct Script {
  std::deque<NodeStatus> results;
  int starts = 0;
  int runs = 0;
  int halts = 0;
  bool halt_requested = false;
};

class ScriptedAction : public BT::StatefulActionNode {
 public:
  ScriptedAction(const std::string& name, const BT::NodeConfig& config, Script* script)
      : StatefulActionNode(name, config), script_(script) {}

  static BT::PortsList providedPorts() { return {}; }

  NodeStatus onStart() override {
    ++script_->starts;
    return next();
  }
  NodeStatus onRunning() override {
    ++script_->runs;
    return next();
  }
  void onHalted() override { ++script_->halts; }

  ~ScriptedAction() override { script_->halt_requested = isHaltRequested(); }

 private:
  NodeStatus next() {
    const NodeStatus result = script_->results.front();
    script_->results.pop_front();
    return result;
  }

  Script* script_;
};

struct TickCase {
  const char* name;
  std::deque<NodeStatus> results;
  std::vector<std::string> tick_outcomes;
  int starts;
  int runs;
};

std::string tickText(BT::Tree& tree) {
  std::string status;
  const auto thrown = thrownText([&] { status = BT::toStr(tree.tickOnce()); });
  return thrown == "none" ? status : thrown;
}

TEST(BtStatefulAction, TicksFollowTheStateMachine) {
  const std::string idle_start =
      "NodeExecutionError: Exception in node 'Scripted::2' [Scripted]: "
      "StatefulActionNode::onStart() must not return IDLE";
  const std::vector<TickCase> cases = {
      {"runs then succeeds",
       {NodeStatus::RUNNING, NodeStatus::RUNNING, NodeStatus::SUCCESS},
       {"RUNNING", "RUNNING", "SUCCESS"},
       1,
       2},
      {"completes at start", {NodeStatus::FAILURE}, {"FAILURE"}, 1, 0},
      {"restarts after completion",
       {NodeStatus::SUCCESS, NodeStatus::RUNNING},
       {"SUCCESS", "RUNNING"},
       2,
       0},
      {"idle from onStart", {NodeStatus::IDLE}, {idle_start}, 1, 0},
      {"idle from onRunning",
       {NodeStatus::RUNNING, NodeStatus::IDLE},
       {"RUNNING",
        "NodeExecutionError: Exception in node 'Scripted::2' [Scripted]: "
        "StatefulActionNode::onRunning() must not return IDLE"},
       1,
       1},
  };
  for (const auto& c : cases) {
    Script script{c.results};
    BT::BehaviorTreeFactory factory;
    factory.registerNodeType<ScriptedAction>("Scripted", &script);
    auto tree = factory.createTreeFromText(treeXml("<Scripted/>"));
    std::vector<std::string> outcomes;
    for (size_t i = 0; i < c.tick_outcomes.size(); ++i) {
      outcomes.push_back(tickText(tree));
    }
    EXPECT_EQ(outcomes, c.tick_outcomes) << c.name;
    EXPECT_EQ(script.starts, c.starts) << c.name;
    EXPECT_EQ(script.runs, c.runs) << c.name;
  }
}

TEST(BtStatefulAction, OnHaltedRunsOnlyForARunningNodeButTheFlagSticks) {
  Script running{{NodeStatus::RUNNING}};
  Script idle{};
  {
    BT::BehaviorTreeFactory factory;
    factory.registerNodeType<ScriptedAction>("Running", &running);
    factory.registerNodeType<ScriptedAction>("Idle", &idle);
    auto tree = factory.createTreeFromText(treeXml("<Running/><Idle/>"));
    EXPECT_EQ(tree.tickOnce(), NodeStatus::RUNNING);
    tree.haltTree();
    EXPECT_EQ(running.halts, 1);
    EXPECT_EQ(tree.rootNode()->status(), NodeStatus::IDLE);
  }
  EXPECT_EQ(idle.halts, 0);
  EXPECT_TRUE(idle.halt_requested);
  EXPECT_TRUE(running.halt_requested);
}

TEST(BtStatefulAction, DestroyingTheTreeHaltsARunningNode) {
  Script script{{NodeStatus::RUNNING}};
  {
    BT::BehaviorTreeFactory factory;
    factory.registerNodeType<ScriptedAction>("Scripted", &script);
    auto tree = factory.createTreeFromText(treeXml("<Scripted/>"));
    tree.tickOnce();
  }
  EXPECT_EQ(script.halts, 1);
}

struct ControlCase {
  const char* control;
  NodeStatus first_result;
  int first_child_ticks;
};

// Two ticks of <control><Counted/><Scripted RUNNING, RUNNING/></control>: only a reactive
// control ticks the first child again while the second is RUNNING.
TEST(BtControls, ResumeOrReTickEarlierChildren) {
  const std::vector<ControlCase> cases = {
      {"Sequence", NodeStatus::SUCCESS, 1},
      {"ReactiveSequence", NodeStatus::SUCCESS, 2},
      {"Fallback", NodeStatus::FAILURE, 1},
  };
  for (const auto& c : cases) {
    Script script{{NodeStatus::RUNNING, NodeStatus::RUNNING}};
    int first_child_ticks = 0;
    BT::BehaviorTreeFactory factory;
    factory.registerNodeType<ScriptedAction>("Scripted", &script);
    factory.registerSimpleAction("Counted", [&](BT::TreeNode&) {
      ++first_child_ticks;
      return c.first_result;
    });
    const std::string control = c.control;
    auto tree = factory.createTreeFromText("<root BTCPP_format=\"4\"><BehaviorTree ID=\"T\"><" +
                                           control + "><Counted/><Scripted/></" + control +
                                           "></BehaviorTree></root>");
    EXPECT_EQ(tree.tickOnce(), NodeStatus::RUNNING) << c.control;
    EXPECT_EQ(tree.tickOnce(), NodeStatus::RUNNING) << c.control;
    EXPECT_EQ(first_child_ticks, c.first_child_ticks) << c.control;
    EXPECT_EQ(script.runs, 1) << c.control;
  }
}

TEST(BtTree, WakeUpSignalEndsTheSleepEarly) {
  BT::BehaviorTreeFactory factory;
  factory.registerSimpleAction("Wake", [](BT::TreeNode& node) {
    node.emitWakeUpSignal();
    return NodeStatus::SUCCESS;
  });
  auto tree = factory.createTreeFromText(treeXml("<Wake/>"));
  EXPECT_EQ(tree.tickExactlyOnce(), NodeStatus::SUCCESS);
  EXPECT_TRUE(tree.sleep(std::chrono::seconds(30)));
  EXPECT_FALSE(tree.sleep(std::chrono::milliseconds(0)));
}

}  // namespace
