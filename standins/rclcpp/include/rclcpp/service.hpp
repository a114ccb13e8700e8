#pragma once

#include <memory>
#include <string>
#include <typeindex>
#include <utility>

#include "rclcpp/any_service_callback.hpp"
#include "rmw/qos_profiles.h"
#include "rmw/types.h"

namespace rclcpp {

class Node;
class ClientBase;

namespace detail {
class NodeCore;
}  // namespace detail

// The untyped half of a service server: its name and the transport.
class ServiceBase : public std::enable_shared_from_this<ServiceBase> {
 public:
  using SharedPtr = std::shared_ptr<ServiceBase>;

  ServiceBase(const ServiceBase&) = delete;
  ServiceBase& operator=(const ServiceBase&) = delete;
  // Requests still queued for a destroyed service are never answered.
  virtual ~ServiceBase();

  // The fully expanded service name.
  const char* get_service_name() const;

 protected:
  // Resolves the name as rcl_service_init does; throws what rclcpp throws for a rejected name.
  ServiceBase(std::shared_ptr<detail::NodeCore> node, const std::string& service_name,
              std::type_index service_type);

  // Routes a response to the client that sent the request; dropped if that client is gone.
  void send_response_erased(const rmw_request_id_t& request_id,
                            std::shared_ptr<void> response) const;
  // Runs on the thread of the executor that spins the service's node.
  virtual void handle_request(std::shared_ptr<rmw_request_id_t> request_id,
                              std::shared_ptr<void> request) = 0;

 private:
  friend class Node;
  friend class ClientBase;

  // Makes the service visible to clients; needs shared ownership.
  void activate();
  // Queues a request for the executor of the service's node; safe after the service is gone.
  void deliver_request(const rmw_request_id_t& request_id, std::shared_ptr<void> request);

  std::shared_ptr<detail::NodeCore> node_;
  std::string service_name_;
  std::type_index service_type_;
};

template <typename ServiceT>
class Service : public ServiceBase {
 public:
  using CallbackType = std::function<void(std::shared_ptr<typename ServiceT::Request>,
                                          std::shared_ptr<typename ServiceT::Response>)>;
  using CallbackWithHeaderType = std::function<void(std::shared_ptr<rmw_request_id_t>,
                                                    std::shared_ptr<typename ServiceT::Request>,
                                                    std::shared_ptr<typename ServiceT::Response>)>;
  using SharedPtr = std::shared_ptr<Service<ServiceT>>;
  using WeakPtr = std::weak_ptr<Service<ServiceT>>;

  Service(std::shared_ptr<detail::NodeCore> node, const std::string& service_name,
          AnyServiceCallback<ServiceT> any_callback, const rmw_qos_profile_t& /*qos_profile*/)
      : ServiceBase(std::move(node), service_name, typeid(ServiceT)),
        any_callback_(std::move(any_callback)) {}

  // Answers a request whose callback deferred the response; the response is copied.
  void send_response(rmw_request_id_t& req_id, typename ServiceT::Response& response) {
    send_response_erased(req_id, std::make_shared<typename ServiceT::Response>(response));
  }

 private:
  void handle_request(std::shared_ptr<rmw_request_id_t> request_id,
                      std::shared_ptr<void> request) override {
    auto self = std::static_pointer_cast<Service<ServiceT>>(shared_from_this());
    auto response = any_callback_.dispatch(
        self, request_id, std::static_pointer_cast<typename ServiceT::Request>(std::move(request)));
    if (response) {
      send_response(*request_id, *response);
    }
  }

  AnyServiceCallback<ServiceT> any_callback_;
};

}  // namespace rclcpp
