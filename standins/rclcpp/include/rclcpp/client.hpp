#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>
#include <typeindex>
#include <utility>
#include <vector>

#include "rclcpp/function_traits.hpp"
#include "rmw/qos_profiles.h"
#include "rmw/types.h"

namespace rclcpp {

class Node;
class ServiceBase;

namespace detail {

class NodeCore;

// A request's future together with its sequence number; move-only.
template <typename FutureT>
struct FutureAndRequestId {
  FutureT future;
  int64_t request_id;

  FutureAndRequestId(FutureT impl, int64_t req_id) : future(std::move(impl)), request_id(req_id) {}
  FutureAndRequestId(const FutureAndRequestId&) = delete;
  FutureAndRequestId& operator=(const FutureAndRequestId&) = delete;
  FutureAndRequestId(FutureAndRequestId&&) noexcept = default;
  FutureAndRequestId& operator=(FutureAndRequestId&&) noexcept = default;
  ~FutureAndRequestId() = default;

  decltype(auto) get() { return future.get(); }
  bool valid() const noexcept { return future.valid(); }
  void wait() const { future.wait(); }
  template <class Rep, class Period>
  std::future_status wait_for(const std::chrono::duration<Rep, Period>& timeout_duration) const {
    return future.wait_for(timeout_duration);
  }
  template <class Clock, class Duration>
  std::future_status wait_until(
      const std::chrono::time_point<Clock, Duration>& timeout_time) const {
    return future.wait_until(timeout_time);
  }
};

}  // namespace detail

// The untyped half of a service client: its name, the graph queries and the transport.
class ClientBase : public std::enable_shared_from_this<ClientBase> {
 public:
  using SharedPtr = std::shared_ptr<ClientBase>;
  using WeakPtr = std::weak_ptr<ClientBase>;

  ClientBase(const ClientBase&) = delete;
  ClientBase& operator=(const ClientBase&) = delete;
  virtual ~ClientBase();

  // The fully expanded service name.
  const char* get_service_name() const;
  // Whether a service of this name and type exists; false once the context is shut down.
  bool service_is_ready() const;

  // Blocks until the service exists (true), or until the timeout passes or the context shuts
  // down (false). A negative timeout waits without limit.
  template <typename RepT = int64_t, typename RatioT = std::milli>
  bool wait_for_service(
      std::chrono::duration<RepT, RatioT> timeout = std::chrono::duration<RepT, RatioT>(-1)) {
    return wait_for_service_nanoseconds(
        std::chrono::duration_cast<std::chrono::nanoseconds>(timeout));
  }

 protected:
  // Resolves the name as rcl_client_init does; throws what rclcpp throws for a rejected name.
  ClientBase(std::shared_ptr<detail::NodeCore> node, const std::string& service_name,
             std::type_index service_type);

  int64_t next_sequence_number() { return ++last_sequence_number_; }
  // Hands a request (already copied for the server side) to every matching service.
  void send_request(int64_t sequence_number, std::shared_ptr<void> request) const;
  // Runs on the thread of the executor that spins the client's node.
  virtual void handle_response(int64_t sequence_number, std::shared_ptr<void> response) = 0;

 private:
  friend class Node;
  friend class ServiceBase;

  bool wait_for_service_nanoseconds(std::chrono::nanoseconds timeout) const;
  // Makes the client reachable for responses; needs shared ownership.
  void activate();
  // Queues a response for the executor of the client's node; safe after the client is gone.
  void deliver_response(int64_t sequence_number, std::shared_ptr<void> response);

  std::shared_ptr<detail::NodeCore> node_;
  std::string service_name_;
  std::type_index service_type_;
  uint64_t id_;
  std::atomic<int64_t> last_sequence_number_{0};
};

template <typename ServiceT>
class Client : public ClientBase {
 public:
  using Request = typename ServiceT::Request;
  using Response = typename ServiceT::Response;
  using SharedRequest = typename ServiceT::Request::SharedPtr;
  using SharedResponse = typename ServiceT::Response::SharedPtr;
  using Promise = std::promise<SharedResponse>;
  using PromiseWithRequest = std::promise<std::pair<SharedRequest, SharedResponse>>;
  using SharedPromise = std::shared_ptr<Promise>;
  using SharedPromiseWithRequest = std::shared_ptr<PromiseWithRequest>;
  using Future = std::future<SharedResponse>;
  using SharedFuture = std::shared_future<SharedResponse>;
  using SharedFutureWithRequest = std::shared_future<std::pair<SharedRequest, SharedResponse>>;
  using CallbackType = std::function<void(SharedFuture)>;
  using CallbackWithRequestType = std::function<void(SharedFutureWithRequest)>;
  using SharedPtr = std::shared_ptr<Client<ServiceT>>;
  using WeakPtr = std::weak_ptr<Client<ServiceT>>;

