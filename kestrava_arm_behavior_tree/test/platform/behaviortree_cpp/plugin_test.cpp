// Loading node libraries with registerFromPlugin.
#include <gtest/gtest.h>

#include "behaviortree_cpp/bt_factory.h"
#include "test_support.h"

namespace {

using bt_test::thrownText;

TEST(BtPlugin, RegistersTheNodesOfAnExportingLibrary) {
  BT::BehaviorTreeFactory factory;
  factory.registerFromPlugin(BT_TEST_PLUGIN);
  const auto& manifest = factory.manifests().at("Doubler");
  EXPECT_EQ(manifest.type, BT::NodeType::ACTION);
  EXPECT_EQ(manifest.ports.size(), 2u);

  auto tree = factory.createTreeFromText(
      R"(<root BTCPP_format="4"><BehaviorTree ID="T"><Sequence>)"
      R"(<Doubler in="2.5" out="{result}"/></Sequence></BehaviorTree></root>)");
  EXPECT_EQ(tree.tickOnce(), BT::NodeStatus::SUCCESS);
  EXPECT_EQ(tree.rootBlackboard()->get<double>("result"), 5.0);

  EXPECT_EQ(thrownText([&] { factory.registerFromPlugin(BT_TEST_PLUGIN); }),
            "BehaviorTreeException: ID [Doubler] already registered");
}

TEST(BtPlugin, MissingLibraryIsARuntimeError) {
  BT::BehaviorTreeFactory factory;
  EXPECT_EQ(thrownText([&] { factory.registerFromPlugin("/nonexistent/libnodes.so"); }),
            "RuntimeError: Could not load library: /nonexistent/libnodes.so: cannot open shared "
            "object file: No such file or directory");
}

// Built without BT_PLUGIN_EXPORT, the entry point has internal linkage: reported, not thrown.
TEST(BtPlugin, LibraryWithoutExportedEntryPointIsReportedOnStdout) {
  BT::BehaviorTreeFactory factory;
  const auto manifests_before = factory.manifests().size();
  testing::internal::CaptureStdout();
  factory.registerFromPlugin(BT_TEST_PLUGIN_UNEXPORTED);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            std::string("ERROR loading library [") + BT_TEST_PLUGIN_UNEXPORTED +
                "]: can't find symbol [BT_RegisterNodesFromPlugin]\n");
  EXPECT_EQ(factory.manifests().size(), manifests_before);
}

}  // namespace
