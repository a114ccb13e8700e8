// Requests and responses between a service and a client on two nodes of one process, with the
// executor spinning both nodes on its own thread.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include "kestrava_arm_perception_srvs/srv/arm_perception_common.hpp"
#include "rclcpp/rclcpp.hpp"
#include "rclcpp_release.hpp"

namespace {

using kestrava_arm_perception_srvs::srv::ArmPerceptionCommon;
using Client = rclcpp::Client<ArmPerceptionCommon>;
using Request = ArmPerceptionCommon::Request;
using Response = ArmPerceptionCommon::Response;
using namespace std::chrono_literals;

constexpr auto kDeadline = 10s;

// Callable shapes that async_send_request accepts or rejects.
template <typename CallbackT, typename = void>
struct accepts_callback : std::false_type {};
template <typename CallbackT>
struct accepts_callback<CallbackT,
                        std::void_t<decltype(std::declval<Client&>().async_send_request(
                            std::declval<Client::SharedRequest>(), std::declval<CallbackT>()))>>
    : std::true_type {};

struct Receiver {
  void on_response(Client::SharedFuture /*future*/) {}
  void on_response_by_ref(const Client::SharedFuture& /*future*/) {}
};
using BoundByValue =
    decltype(std::bind(&Receiver::on_response, std::declval<Receiver*>(), std::placeholders::_1));
using BoundByRef = decltype(std::bind(&Receiver::on_response_by_ref, std::declval<Receiver*>(),
                                      std::placeholders::_1));
static_assert(accepts_callback<std::function<void(Client::SharedFuture)>>::value);
static_assert(accepts_callback<BoundByValue>::value);
static_assert(!accepts_callback<BoundByRef>::value);
static_assert(!accepts_callback<std::function<void(const Client::SharedFuture&)>>::value);

Client::SharedRequest make_request(const std::string& text) {
  auto request = std::make_shared<Request>();
  request->request_yaml = text;
  return request;
}

// What one response callback saw.
struct Delivery {
  std::string response_yaml;
  std::thread::id thread;
  bool future_was_ready;
};

class ServiceTest : public testing::Test {
 protected:
  void SetUp() override {
    rclcpp::init(0, nullptr);
    server_node_ = rclcpp::Node::make_shared("perception", "/arm");
    client_node_ = rclcpp::Node::make_shared("bt_host", "/arm");
    client_ = client_node_->create_client<ArmPerceptionCommon>("detect");
    // Like a node, an executor needs the context initialised.
    executor_ = std::make_unique<rclcpp::executors::SingleThreadedExecutor>();
    executor_->add_node(server_node_);
    executor_->add_node(client_node_);
    spinner_ = std::thread([this] { executor_->spin(); });
  }

  void TearDown() override {
    // The shutdown ends the spin also when the cancel came before the spin began.
    executor_->cancel();
    rclcpp::shutdown();
    spinner_.join();
  }

  // Answers at once with "echo: <request>".
  rclcpp::Service<ArmPerceptionCommon>::SharedPtr make_echo_service(
      const rclcpp::Node::SharedPtr& node) {
    return node->create_service<ArmPerceptionCommon>(
        "detect", [](std::shared_ptr<Request> request, std::shared_ptr<Response> response) {
          response->response_yaml = "echo: " + request->request_yaml;
        });
  }

  // Keeps request ids for the test to answer later.
  rclcpp::Service<ArmPerceptionCommon>::SharedPtr make_deferred_service() {
    return server_node_->create_service<ArmPerceptionCommon>(
        "detect", [this](std::shared_ptr<rmw_request_id_t> id, std::shared_ptr<Request> request) {
          std::lock_guard<std::mutex> lock(mutex_);
          deferred_.emplace_back(*id, request->request_yaml);
          deferred_arrived_.notify_all();
        });
  }

  void await_deferred(size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    ASSERT_TRUE(
        deferred_arrived_.wait_for(lock, kDeadline, [&] { return deferred_.size() >= count; }));
  }

  void answer(rclcpp::Service<ArmPerceptionCommon>& service, size_t index) {
    Response response;
    response.response_yaml = "late: " + deferred_[index].second;
    service.send_response(deferred_[index].first, response);
  }

  Client::SharedFutureAndRequestId send_recorded(const std::string& text) {
    return client_->async_send_request(make_request(text), [this](Client::SharedFuture future) {
      const bool ready = future.wait_for(0s) == std::future_status::ready;
      std::lock_guard<std::mutex> lock(mutex_);
      deliveries_.push_back({future.get()->response_yaml, std::this_thread::get_id(), ready});
    });
  }

  // Every earlier response of this client has been handled once a later one round-trips.
  void flush_responses(const rclcpp::Node::SharedPtr& echo_node) {
    auto echo = echo_node->create_client<ArmPerceptionCommon>("/arm/echo");
    auto service = echo_node->create_service<ArmPerceptionCommon>(
        "/arm/echo", [](std::shared_ptr<Request>, std::shared_ptr<Response>) {});
    ASSERT_EQ(echo->async_send_request(make_request("flush")).wait_for(kDeadline),
              std::future_status::ready);
  }

  std::vector<Delivery> deliveries() {
    std::lock_guard<std::mutex> lock(mutex_);
    return deliveries_;
  }

