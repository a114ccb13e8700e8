// Trees from XML: the accepted forms, the validation and creation errors, the node model.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "behaviortree_cpp/bt_factory.h"
#include "behaviortree_cpp/xml_parsing.h"
#include "test_support.h"

namespace {

using bt_test::thrownText;
using bt_test::treeXml;

void registerProbe(BT::BehaviorTreeFactory& factory) {
  factory.registerSimpleAction("Probe", [](BT::TreeNode&) { return BT::NodeStatus::SUCCESS; },
                               {BT::InputPort<double>("number"), BT::OutputPort<int>("code")});
}

struct XmlCase {
  const char* name;
  std::string xml;
  std::string outcome;
};

TEST(BtXml, RejectsInvalidDocumentsWithTheirErrors) {
  const std::string two_trees =
      R"(<root BTCPP_format="4"><BehaviorTree ID="A"><Probe/></BehaviorTree>)"
      R"(<BehaviorTree ID="B"><Probe/></BehaviorTree></root>)";
  const std::vector<XmlCase> cases = {
      {"wrong root", "<tree/>", "RuntimeError: The XML must have a root node called <root>"},
      {"unknown node", treeXml("<Nope/>"),
       "RuntimeError: Error at line 4: -> Node not recognized: Nope"},
      {"generic tag without ID", treeXml("<Action/>"),
       "RuntimeError: Error at line 4: -> The tag <Action> must have the attribute [ID]"},
      {"action with a child", treeXml("<Probe><Probe/></Probe>"),
       "RuntimeError: Error at line 4: -> The node 'Probe' must not have any child"},
      {"control without children", treeXml("<Sequence/>"),
       "RuntimeError: Error at line 4: -> The node 'Sequence' must have 1 or more children"},
      {"no main tree", two_trees,
       "RuntimeError: [main_tree_to_execute] was not specified correctly"},
      {"unknown main tree",
       R"(<root BTCPP_format="4" main_tree_to_execute="X"><BehaviorTree ID="A"><Probe/>)"
       R"(</BehaviorTree></root>)",
       "std::runtime_error: Can't find a tree with name: X"},
      {"ID on a named element", treeXml(R"(<Probe ID="Probe"/>)"),
       "RuntimeError: Attribute [ID] is not allowed in <Probe>"},
      {"unknown port", treeXml(R"(<Probe bogus="1"/>)"),
       "RuntimeError: a port with name [bogus] is found in the XML (<Probe>, line 1) but not in "
       "the providedPorts() of its registered node type."},
      {"unconvertible literal", treeXml(R"(<Probe number="abc"/>)"),
       "LogicError: The port with name \"number\" and value \"abc\" can not be converted to "
       "double"},
      {"entry type clash", treeXml(R"(<Probe number="{x}"/><Probe code="{x}"/>)"),
       "RuntimeError: The creation of the tree failed because the port [x] was initially "
       "created with type [double] and, later type [int] was used somewhere else."},
      {"both element forms", treeXml(R"(<Probe/><Action ID="Probe" _note="kept"/>)"), "none"},
  };
  for (const auto& c : cases) {
    BT::BehaviorTreeFactory factory;
    registerProbe(factory);
    EXPECT_EQ(thrownText([&] { (void)factory.createTreeFromText(c.xml); }), c.outcome) << c.name;
  }
}

TEST(BtXml, ReportsMalformedAndMissingDocuments) {
  BT::BehaviorTreeFactory factory;
  EXPECT_THAT(thrownText([&] { (void)factory.createTreeFromText("<root"); }),
              testing::StartsWith("RuntimeError: Error parsing the XML: "));
  EXPECT_THAT(thrownText([&] { (void)factory.createTreeFromFile("/nonexistent/tree.xml"); }),
              testing::StartsWith("RuntimeError: Error parsing the XML: "));
  // A file name without a folder is refused before the document is read, whether it exists or not.
  EXPECT_EQ(thrownText([&] { (void)factory.createTreeFromFile("tree.xml"); }),
            "std::filesystem::filesystem_error: filesystem error: cannot make absolute path: "
            "Invalid argument []");
}

TEST(BtXml, NamesAndPathsOfNodes) {
  BT::BehaviorTreeFactory factory;
  registerProbe(factory);
  auto tree = factory.createTreeFromText(treeXml(R"(<Probe/><Probe name="p"/>)"));
  const auto& nodes = tree.subtrees.front()->nodes;
  ASSERT_EQ(nodes.size(), 3u);
  EXPECT_EQ(nodes[0]->fullPath(), "Sequence::1");
  EXPECT_EQ(nodes[1]->fullPath(), "Probe::2");
  EXPECT_EQ(nodes[2]->fullPath(), "p");
  EXPECT_EQ(nodes[2]->name(), "p");
  EXPECT_EQ(nodes[2]->UID(), 3);
  EXPECT_EQ(nodes[2]->registrationName(), "Probe");
  EXPECT_EQ(tree.tickOnce(), BT::NodeStatus::SUCCESS);
}

TEST(BtXml, ModelListsNodesSortedWithTheirPorts) {
  BT::BehaviorTreeFactory factory;
  factory.registerBuilder(
      {BT::NodeType::ACTION, "B", {BT::OutputPort<std::vector<double>>("v")}, {}}, {});
  factory.registerBuilder(
      {BT::NodeType::ACTION, "A", {BT::InputPort<double>("timeout", 2.5, "limit")}, {}}, {});
  EXPECT_EQ(BT::writeTreeNodesModelXML(factory),
            "<root BTCPP_format=\"4\">\n"
            "    <TreeNodesModel>\n"
            "        <Action ID=\"A\">\n"
            "            <input_port name=\"timeout\" type=\"double\" "
            "default=\"2.500000\">limit</input_port>\n"
            "        </Action>\n"
            "        <Action ID=\"B\">\n"
            "            <output_port name=\"v\" type=\"std::vector&lt;double, "
            "std::allocator&lt;double&gt; &gt;\"/>\n"
            "        </Action>\n"
            "    </TreeNodesModel>\n"
            "</root>\n");
}

TEST(BtFactory, RejectsDuplicateIDsWithTheBaseException) {
  BT::BehaviorTreeFactory factory;
  registerProbe(factory);
  EXPECT_EQ(thrownText([&] { registerProbe(factory); }),
            "BehaviorTreeException: ID [Probe] already registered");
  EXPECT_EQ(thrownText([&] { (void)factory.instantiateTreeNode("n", "Nope", {}); }),
            "RuntimeError: BehaviorTreeFactory: ID [Nope] not registered");
}

}  // namespace
