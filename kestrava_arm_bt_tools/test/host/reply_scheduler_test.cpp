// The simulated service's threading: the reply scheduler against a concurrent stop, and the
// service going away while the executor that spins its node still runs.

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "kestrava_arm_host/reply_scheduler.hpp"
#include "kestrava_arm_host/simulated_perception_service.hpp"
#include "kestrava_arm_testing/ros_domain.hpp"
#include "ros_session.hpp"

namespace kestrava_arm::host {
namespace {

using std::chrono::milliseconds;

class ReplySchedulerTest : public ::testing::TestWithParam<int> {};

TEST_P(ReplySchedulerTest, RunsNoReplyOnceStopped) {
  ReplyScheduler replies{milliseconds(GetParam())};
  replies.Stop();
  bool ran = false;
  EXPECT_FALSE(replies.Schedule([&ran] { ran = true; }));
  EXPECT_FALSE(ran);
}

// The scheduling thread schedules until the stop refuses a reply; every reply scheduled before is
// run or dropped by the stop, exactly once. Under ThreadSanitizer the scheduling also meets the
// stop's join.
TEST_P(ReplySchedulerTest, AccountsForEveryReplyWhenStoppedWhileScheduling) {
  constexpr int kMostReplies = 1'000'000;  // far more than are scheduled before the stop
  ReplyScheduler replies{milliseconds(GetParam())};
  std::atomic<int> ran{0};
  std::promise<void> some_scheduled;
  int scheduled = 0;
  bool refused = false;
  std::thread scheduling([&] {
    while (!refused && scheduled < kMostReplies) {
      refused = !replies.Schedule([&ran] { ++ran; });
      if (!refused && ++scheduled == 100) {
        some_scheduled.set_value();
      }
    }
  });
  EXPECT_EQ(some_scheduled.get_future().wait_for(std::chrono::seconds(10)),
            std::future_status::ready)
      << "100 replies not scheduled after 10 s";
  const std::size_t dropped = replies.Stop();
  scheduling.join();
  EXPECT_TRUE(refused) << "no reply refused after the stop";
  EXPECT_EQ(ran + static_cast<int>(dropped), scheduled);
}

INSTANTIATE_TEST_SUITE_P(ReplyDelaysInMs, ReplySchedulerTest, ::testing::Values(0, 1));

// Replies of delays of their own run in the order they fall due, not in the order scheduled; one
// without delay at once.
TEST(ReplySchedulerDelaysTest, RunsRepliesInTheOrderTheyFallDue) {
  ReplyScheduler replies{milliseconds(0)};
  std::mutex mutex;
  std::vector<int> order;
  std::promise<void> all_ran;
  const auto reply = [&](int name) {
    return [&, name] {
      const std::lock_guard<std::mutex> lock(mutex);
      order.push_back(name);
      if (order.size() == 4) {
        all_ran.set_value();
      }
    };
  };
  ASSERT_TRUE(replies.Schedule(reply(300), milliseconds(300)));
  ASSERT_TRUE(replies.Schedule(reply(100), milliseconds(100)));
  ASSERT_TRUE(replies.Schedule(reply(200), milliseconds(200)));
  ASSERT_TRUE(replies.Schedule(reply(0), milliseconds(0)));
  ASSERT_EQ(all_ran.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
  replies.Stop();
  EXPECT_EQ(order, (std::vector<int>{0, 100, 200, 300}));
}

// The service goes while requests still arrive and the executor spins on: what a request's
// callback uses must outlive the service (AddressSanitizer and ThreadSanitizer tell otherwise).
TEST(SimulatedServiceLifetimeTest, MayGoWhileTheExecutorStillSpins) {
  using ServiceType = SimulatedPerceptionService::ServiceType;
  bt::testing::IsolateRosDomain();
  RosSession ros("simulated_service_lifetime_test", {});
  auto service = std::make_unique<SimulatedPerceptionService>(
      ros.node(), SimulatedServiceConfig{"/arm_perception_common", "success: false\n", {}});
  const auto client = ros.node()->create_client<ServiceType>("/arm_perception_common");
  ASSERT_TRUE(client->wait_for_service(std::chrono::seconds(10)));

  // Sent from a thread of its own, so that requests keep arriving while the service goes.
  constexpr int kRequests = 1000;
  std::vector<std::shared_future<ServiceType::Response::SharedPtr>> answers;
  std::promise<void> some_sent;
  std::thread sending([&] {
    for (int i = 0; i < kRequests; ++i) {
      answers.push_back(
          client->async_send_request(std::make_shared<ServiceType::Request>()).future.share());
      if (i == 50) {
        some_sent.set_value();
      }
    }
  });
  EXPECT_EQ(some_sent.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready)
      << "50 requests not sent after 10 s";
  service.reset();
  sending.join();
  // The answers that came are the service's document; requests after it went get none.
  for (auto& answer : answers) {
    if (answer.wait_for(milliseconds(0)) == std::future_status::ready) {
      EXPECT_EQ(answer.get()->response_yaml, "success: false\n");
    }
  }
}

}  // namespace
}  // namespace kestrava_arm::host