  std::unique_ptr<rclcpp::executors::SingleThreadedExecutor> executor_;
  std::thread spinner_;
  rclcpp::Node::SharedPtr server_node_;
  rclcpp::Node::SharedPtr client_node_;
  Client::SharedPtr client_;
  std::mutex mutex_;
  std::condition_variable deferred_arrived_;
  std::vector<std::pair<rmw_request_id_t, std::string>> deferred_;
  std::vector<Delivery> deliveries_;
};

TEST_F(ServiceTest, RoundTripCompletesThePromiseThenCallsBackOnTheExecutorThread) {
  const auto service = make_echo_service(server_node_);
  // DDS discovery may take a moment, even within one process.
  ASSERT_TRUE(client_->wait_for_service(kDeadline));
  auto sent = send_recorded("aruco");
  ASSERT_EQ(sent.wait_for(kDeadline), std::future_status::ready);
  EXPECT_EQ(sent.get()->response_yaml, "echo: aruco");
  flush_responses(client_node_);

  const auto seen = deliveries();
  ASSERT_EQ(seen.size(), 1u) << "one callback per response";
  EXPECT_EQ(seen[0].response_yaml, "echo: aruco");
  EXPECT_TRUE(seen[0].future_was_ready);
  EXPECT_EQ(seen[0].thread, spinner_.get_id());
  EXPECT_FALSE(client_->remove_pending_request(sent.request_id)) << "answered entries are erased";
}

TEST_F(ServiceTest, DeferredAnswersReachTheirOwnRequests) {
  const auto service = make_deferred_service();
  auto first = send_recorded("first");
  auto second = client_->async_send_request(make_request("second"));
  EXPECT_NE(first.request_id, second.request_id);
  await_deferred(2);
  EXPECT_EQ(first.wait_for(0s), std::future_status::timeout) << "nothing answered yet";

  answer(*service, 1);
  answer(*service, 0);
  ASSERT_EQ(first.wait_for(kDeadline), std::future_status::ready);
  ASSERT_EQ(second.wait_for(kDeadline), std::future_status::ready);
  EXPECT_EQ(first.get()->response_yaml, "late: first");
  EXPECT_EQ(second.get()->response_yaml, "late: second");

  answer(*service, 0);  // a second answer to an answered request is dropped
  flush_responses(client_node_);
  EXPECT_EQ(deliveries().size(), 1u);
}

TEST_F(ServiceTest, RemovedRequestsAndDestroyedClientsGetNoCallback) {
  const auto service = make_deferred_service();
  auto removed = send_recorded("removed");
  auto orphan = client_node_->create_client<ArmPerceptionCommon>("detect");
  orphan->async_send_request(make_request("orphan"), [this](Client::SharedFuture) {
    std::lock_guard<std::mutex> lock(mutex_);
    deliveries_.push_back({"orphan", std::this_thread::get_id(), true});
  });
  await_deferred(2);

  EXPECT_TRUE(client_->remove_pending_request(removed));
  EXPECT_FALSE(client_->remove_pending_request(removed));
  orphan.reset();
  answer(*service, 0);
  answer(*service, 1);
  flush_responses(client_node_);

  const std::vector<Delivery> seen = deliveries();
  const bool only_the_orphan = seen.size() == 1 && seen[0].response_yaml == "orphan";
  EXPECT_TRUE(seen.empty() || (kestrava::test::kReleasedClientMayCallBack && only_the_orphan))
      << seen.size() << " callback(s), the first for '" << seen.front().response_yaml << "'";
  EXPECT_THROW(removed.get(), std::future_error) << "the removed promise is abandoned";
}

TEST_F(ServiceTest, RequestsToADestroyedServiceStayUnanswered) {
  // The idle node is not spun yet, so the request is still queued when the service goes.
  const auto idle_node = rclcpp::Node::make_shared("idle", "/arm");
  auto service = make_echo_service(idle_node);
  auto pending = client_->async_send_request(make_request("lost"));
  service.reset();
  EXPECT_FALSE(client_->service_is_ready());

  executor_->add_node(idle_node);
  flush_responses(idle_node);
  EXPECT_EQ(pending.wait_for(0s), std::future_status::timeout);
  EXPECT_EQ(client_->prune_pending_requests(), 1u);
}

TEST_F(ServiceTest, WaitForServiceSeesServicesAppearAndTheContextEnd) {
  EXPECT_FALSE(client_->service_is_ready());
  EXPECT_FALSE(client_->wait_for_service(0s));
  EXPECT_FALSE(client_->wait_for_service(20ms));

  rclcpp::Service<ArmPerceptionCommon>::SharedPtr service;
  std::thread creator([&] { service = make_echo_service(server_node_); });
  EXPECT_TRUE(client_->wait_for_service(kDeadline));
  creator.join();
  EXPECT_TRUE(client_->service_is_ready());

  auto other = client_node_->create_client<ArmPerceptionCommon>("absent");
  std::thread stopper([] { rclcpp::shutdown(); });
  const auto waited_from = std::chrono::steady_clock::now();
  EXPECT_FALSE(other->wait_for_service(kDeadline));
  EXPECT_LT(std::chrono::steady_clock::now() - waited_from, kDeadline)
      << "the wait ran out instead of ending with the context";
  stopper.join();
  EXPECT_FALSE(client_->service_is_ready()) << "nothing is ready after shutdown";
}

}  // namespace