  struct FutureAndRequestId : detail::FutureAndRequestId<Future> {
    using detail::FutureAndRequestId<Future>::FutureAndRequestId;
    SharedFuture share() noexcept { return this->future.share(); }
  };
  struct SharedFutureAndRequestId : detail::FutureAndRequestId<SharedFuture> {
    using detail::FutureAndRequestId<SharedFuture>::FutureAndRequestId;
  };
  struct SharedFutureWithRequestAndRequestId : detail::FutureAndRequestId<SharedFutureWithRequest> {
    using detail::FutureAndRequestId<SharedFutureWithRequest>::FutureAndRequestId;
  };

  Client(std::shared_ptr<detail::NodeCore> node, const std::string& service_name,
         const rmw_qos_profile_t& /*qos_profile*/)
      : ClientBase(std::move(node), service_name, typeid(ServiceT)) {}

  FutureAndRequestId async_send_request(SharedRequest request) {
    auto promise = std::make_shared<Promise>();
    Future future = promise->get_future();
    const int64_t id =
        send(request, [promise](SharedResponse response) { promise->set_value(response); });
    return FutureAndRequestId(std::move(future), id);
  }

  // The promise is fulfilled before the callback runs, so future.get() in it never blocks.
  template <
      typename CallbackT,
      std::enable_if_t<function_traits::same_arguments<CallbackT, CallbackType>::value>* = nullptr>
  SharedFutureAndRequestId async_send_request(SharedRequest request, CallbackT&& cb) {
    auto promise = std::make_shared<Promise>();
    SharedFuture future = promise->get_future().share();
    const int64_t id =
        send(request, [promise, future, callback = CallbackType(std::forward<CallbackT>(cb))](
                          SharedResponse response) {
          promise->set_value(response);
          callback(future);
        });
    return SharedFutureAndRequestId(std::move(future), id);
  }

  template <typename CallbackT, std::enable_if_t<function_traits::same_arguments<
                                    CallbackT, CallbackWithRequestType>::value>* = nullptr>
  SharedFutureWithRequestAndRequestId async_send_request(SharedRequest request, CallbackT&& cb) {
    auto promise = std::make_shared<PromiseWithRequest>();
    SharedFutureWithRequest future = promise->get_future().share();
    const int64_t id = send(
        request,
        [promise, future, request,
         callback = CallbackWithRequestType(std::forward<CallbackT>(cb))](SharedResponse response) {
          promise->set_value(std::make_pair(request, response));
          callback(future);
        });
    return SharedFutureWithRequestAndRequestId(std::move(future), id);
  }

  // True when the request was still pending; its callback then never runs.
  bool remove_pending_request(int64_t request_id) {
    std::lock_guard<std::mutex> lock(pending_mutex_);
    return pending_.erase(request_id) != 0;
  }
  bool remove_pending_request(const FutureAndRequestId& future) {
    return remove_pending_request(future.request_id);
  }
  bool remove_pending_request(const SharedFutureAndRequestId& future) {
    return remove_pending_request(future.request_id);
  }
  bool remove_pending_request(const SharedFutureWithRequestAndRequestId& future) {
    return remove_pending_request(future.request_id);
  }

  size_t prune_pending_requests() {
    std::lock_guard<std::mutex> lock(pending_mutex_);
    const size_t count = pending_.size();
    pending_.clear();
    return count;
  }

  size_t prune_requests_older_than(std::chrono::time_point<std::chrono::system_clock> time_point,
                                   std::vector<int64_t>* pruned_requests = nullptr) {
    std::lock_guard<std::mutex> lock(pending_mutex_);
    size_t count = 0;
    for (auto it = pending_.begin(); it != pending_.end();) {
      if (it->second.sent < time_point) {
        if (pruned_requests != nullptr) {
          pruned_requests->push_back(it->first);
        }
        it = pending_.erase(it);
        ++count;
      } else {
        ++it;
      }
    }
    return count;
  }

 private:
  using Completion = std::function<void(SharedResponse)>;
  struct PendingRequest {
    std::chrono::system_clock::time_point sent;
    Completion complete;
  };

  // The entry is stored before the request leaves, so no response can overtake it.
  int64_t send(const SharedRequest& request, Completion complete) {
    const int64_t id = next_sequence_number();
    {
      std::lock_guard<std::mutex> lock(pending_mutex_);
      pending_.emplace(id, PendingRequest{std::chrono::system_clock::now(), std::move(complete)});
    }
    send_request(id, std::make_shared<Request>(*request));
    return id;
  }

  // Unknown sequence numbers (answered, removed or pruned requests) are dropped.
  void handle_response(int64_t sequence_number, std::shared_ptr<void> response) override {
    Completion complete;
    {
      std::lock_guard<std::mutex> lock(pending_mutex_);
      auto it = pending_.find(sequence_number);
      if (it == pending_.end()) {
        return;
      }
      complete = std::move(it->second.complete);
      pending_.erase(it);
    }
    complete(std::static_pointer_cast<Response>(response));
  }

  std::mutex pending_mutex_;
  std::map<int64_t, PendingRequest> pending_;
};

}  // namespace rclcpp
