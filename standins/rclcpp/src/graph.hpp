#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <typeindex>
#include <unordered_map>
#include <vector>

#include "context_internal.hpp"

namespace rclcpp {
class ClientBase;
class ServiceBase;
}  // namespace rclcpp

namespace rclcpp::detail {

// The process-wide view of which services and clients exist: services by expanded name and
// type, clients by the id that their requests carry as writer GUID.
class Graph {
 public:
  static Graph& instance();

  void add_service(const std::string& name, std::type_index type, const ServiceBase* key,
                   std::weak_ptr<ServiceBase> service);
  void remove_service(const ServiceBase* key);
  std::vector<std::shared_ptr<ServiceBase>> services(const std::string& name,
                                                     std::type_index type) const;
  bool has_service(const std::string& name, std::type_index type) const;
  // True once such a service exists; false when the deadline (none: no limit) passes or the
  // context instance ends first.
  bool wait_for_service(const std::string& name, std::type_index type,
                        const ContextInstance& context,
                        std::optional<std::chrono::steady_clock::time_point> deadline) const;
  // Makes waiters re-check their context.
  void wake_waiters();

  uint64_t next_client_id();
  void add_client(uint64_t id, std::weak_ptr<ClientBase> client);
  void remove_client(uint64_t id);
  std::shared_ptr<ClientBase> client(uint64_t id) const;

 private:
  struct ServiceEntry {
    std::type_index type;
    const ServiceBase* key;
    std::weak_ptr<ServiceBase> service;
  };

  bool has_service_locked(const std::string& name, std::type_index type) const;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::multimap<std::string, ServiceEntry> services_;
  std::unordered_map<uint64_t, std::weak_ptr<ClientBase>> clients_;
  uint64_t last_client_id_ = 0;
};

}  // namespace rclcpp::detail
