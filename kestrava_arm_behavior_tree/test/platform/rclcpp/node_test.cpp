// Nodes: init/shutdown guard, signals, service waits after shutdown, name and namespace rules,
// sub-nodes and where their clients land.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <future>
#include <memory>
#include <string>

#include "kestrava_arm_perception_srvs/srv/arm_perception_common.hpp"
#include "rclcpp/graph_listener.hpp"
#include "rclcpp/rclcpp.hpp"
#include "rclcpp_release.hpp"

namespace {

using kestrava_arm_perception_srvs::srv::ArmPerceptionCommon;
using rclcpp::exceptions::NameValidationError;
using rclcpp::exceptions::RCLError;
using rclcpp::exceptions::RCLInvalidArgument;
using testing::StartsWith;
using namespace std::chrono_literals;

// The text of the ExceptionT that `create` throws, or why there is none.
template <typename ExceptionT, typename CreateT>
std::string ErrorText(CreateT&& create) {
  try {
    create();
  } catch (const ExceptionT& e) {
    return e.what();
  } catch (...) {
    return "another exception";
  }
  return "no exception";
}

TEST(NodeContext, NodesAndExecutorsNeedAValidContext) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const auto create_node = [] { rclcpp::Node node("host"); };
  const auto create_executor = [] { rclcpp::executors::SingleThreadedExecutor executor; };
  // A fresh process: before any init the context is null.
  const std::string before_init = "failed to create guard condition: context argument is null, at ";
  EXPECT_EXIT(
      {
        const bool both_refused =
            ErrorText<RCLInvalidArgument>(create_node).rfind(before_init, 0) == 0 &&
            ErrorText<RCLInvalidArgument>(create_executor).rfind(before_init, 0) == 0;
        std::exit(both_refused ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");

  rclcpp::init(0, nullptr);
  EXPECT_THROW(rclcpp::init(0, nullptr), rclcpp::ContextAlreadyInitialized);
  EXPECT_TRUE(rclcpp::ok());
  EXPECT_TRUE(rclcpp::shutdown());
  EXPECT_FALSE(rclcpp::shutdown()) << "second shutdown";
  EXPECT_FALSE(rclcpp::ok());
  const std::string after_shutdown =
      "failed to create guard condition: the given context is not valid, either rcl_init() was "
      "not called or rcl_shutdown() was called., at ";
  EXPECT_THAT(ErrorText<RCLError>(create_node), StartsWith(after_shutdown));
  EXPECT_THAT(ErrorText<RCLError>(create_executor), StartsWith(after_shutdown));
}

TEST(NodeContext, SigintShutsTheContextDown) {
  rclcpp::init(0, nullptr);
  rclcpp::executors::SingleThreadedExecutor executor;
  std::promise<void> never_kept;
  const std::shared_future<void> never_ready = never_kept.get_future().share();
  std::raise(SIGINT);
  // rclcpp shuts the context down on a thread of its own, maybe before the spin starts; a spin
  // ends as interrupted either way.
  EXPECT_EQ(executor.spin_until_future_complete(never_ready, 10s),
            rclcpp::FutureReturnCode::INTERRUPTED);
  EXPECT_FALSE(rclcpp::ok());
  EXPECT_EQ(rclcpp::contexts::get_global_default_context()->shutdown_reason(), "signal handler");
  rclcpp::shutdown();
}

// rclcpp hands a node to the context's graph listener when the node first waits for a service;
// the listener needs a valid context to start and stops at shutdown.
TEST(NodeContext, AfterShutdownANodesFirstServiceWaitThrows) {
  rclcpp::init(0, nullptr);
  // A client does not keep its node alive, and the node has to be alive for a wait.
  const auto node = rclcpp::Node::make_shared("host");
  const auto client = node->create_client<ArmPerceptionCommon>("absent");
  rclcpp::shutdown();
  EXPECT_THAT(ErrorText<RCLError>([&] { client->wait_for_service(1s); }),
              StartsWith("failed to initialize wait set: the given context is not valid"))
      << "no node had started the graph listener";
  EXPECT_FALSE(client->wait_for_service(1s)) << "only the first wait throws";
}

TEST(NodeContext, AfterShutdownAStoppedGraphListenerRefusesNodes) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // rclcpp aborts when it destroys a node that the stopped listener refused, so this runs in a
  // process of its own that ends without destroying its nodes.
  EXPECT_EXIT(
      {
        rclcpp::init(0, nullptr);
        const auto waiting = rclcpp::Node::make_shared("waiting");
        const auto refused = rclcpp::Node::make_shared("refused");
        const auto waiting_client = waiting->create_client<ArmPerceptionCommon>("absent");
        const auto refused_client = refused->create_client<ArmPerceptionCommon>("absent");
        const bool waited = !waiting_client->wait_for_service(1ms);
        rclcpp::shutdown();
        const bool refused_throws =
            ErrorText<rclcpp::graph_listener::GraphListenerShutdownError>(
                [&] { refused_client->wait_for_service(1s); }) == "GraphListener already shutdown";
        const bool waiting_ends = !waiting_client->wait_for_service(1s);
        std::_Exit(waited && refused_throws && waiting_ends ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

class NodeTest : public testing::Test {
 protected:
  void SetUp() override { rclcpp::init(0, nullptr); }
  void TearDown() override { rclcpp::shutdown(); }
};

TEST_F(NodeTest, NamesAndNamespaces) {
  struct Case {
    const char* namespace_;
    const char* normalised;
    const char* fully_qualified;
  };
  for (const Case& c :
       {Case{"", "/", "/host"}, Case{"/", "/", "/host"}, Case{"arm", "/arm", "/arm/host"},
        Case{"/arm/bt", "/arm/bt", "/arm/bt/host"}}) {
    SCOPED_TRACE(c.namespace_);
    const auto node = rclcpp::Node::make_shared("host", c.namespace_);
    EXPECT_STREQ(node->get_name(), "host");
    EXPECT_STREQ(node->get_namespace(), c.normalised);
    EXPECT_STREQ(node->get_fully_qualified_name(), c.fully_qualified);
    EXPECT_EQ(node->get_effective_namespace(), c.normalised);
    EXPECT_EQ(node->get_sub_namespace(), "");
  }
}

TEST_F(NodeTest, RejectsNodeNamesAndNamespaces) {
  struct Case {
    const char* name;
    const char* namespace_;
    const char* name_type;
    const char* message;
    size_t index;
  };
  const Case cases[] = {
      {"", "", "node name", "node name must not be empty", 0},
      {"my-node", "", "node name",
       "node name must not contain characters other than alphanumerics or '_'", 2},
      {"1node", "", "node name", "node name must not start with a number", 0},
      {"node", "my ns", "namespace", "namespace must be absolute, it must lead with a '/'", 0},
      {"node", "/a/", "namespace", "namespace must not end with a '/', unless only a '/'", 2},
      {"node", "/a//b", "namespace", "namespace must not contain repeated '/'", 3},
      {"node", "/a/1b", "namespace", "namespace must not have a token that starts with a number",
       3},
      {"node", "/a.b", "namespace",
       "namespace must not contain characters other than alphanumerics, '_', or '/'", 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " in " + c.namespace_);
    try {
      rclcpp::Node node(c.name, c.namespace_);
      ADD_FAILURE() << "no exception";
    } catch (const NameValidationError& e) {
      EXPECT_EQ(e.name_type, c.name_type);
      EXPECT_EQ(e.error_msg, c.message);
      EXPECT_EQ(e.invalid_index, c.index);
    }
  }
  EXPECT_THROW(rclcpp::Node("1node"), rclcpp::exceptions::InvalidNodeNameError);
  EXPECT_THROW(rclcpp::Node("node", "/a/"), rclcpp::exceptions::InvalidNamespaceError);
}

TEST_F(NodeTest, SubNodesExtendTheEffectiveNamespaceOnly) {
  const auto node = rclcpp::Node::make_shared("host", "/arm");
  const auto sub = node->create_sub_node("a/");
  const auto sub_sub = sub->create_sub_node("b");
  EXPECT_EQ(sub->get_sub_namespace(), "a");
  EXPECT_EQ(sub_sub->get_sub_namespace(), "a/b");
  EXPECT_EQ(sub_sub->get_effective_namespace(), "/arm/a/b");
  EXPECT_STREQ(sub_sub->get_namespace(), "/arm");
  EXPECT_STREQ(sub_sub->get_fully_qualified_name(), "/arm/host");
  EXPECT_EQ(rclcpp::Node::make_shared("host")->create_sub_node("a")->get_effective_namespace(),
            "/a");

  struct Case {
    const char* sub_namespace;
    const char* name_type;
    const char* message;
  };
  for (const Case& c :
       {Case{"", "sub_namespace", "sub-nodes should not extend nodes by an empty sub-namespace"},
        Case{"/a", "sub_namespace", "a sub-namespace should not have a leading /"},
        Case{"1a", "namespace", "namespace must not have a token that starts with a number"},
        Case{"a b", "namespace",
             "namespace must not contain characters other than alphanumerics, '_', or '/'"}}) {
    SCOPED_TRACE(c.sub_namespace);
    try {
      node->create_sub_node(c.sub_namespace);
      ADD_FAILURE() << "no exception";
    } catch (const NameValidationError& e) {
      EXPECT_EQ(e.name_type, c.name_type);
      EXPECT_EQ(e.error_msg, c.message);
    }
  }
}

TEST_F(NodeTest, ClientNamesArePrefixedExpandedAndDiagnosed) {
  const auto node = rclcpp::Node::make_shared("host", "/arm");
  const auto sub = node->create_sub_node("sub");
  struct Case {
    rclcpp::Node::SharedPtr on;
    const char* name;
    const char* service_name;
  };
  for (const Case& c :
       {Case{node, "perception", "/arm/perception"}, Case{node, "/perception", "/perception"},
        Case{sub, "perception", "/arm/sub/perception"}, Case{sub, "/perception", "/perception"},
        Case{sub, "~/perception", "/arm/host/perception"}}) {
    SCOPED_TRACE(c.name);
    EXPECT_STREQ(c.on->create_client<ArmPerceptionCommon>(c.name)->get_service_name(),
                 c.service_name);
  }

  struct Failure {
    rclcpp::Node::SharedPtr on;
    const char* name;
    const char* reported_name;
    size_t index;
  };
  for (const Failure& f :
       {Failure{node, "", "", 0}, Failure{sub, "", "sub/", 3}, Failure{node, "my srv", "my srv", 2},
        Failure{node, "/a//b", "/a//b", 3}}) {
    SCOPED_TRACE(f.name);
    try {
      f.on->create_client<ArmPerceptionCommon>(f.name);
      ADD_FAILURE() << "no exception";
    } catch (const rclcpp::exceptions::InvalidServiceNameError& e) {
      EXPECT_EQ(e.name, f.reported_name);
      EXPECT_EQ(e.invalid_index, f.index);
    }
  }
  EXPECT_THROW(node->create_client<ArmPerceptionCommon>("srv/{foo}"), std::runtime_error);
  const auto other = rclcpp::Node::make_shared("other", "/arm");
  EXPECT_THROW(node->create_client<ArmPerceptionCommon>(
                   "srv", kestrava::test::ServicesQos(),
                   other->create_callback_group(rclcpp::CallbackGroupType::Reentrant)),
               std::runtime_error)
      << "a callback group of another node";

  rclcpp::shutdown();
  try {
    node->create_client<ArmPerceptionCommon>("perception");
    FAIL() << "no exception";
  } catch (const rclcpp::exceptions::RCLError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("could not create client: ", 0), 0u);
  }
}

TEST(ServicesQos, DefaultProfileValues) {
  const rmw_qos_profile_t& qos = rmw_qos_profile_services_default;
  EXPECT_EQ(qos.history, RMW_QOS_POLICY_HISTORY_KEEP_LAST);
  EXPECT_EQ(qos.depth, 10u);
  EXPECT_EQ(qos.reliability, RMW_QOS_POLICY_RELIABILITY_RELIABLE);
  EXPECT_EQ(qos.durability, RMW_QOS_POLICY_DURABILITY_VOLATILE);
  EXPECT_EQ(qos.liveliness, RMW_QOS_POLICY_LIVELINESS_SYSTEM_DEFAULT);
  EXPECT_EQ(qos.deadline.sec + qos.deadline.nsec + qos.lifespan.sec + qos.lifespan.nsec +
                qos.liveliness_lease_duration.sec + qos.liveliness_lease_duration.nsec,
            0u);
  EXPECT_FALSE(qos.avoid_ros_namespace_conventions);
}

}  // namespace
