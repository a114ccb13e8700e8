#include "graph.hpp"

#include <utility>

namespace rclcpp::detail {

Graph& Graph::instance() {
  // Never destroyed: clients and services may be released during static destruction.
  static auto* graph = new Graph;
  return *graph;
}

void Graph::add_service(const std::string& name, std::type_index type, const ServiceBase* key,
                        std::weak_ptr<ServiceBase> service) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    services_.emplace(name, ServiceEntry{type, key, std::move(service)});
  }
  changed_.notify_all();
}

void Graph::remove_service(const ServiceBase* key) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = services_.begin(); it != services_.end();) {
    it = it->second.key == key ? services_.erase(it) : std::next(it);
  }
}

std::vector<std::shared_ptr<ServiceBase>> Graph::services(const std::string& name,
                                                          std::type_index type) const {
  std::vector<std::shared_ptr<ServiceBase>> found;
  std::lock_guard<std::mutex> lock(mutex_);
  const auto range = services_.equal_range(name);
  for (auto it = range.first; it != range.second; ++it) {
    if (it->second.type != type) {
      continue;
    }
    if (auto service = it->second.service.lock()) {
      found.push_back(std::move(service));
    }
  }
  return found;
}

bool Graph::has_service(const std::string& name, std::type_index type) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return has_service_locked(name, type);
}

bool Graph::has_service_locked(const std::string& name, std::type_index type) const {
  const auto range = services_.equal_range(name);
  for (auto it = range.first; it != range.second; ++it) {
    if (it->second.type == type && !it->second.service.expired()) {
      return true;
    }
  }
  return false;
}

bool Graph::wait_for_service(const std::string& name, std::type_index type,
                             const ContextInstance& context,
                             std::optional<std::chrono::steady_clock::time_point> deadline) const {
  std::unique_lock<std::mutex> lock(mutex_);
  while (true) {
    if (!context.valid) {
      return false;
    }
    if (has_service_locked(name, type)) {
      return true;
    }
    if (!deadline) {
      changed_.wait(lock);
    } else if (changed_.wait_until(lock, *deadline) == std::cv_status::timeout) {
      return context.valid && has_service_locked(name, type);
    }
  }
}

void Graph::wake_waiters() {
  // Taking the lock orders the waker after any waiter that is between its check and its wait.
  { std::lock_guard<std::mutex> lock(mutex_); }
  changed_.notify_all();
}

uint64_t Graph::next_client_id() {
  std::lock_guard<std::mutex> lock(mutex_);
  return ++last_client_id_;
}

void Graph::add_client(uint64_t id, std::weak_ptr<ClientBase> client) {
  std::lock_guard<std::mutex> lock(mutex_);
  clients_[id] = std::move(client);
}

void Graph::remove_client(uint64_t id) {
  std::lock_guard<std::mutex> lock(mutex_);
  clients_.erase(id);
}

std::shared_ptr<ClientBase> Graph::client(uint64_t id) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = clients_.find(id);
  return it == clients_.end() ? nullptr : it->second.lock();
}

}  // namespace rclcpp::detail
