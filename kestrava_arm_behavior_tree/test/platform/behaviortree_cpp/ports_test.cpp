// getInput/setOutput through trees built from XML: literals, {key}, {=} and the failure texts.
#include <gtest/gtest.h>

#include "behaviortree_cpp/bt_factory.h"
#include "test_support.h"

namespace {

using bt_test::thrownText;
using bt_test::treeXml;

using Probe = std::function<std::string(BT::TreeNode&)>;

struct PortCase {
  const char* name;
  std::string attributes;
  std::function<void(BT::Blackboard&)> preset;
  Probe probe;
  std::string expected;
};

template <typename T>
std::string inputText(const BT::Expected<T>& value) {
  if (!value) {
    return "error: " + value.error();
  }
  if constexpr (std::is_same_v<T, std::string>) {
    return *value;
  } else {
    return std::to_string(*value);
  }
}

template <typename T>
Probe readInput(const char* port) {
  return [port](BT::TreeNode& node) { return inputText(node.getInput<T>(port)); };
}

template <typename T>
Probe writeOutput(const char* port, T value) {
  return [port, value](BT::TreeNode& node) {
    const auto result = node.setOutput(port, value);
    return result ? std::string("ok") : "error: " + result.error();
  };
}

// Ticks a "Probe" action with the given attributes once and returns what `probe` reported.
std::string runProbe(const PortCase& c, BT::Blackboard::Ptr bb) {
  BT::BehaviorTreeFactory factory;
  std::string report;
  factory.registerSimpleAction(
      "Probe",
      [&](BT::TreeNode& node) {
        report = c.probe(node);
        return BT::NodeStatus::SUCCESS;
      },
      {BT::InputPort<double>("number"), BT::InputPort("untyped"),
       BT::InputPort<double>("with_default", 1.5, "a default"), BT::OutputPort<int>("code")});
  c.preset(*bb);
  const auto thrown = thrownText([&] {
    auto tree = factory.createTreeFromText(treeXml("<Probe " + c.attributes + "/>"), bb);
    tree.tickOnce();
  });
  return thrown == "none" ? report : thrown;
}

const auto kNoPreset = [](BT::Blackboard&) {};

TEST(BtPorts, GetInputReadsLiteralsReferencesAndDefaults) {
  const std::vector<PortCase> cases = {
      {"literal", R"(number="2.5")", kNoPreset, readInput<double>("number"), "2.500000"},
      {"literal through the port type", R"(number="1.5")", kNoPreset,
       readInput<std::string>("number"), "1.500000"},
      {"default", "", kNoPreset, readInput<double>("with_default"), "1.500000"},
      {"reference", R"(untyped="{n}")", [](auto& bb) { bb.set("n", 4); },
       readInput<double>("untyped"), "4.000000"},
      {"reference to text", R"(number="{n}")", [](auto& bb) { bb.set("n", std::string("7")); },
       readInput<double>("number"), "7.000000"},
      {"same name", R"(number="{=}")", [](auto& bb) { bb.set("number", 7.0); },
       readInput<double>("number"), "7.000000"},
      {"not in the XML", "", kNoPreset, readInput<double>("number"),
       "error: getInput() of node 'Probe::2' failed because nor the manifest or the XML contain "
       "the key: [number]"},
      {"undeclared", "", kNoPreset, readInput<double>("nope"),
       "error: getInput() of node 'Probe::2' failed because the manifest doesn't contain the "
       "key: [nope]"},
      {"entry without value", R"(number="{n}")", kNoPreset, readInput<double>("number"),
       "error: getInput() failed because it was unable to find the key [number] remapped to "
       "[n]"},
      {"unparsable entry", R"(number="{n}")", [](auto& bb) { bb.set("n", std::string("abc")); },
       readInput<double>("number"), "error: Can't convert string [abc] to double"},
      {"unparsable literal", R"(untyped="abc")", kNoPreset, readInput<double>("untyped"),
       "error: getInput(): Can't convert string [abc] to double"},
      {"unconvertible entry", R"(untyped="{n}")", [](auto& bb) { bb.set("n", 3); },
       [](BT::TreeNode& node) {
         const auto value = node.getInput<std::vector<double>>("untyped");
         return value ? std::string("ok") : "error: " + value.error();
       },
       "error: [Any::convert]: no known safe conversion between [int] and [std::vector<double, "
       "std::allocator<double> >]"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(runProbe(c, BT::Blackboard::create()), c.expected) << c.name;
  }
}

TEST(BtPorts, SetOutputWritesOnlyThroughReferences) {
  const std::vector<PortCase> cases = {
      {"reference", R"(code="{c}")", kNoPreset, writeOutput("code", 5), "ok"},
      {"same name", R"(code="{=}")", kNoPreset, writeOutput("code", 5), "ok"},
      {"parsable text", R"(code="{c}")", kNoPreset, writeOutput("code", std::string("42")), "ok"},
      {"literal", R"(code="5")", kNoPreset, writeOutput("code", 5),
       "error: setOutput requires a blackboard pointer. Use {}"},
      {"not in the XML", "", kNoPreset, writeOutput("code", 5),
       "error: setOutput() failed: NodeConfig::output_ports does not contain the key: [code]"},
      {"input port", R"(number="{n}")", kNoPreset, writeOutput("number", 5.0),
       "error: setOutput() failed: NodeConfig::output_ports does not contain the key: [number]"},
      {"type change", R"(code="{c}")", kNoPreset, writeOutput("code", 2.5),
       "NodeExecutionError: Exception in node 'Probe::2' [Probe]: Blackboard::set(c): once "
       "declared, the type of a port shall not change. Previously declared type [int], current "
       "type [double]"},
  };
  for (const auto& c : cases) {
    auto bb = BT::Blackboard::create();
    EXPECT_EQ(runProbe(c, bb), c.expected) << c.name;
  }
}

TEST(BtPorts, OutputsLandInTheReferencedEntryWithThePortType) {
  auto bb = BT::Blackboard::create();
  EXPECT_EQ(
      runProbe({"", R"(code="{c}")", kNoPreset, writeOutput("code", std::string("42")), ""}, bb),
      "ok");
  EXPECT_EQ(bb->get<int>("c"), 42);
  EXPECT_EQ(bb->entryInfo("c")->type(), typeid(int));

  EXPECT_EQ(runProbe({"", R"(code="{=}")", kNoPreset, writeOutput("code", 7), ""}, bb), "ok");
  EXPECT_EQ(bb->get<int>("code"), 7);
}

}  // namespace
