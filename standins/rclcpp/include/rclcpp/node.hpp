#pragma once

#include <memory>
#include <string>
#include <utility>

#include "rclcpp/any_service_callback.hpp"
#include "rclcpp/callback_group.hpp"
#include "rclcpp/client.hpp"
#include "rclcpp/node_options.hpp"
#include "rclcpp/service.hpp"
#include "rmw/qos_profiles.h"

namespace rclcpp {

class Executor;

namespace detail {
class NodeCore;
}  // namespace detail

class Node : public std::enable_shared_from_this<Node> {
 public:
  using SharedPtr = std::shared_ptr<Node>;
  using WeakPtr = std::weak_ptr<Node>;
  using UniquePtr = std::unique_ptr<Node>;

  template <typename... Args>
  static SharedPtr make_shared(Args&&... args) {
    return std::make_shared<Node>(std::forward<Args>(args)...);
  }

  // Throws RCLInvalidArgument before rclcpp::init(), RCLError after rclcpp::shutdown(),
  // InvalidNodeNameError / InvalidNamespaceError for rejected names.
  explicit Node(const std::string& node_name, const NodeOptions& options = NodeOptions());
  explicit Node(const std::string& node_name, const std::string& namespace_,
                const NodeOptions& options = NodeOptions());
  Node(const Node&) = delete;
  Node& operator=(const Node&) = delete;
  virtual ~Node();

  const char* get_name() const;
  const char* get_namespace() const;
  const char* get_fully_qualified_name() const;
  const std::string& get_sub_namespace() const;
  const std::string& get_effective_namespace() const;

  // A node sharing this one's name, namespace and callbacks, with an extended sub-namespace.
  SharedPtr create_sub_node(const std::string& sub_namespace);

  CallbackGroup::SharedPtr create_callback_group(
      CallbackGroupType group_type, bool automatically_add_to_executor_with_node = true);

  template <typename ServiceT>
  typename Client<ServiceT>::SharedPtr create_client(
      const std::string& service_name,
      const rmw_qos_profile_t& qos_profile = rmw_qos_profile_services_default,
      CallbackGroup::SharedPtr group = nullptr) {
    auto client = std::make_shared<Client<ServiceT>>(
        core_, extend_name_with_sub_namespace(service_name), qos_profile);
    check_group_in_node(group, "Cannot create client, group not in node.");
    client->activate();
    return client;
  }

  template <typename ServiceT, typename CallbackT>
  typename Service<ServiceT>::SharedPtr create_service(
      const std::string& service_name, CallbackT&& callback,
      const rmw_qos_profile_t& qos_profile = rmw_qos_profile_services_default,
      CallbackGroup::SharedPtr group = nullptr) {
    AnyServiceCallback<ServiceT> any_callback;
    any_callback.set(std::forward<CallbackT>(callback));
    auto service = std::make_shared<Service<ServiceT>>(
        core_, extend_name_with_sub_namespace(service_name), std::move(any_callback), qos_profile);
    check_group_in_node(group, "Cannot create service, group not in node.");
    service->activate();
    return service;
  }

 protected:
  // The sub-node constructor behind create_sub_node.
  Node(const Node& other, const std::string& sub_namespace);

 private:
  friend class Executor;

  // Relative names of a sub-node live below its sub-namespace.
  std::string extend_name_with_sub_namespace(const std::string& name) const;
  void check_group_in_node(const CallbackGroup::SharedPtr& group, const char* error) const;

  std::shared_ptr<detail::NodeCore> core_;
  std::string sub_namespace_;
  std::string effective_namespace_;
};

}  // namespace rclcpp
