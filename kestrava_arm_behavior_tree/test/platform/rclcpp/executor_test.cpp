// Executor bookkeeping, spin variants and how they end.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "kestrava_arm_perception_srvs/srv/arm_perception_common.hpp"
#include "rclcpp/rclcpp.hpp"
#include "rclcpp_release.hpp"

namespace {

using kestrava_arm_perception_srvs::srv::ArmPerceptionCommon;
using Request = ArmPerceptionCommon::Request;
using Response = ArmPerceptionCommon::Response;
using kestrava::test::MembershipError;
using namespace std::chrono_literals;

template <typename ExceptionT, typename ActionT>
void expect_error(ActionT&& action, const std::string& text) {
  try {
    action();
    ADD_FAILURE() << "no exception, expected: " << text;
  } catch (const ExceptionT& e) {
    EXPECT_EQ(e.what(), text);
  }
}

class ExecutorTest : public testing::Test {
 protected:
  void SetUp() override {
    rclcpp::init(0, nullptr);
    node_ = rclcpp::Node::make_shared("host", "/arm");
    client_ = node_->create_client<ArmPerceptionCommon>("detect");
  }
  void TearDown() override { rclcpp::shutdown(); }

  rclcpp::Node::SharedPtr node_;
  rclcpp::Client<ArmPerceptionCommon>::SharedPtr client_;
};

TEST_F(ExecutorTest, NodeMembershipErrors) {
  rclcpp::executors::SingleThreadedExecutor first;
  rclcpp::executors::SingleThreadedExecutor second;
  const std::string not_in_any =
      MembershipError(*node_, "needs to be associated with an executor.");
  expect_error<std::runtime_error>([&] { first.remove_node(node_); }, not_in_any);
  first.add_node(node_);
  for (auto* executor : {&first, &second}) {
    expect_error<std::runtime_error>([&] { executor->add_node(node_); },
                                     "Node '/arm/host' has already been added to an executor.");
  }
  expect_error<std::runtime_error>(
      [&] { second.remove_node(node_); },
      MembershipError(*node_, "needs to be associated with this executor."));
  if (kestrava::test::kFailedRemoveClearsMembership) {
    expect_error<std::runtime_error>([&] { first.remove_node(node_); }, not_in_any);
  } else {
    first.remove_node(node_);
  }
  EXPECT_NO_THROW(second.add_node(node_)) << "a removed node can join another executor";
}

TEST_F(ExecutorTest, SpinSomeWithANegativeDurationRunsNothing) {
  int handled = 0;
  auto service = node_->create_service<ArmPerceptionCommon>(
      "detect", [&](std::shared_ptr<Request>, std::shared_ptr<Response>) { ++handled; });
  ASSERT_TRUE(client_->wait_for_service(10s));
  rclcpp::executors::SingleThreadedExecutor executor;
  executor.add_node(node_);
  auto response = client_->async_send_request(std::make_shared<Request>());
  executor.spin_some(-1ns);
  EXPECT_EQ(handled, 0);
  EXPECT_EQ(executor.spin_until_future_complete(response.future, 10s),
            rclcpp::FutureReturnCode::SUCCESS);
  EXPECT_EQ(handled, 1);
}

TEST_F(ExecutorTest, SpinFunctionsRefuseToRunConcurrently) {
  std::promise<void> entered;
  std::promise<void> release;
  auto service = node_->create_service<ArmPerceptionCommon>(
      "detect", [&](std::shared_ptr<Request>, std::shared_ptr<Response>) {
        entered.set_value();
        release.get_future().wait_for(10s);
      });
  rclcpp::executors::SingleThreadedExecutor executor;
  executor.add_node(node_);
  std::thread spinner([&] { executor.spin(); });
  auto response = client_->async_send_request(std::make_shared<Request>());
  const bool spinning = entered.get_future().wait_for(10s) == std::future_status::ready;
  EXPECT_TRUE(spinning) << "the service was not called within 10 s";

  if (spinning) {
    expect_error<std::runtime_error>([&] { executor.spin(); },
                                     "spin() called while already spinning");
    expect_error<std::runtime_error>([&] { executor.spin_some(); },
                                     "spin_some() called while already spinning");
    expect_error<std::runtime_error>([&] { executor.spin_once(); },
                                     "spin_once() called while already spinning");
    expect_error<std::runtime_error>([&] { executor.spin_until_future_complete(response.future); },
                                     "spin_until_future_complete() called while already spinning");
  }
  release.set_value();
  EXPECT_EQ(response.wait_for(10s), std::future_status::ready);
  executor.cancel();
  spinner.join();
}

TEST_F(ExecutorTest, CallbackExceptionsLeaveSpin) {
  auto service = node_->create_service<ArmPerceptionCommon>(
      "detect", [](std::shared_ptr<Request>, std::shared_ptr<Response>) {
        throw std::runtime_error("perception failed");
      });
  rclcpp::executors::SingleThreadedExecutor executor;
  executor.add_node(node_);
  client_->async_send_request(std::make_shared<Request>());
  expect_error<std::runtime_error>([&] { executor.spin_some(); }, "perception failed");
  EXPECT_NO_THROW(executor.spin_some()) << "the executor can spin again";
}

TEST_F(ExecutorTest, SpinUntilFutureComplete) {
  auto service = node_->create_service<ArmPerceptionCommon>(
      "detect", [](std::shared_ptr<rmw_request_id_t>, std::shared_ptr<Request>) {});
  auto answered = node_->create_client<ArmPerceptionCommon>("echo");
  auto echo = node_->create_service<ArmPerceptionCommon>(
      "echo", [](std::shared_ptr<Request> request, std::shared_ptr<Response> response) {
        response->response_yaml = request->request_yaml;
      });
  auto request = std::make_shared<Request>();
  request->request_yaml = "pose";
  auto reply = answered->async_send_request(request);
  EXPECT_EQ(rclcpp::spin_until_future_complete(node_, reply.future, 10s),
            rclcpp::FutureReturnCode::SUCCESS);
  EXPECT_EQ(reply.get()->response_yaml, "pose");

  auto unanswered = client_->async_send_request(request);
  rclcpp::executors::SingleThreadedExecutor executor;
  executor.add_node(node_);
  EXPECT_EQ(executor.spin_until_future_complete(unanswered.future, 10ms),
            rclcpp::FutureReturnCode::TIMEOUT);
  std::thread stopper([] { rclcpp::shutdown(); });
  EXPECT_EQ(executor.spin_until_future_complete(unanswered.future, 10s),
            rclcpp::FutureReturnCode::INTERRUPTED)
      << "a TIMEOUT: the shutdown did not end the spin";
  stopper.join();
}

TEST_F(ExecutorTest, SpinEndsOnCancelAndOnShutdown) {
  auto service = node_->create_service<ArmPerceptionCommon>(
      "detect", [](std::shared_ptr<Request>, std::shared_ptr<Response>) {});
  rclcpp::executors::SingleThreadedExecutor executor;
  executor.add_node(node_);
  for (const auto& stop :
       {+[](rclcpp::Executor& e) { e.cancel(); }, +[](rclcpp::Executor&) { rclcpp::shutdown(); }}) {
    std::promise<void> returned;
    std::thread spinner([&] {
      executor.spin();
      returned.set_value();
    });
    // An answered request shows that spin() is running, so the stop cannot come too early.
    ASSERT_EQ(client_->async_send_request(std::make_shared<Request>()).wait_for(10s),
              std::future_status::ready);
    stop(executor);
    EXPECT_EQ(returned.get_future().wait_for(10s), std::future_status::ready);
    spinner.join();
  }
}

}  // namespace
