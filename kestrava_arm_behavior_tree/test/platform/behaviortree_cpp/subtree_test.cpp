// SubTrees: the blackboard each one gets, what its attributes make of it, the root blackboard.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "behaviortree_cpp/bt_factory.h"
#include "test_support.h"

namespace {

using bt_test::thrownText;

// Copies its input to its output; FAILURE when the input cannot be read.
void registerCopy(BT::BehaviorTreeFactory& factory) {
  factory.registerSimpleAction("Copy",
                               [](BT::TreeNode& node) {
                                 const auto value = node.getInput<int>("in");
                                 if (!value) {
                                   return BT::NodeStatus::FAILURE;
                                 }
                                 node.setOutput("out", *value);
                                 return BT::NodeStatus::SUCCESS;
                               },
                               {BT::InputPort<int>("in"), BT::OutputPort<int>("out")});
}

std::string document(const std::string& main_tree, const std::string& other_trees) {
  return R"(<root BTCPP_format="4" main_tree_to_execute="Main"><BehaviorTree ID="Main">)" +
         main_tree + "</BehaviorTree>" + other_trees + "</root>";
}

template <typename T>
bool holds(const BT::Blackboard& blackboard, const std::string& key) {
  T value{};
  return blackboard.get(key, value);
}

TEST(BtSubTree, SeesTheParentOnlyThroughRemappingsAutoremapOrTheRootKey) {
  BT::BehaviorTreeFactory factory;
  registerCopy(factory);
  auto root = BT::Blackboard::create();
  root->set("a", 7);
  root->set("in", 5);
  root->set("_private", 1);
  auto tree = factory.createTreeFromText(document(R"(<Sequence>
            <SubTree ID="Bare"/>
            <SubTree ID="CopyInOut" name="remapped" in="{a}" out="{b}"/>
            <SubTree ID="CopyInOut" name="auto" _autoremap="true"/>
            <SubTree ID="CopyInOut" name="constant" in="41"/>
          </Sequence>)",
                                                  R"(<BehaviorTree ID="Bare"><Sequence>
            <Copy in="{@a}" out="{@copied}"/>
            <Fallback><Copy in="{a}" out="{seen}"/><AlwaysSuccess/></Fallback>
          </Sequence></BehaviorTree>
          <BehaviorTree ID="CopyInOut"><Copy in="{in}" out="{out}"/></BehaviorTree>)"),
                                         root);
  ASSERT_EQ(tree.tickOnce(), BT::NodeStatus::SUCCESS);

  ASSERT_EQ(tree.subtrees.size(), 5u);
  EXPECT_EQ(tree.rootBlackboard(), root);
  const auto& bare = *tree.subtrees[1]->blackboard;
  EXPECT_EQ(bare.rootBlackboard(), root.get());
  EXPECT_EQ(root->get<int>("copied"), 7);
  EXPECT_FALSE(holds<int>(bare, "a"));
  EXPECT_FALSE(holds<int>(bare, "seen"));
  EXPECT_FALSE(holds<int>(*root, "seen"));

  EXPECT_EQ(root->get<int>("b"), 7);
  EXPECT_EQ(root->get<int>("out"), 5);
  EXPECT_FALSE(holds<int>(*tree.subtrees[3]->blackboard, "_private"));
  auto& constant = *tree.subtrees[4]->blackboard;
  EXPECT_EQ(constant.get<int>("out"), 41);
  EXPECT_EQ(constant.entryInfo("in")->type(), typeid(int));
}

TEST(BtSubTree, NamesItsTreesAndNodesByPath) {
  BT::BehaviorTreeFactory factory;
  registerCopy(factory);
  auto tree = factory.createTreeFromText(
      document(R"(<Sequence><SubTree ID="Outer"/><SubTree ID="Outer" name="o"/></Sequence>)",
               R"(<BehaviorTree ID="Outer"><SubTree ID="Inner" in="1"/></BehaviorTree>
                  <BehaviorTree ID="Inner"><Copy in="{in}" out="{out}"/></BehaviorTree>)"));
  std::vector<std::string> trees;
  for (const auto& subtree : tree.subtrees) {
    trees.push_back(subtree->tree_ID + " " + subtree->instance_name + ": " +
                    subtree->nodes.front()->fullPath());
  }
  EXPECT_THAT(trees,
              testing::ElementsAre("Main : Sequence::1", "Outer Outer::2: Outer::2/Inner::3",
                                   "Inner Outer::2/Inner::3: Outer::2/Inner::3/Copy::4",
                                   "Outer o: o/Inner::6", "Inner o/Inner::6: o/Inner::6/Copy::7"));
}

TEST(BtSubTree, RejectsSubTreesThatCannotBeBuilt) {
  BT::BehaviorTreeFactory factory;
  registerCopy(factory);
  const std::string copy_tree =
      R"(<BehaviorTree ID="CopyInOut"><Copy in="1" out="{out}"/></BehaviorTree>)";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {document(R"(<SubTree ID="Missing"/>)", copy_tree),
       "std::runtime_error: Can't find a tree with name: Missing"},
      {document(R"(<SubTree ID="Loop"/>)",
                R"(<BehaviorTree ID="Loop"><SubTree ID="Loop"/></BehaviorTree>)"),
       "RuntimeError: Recursive behavior tree cycle detected: tree 'Loop' references itself "
       "(directly or indirectly)"},
      {document(R"(<SubTree ID="CopyInOut"><Copy/></SubTree>)", copy_tree),
       "RuntimeError: Error at line 3: -> <SubTree> with ID 'CopyInOut' should not have any "
       "child"},
      {document(R"(<SubTree ID="Copy"/>)", copy_tree),
       "RuntimeError: Error at line 3: -> The attribute [ID] of tag <SubTree> must not use the "
       "name of a registered Node"},
      {document(R"(<Sequence><SubTree ID="CopyInOut" name="s"/><SubTree ID="CopyInOut" name="s"/>)"
                R"(</Sequence>)",
                copy_tree),
       "RuntimeError: Duplicate SubTree path detected: 's'. Multiple SubTree nodes with the same "
       "'name' attribute under the same parent are not allowed. Please use unique names or omit "
       "the 'name' attribute to auto-generate unique paths."},
  };
  for (const auto& [xml, outcome] : cases) {
    EXPECT_EQ(thrownText([&] { (void)factory.createTreeFromText(xml); }), outcome) << xml;
  }
}

}  // namespace
