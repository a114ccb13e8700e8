// The node's client with introspection on, over the real rclcpp (ROS 2 Jazzy on): what a run
// publishes on the service's event topic, where `ros2 service echo` and the watch read it.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "kestrava_arm_behavior_tree/action/detect_toilet_info_codes_and_keys.hpp"
#include "kestrava_arm_perception_srvs/srv/arm_perception_common.hpp"
#include "node_harness.hpp"
#include "service_msgs/msg/service_event_info.hpp"

namespace kestrava_arm::bt::testing {
namespace {

using Event = kestrava_arm_perception_srvs::srv::ArmPerceptionCommon_Event;
using EventInfo = service_msgs::msg::ServiceEventInfo;

constexpr std::chrono::seconds kWaitLimit{10};

// The events on the service's event topic, as they arrive on the executor's thread.
class ServiceEvents {
 public:
  explicit ServiceEvents(const rclcpp::Node::SharedPtr& node)
      : subscription_(node->create_subscription<Event>(
            std::string(NodeHarness::kServiceName) + "/_service_event", rclcpp::ServicesQoS(),
            [this](const Event& event) {
              const std::lock_guard<std::mutex> lock(mutex_);
              events_.push_back(event);
              arrived_.notify_all();
            })) {}

  // The first `count` events; fails the test when fewer come within the limit.
  std::vector<Event> Await(std::size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!arrived_.wait_for(lock, kWaitLimit, [&] { return events_.size() >= count; })) {
      ADD_FAILURE() << events_.size() << " service events within " << kWaitLimit.count() << " s, "
                    << count << " expected";
    }
    return events_;
  }

  bool AwaitPublisher(rclcpp::Node& node) {
    const auto until = std::chrono::steady_clock::now() + kWaitLimit;
    const rclcpp::Event::SharedPtr graph_changed = node.get_graph_event();
    while (subscription_->get_publisher_count() == 0) {
      if (std::chrono::steady_clock::now() >= until) {
        return false;
      }
      node.wait_for_graph_change(graph_changed, std::chrono::milliseconds(100));
    }
    return true;
  }

 private:
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<Event> events_;
  std::shared_ptr<rclcpp::Subscription<Event>> subscription_;
};

TEST(DetectToiletInfoIntrospectionTest, ARunPublishesItsRequestAndAnswerWithDocumentsOnlyIfAsked) {
  for (const bool contents : {true, false}) {
    const char* const mode = contents ? "contents" : "metadata";
    NodeHarness harness;
    harness.service().AnswerAllWith(SuccessAnswer());
    ServiceEvents events(harness.service_node());
    auto board = harness.CreateHostBlackboard();
    board->set(kIntrospectionKey, std::string(mode));
    auto tree = harness.CreateTree("60000", board);
    ASSERT_TRUE(events.AwaitPublisher(*harness.service_node())) << mode;

    ASSERT_EQ(TickUntilDone(tree), BT::NodeStatus::SUCCESS) << mode;
    // rcl publishes REQUEST_SENT after the request went out, on the ticking thread, and an
    // answer in the same process can come first: the order of the two is not given.
    const std::vector<Event> published = events.Await(2);
    ASSERT_EQ(published.size(), 2U) << mode;
    const bool sent_first = published[0].info.event_type == EventInfo::REQUEST_SENT;
    const Event& sent = published[sent_first ? 0 : 1];
    const Event& received = published[sent_first ? 1 : 0];
    EXPECT_EQ(sent.info.event_type, EventInfo::REQUEST_SENT) << mode;
    EXPECT_EQ(received.info.event_type, EventInfo::RESPONSE_RECEIVED) << mode;
    EXPECT_EQ(sent.info.sequence_number, received.info.sequence_number) << mode;
    EXPECT_EQ(sent.info.client_gid, received.info.client_gid) << mode;
    if (contents) {
      ASSERT_EQ(sent.request.size(), 1U);
      EXPECT_EQ(sent.request[0].request_yaml, harness.service().WaitForRequest(0));
      ASSERT_EQ(received.response.size(), 1U);
      EXPECT_EQ(received.response[0].response_yaml, SuccessAnswer());
    } else {
      EXPECT_THAT(sent.request, ::testing::IsEmpty());
      EXPECT_THAT(received.response, ::testing::IsEmpty());
    }
  }
}

}  // namespace
}  // namespace kestrava_arm::bt::testing
