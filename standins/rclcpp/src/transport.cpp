// Client and service halves of the in-process transport. A request travels as a work item
// into the service node's queue, its response as a work item into the client node's queue;
// both hold only weak references, so a destroyed endpoint simply drops what arrives for it.
#include <cstring>
#include <limits>
#include <utility>

#include "graph.hpp"
#include "node_core.hpp"
#include "rclcpp/client.hpp"
#include "rclcpp/service.hpp"

namespace rclcpp {
namespace {

// The client's id travels as the request's writer GUID.
rmw_request_id_t make_request_id(uint64_t client_id, int64_t sequence_number) {
  rmw_request_id_t request_id{};
  static_assert(sizeof(request_id.writer_guid) >= sizeof(client_id));
  std::memcpy(request_id.writer_guid, &client_id, sizeof(client_id));
  request_id.sequence_number = sequence_number;
  return request_id;
}

uint64_t client_id_of(const rmw_request_id_t& request_id) {
  uint64_t client_id = 0;
  std::memcpy(&client_id, request_id.writer_guid, sizeof(client_id));
  return client_id;
}

std::optional<std::chrono::steady_clock::time_point> deadline_after(
    std::chrono::nanoseconds timeout) {
  const auto now = std::chrono::steady_clock::now();
  if (timeout < std::chrono::nanoseconds(0) ||
      timeout > std::chrono::steady_clock::time_point::max() - now) {
    return std::nullopt;
  }
  return now + timeout;
}

}  // namespace

ClientBase::ClientBase(std::shared_ptr<detail::NodeCore> node, const std::string& service_name,
                       std::type_index service_type)
    : node_(std::move(node)),
      service_name_(node_->resolve_service_name(service_name, "could not create client")),
      service_type_(service_type),
      id_(detail::Graph::instance().next_client_id()) {}

ClientBase::~ClientBase() {
  detail::Graph::instance().remove_client(id_);
}

const char* ClientBase::get_service_name() const {
  return service_name_.c_str();
}

bool ClientBase::service_is_ready() const {
  return node_->context_is_valid() &&
         detail::Graph::instance().has_service(service_name_, service_type_);
}

bool ClientBase::wait_for_service_nanoseconds(std::chrono::nanoseconds timeout) const {
  if (service_is_ready()) {
    return true;
  }
  if (timeout == std::chrono::nanoseconds(0)) {
    return false;
  }
  node_->start_graph_listening();
  return detail::Graph::instance().wait_for_service(service_name_, service_type_, node_->context(),
                                                    deadline_after(timeout));
}

void ClientBase::send_request(int64_t sequence_number, std::shared_ptr<void> request) const {
  const rmw_request_id_t request_id = make_request_id(id_, sequence_number);
  for (const auto& service : detail::Graph::instance().services(service_name_, service_type_)) {
    service->deliver_request(request_id, request);
  }
}

void ClientBase::activate() {
  detail::Graph::instance().add_client(id_, weak_from_this());
}

void ClientBase::deliver_response(int64_t sequence_number, std::shared_ptr<void> response) {
  node_->post([client = weak_from_this(), sequence_number, response = std::move(response)] {
    if (auto alive = client.lock()) {
      alive->handle_response(sequence_number, response);
    }
  });
}

ServiceBase::ServiceBase(std::shared_ptr<detail::NodeCore> node, const std::string& service_name,
                         std::type_index service_type)
    : node_(std::move(node)),
      service_name_(node_->resolve_service_name(service_name, "could not create service")),
      service_type_(service_type) {}

ServiceBase::~ServiceBase() {
  detail::Graph::instance().remove_service(this);
}

const char* ServiceBase::get_service_name() const {
  return service_name_.c_str();
}

void ServiceBase::send_response_erased(const rmw_request_id_t& request_id,
                                       std::shared_ptr<void> response) const {
  if (auto client = detail::Graph::instance().client(client_id_of(request_id))) {
    client->deliver_response(request_id.sequence_number, std::move(response));
  }
}

void ServiceBase::activate() {
  detail::Graph::instance().add_service(service_name_, service_type_, this, weak_from_this());
}

void ServiceBase::deliver_request(const rmw_request_id_t& request_id,
                                  std::shared_ptr<void> request) {
  node_->post([service = weak_from_this(), request_id, request = std::move(request)] {
    if (auto alive = service.lock()) {
      alive->handle_request(std::make_shared<rmw_request_id_t>(request_id), request);
    }
  });
}

}  // namespace rclcpp
