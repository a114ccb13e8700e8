#pragma once

#include <functional>
#include <memory>
#include <stdexcept>
#include <type_traits>
#include <utility>
#include <variant>

#include "rclcpp/function_traits.hpp"
#include "rmw/types.h"

namespace rclcpp {

template <typename ServiceT>
class Service;

// Holds a service callback in one of its accepted shapes and runs it for one request.
template <typename ServiceT>
class AnyServiceCallback {
 public:
  using SharedRequest = std::shared_ptr<typename ServiceT::Request>;
  using SharedResponse = std::shared_ptr<typename ServiceT::Response>;
  using SharedRequestId = std::shared_ptr<rmw_request_id_t>;
  using SharedService = std::shared_ptr<Service<ServiceT>>;

  using SharedPtrCallback = std::function<void(SharedRequest, SharedResponse)>;
  using SharedPtrWithRequestHeaderCallback =
      std::function<void(SharedRequestId, SharedRequest, SharedResponse)>;
  using SharedPtrDeferResponseCallback = std::function<void(SharedRequestId, SharedRequest)>;
  using SharedPtrDeferResponseCallbackWithServiceHandle =
      std::function<void(SharedService, SharedRequestId, SharedRequest)>;

  // Exact argument lists win; other callables must convert to exactly one shape.
  template <typename CallbackT>
  void set(CallbackT&& callback) {
    using function_traits::same_arguments;
    if constexpr (same_arguments<CallbackT, SharedPtrCallback>::value) {
      callback_.template emplace<SharedPtrCallback>(std::forward<CallbackT>(callback));
    } else if constexpr (same_arguments<CallbackT, SharedPtrWithRequestHeaderCallback>::value) {
      callback_.template emplace<SharedPtrWithRequestHeaderCallback>(
          std::forward<CallbackT>(callback));
    } else if constexpr (same_arguments<CallbackT, SharedPtrDeferResponseCallback>::value) {
      callback_.template emplace<SharedPtrDeferResponseCallback>(std::forward<CallbackT>(callback));
    } else if constexpr (same_arguments<CallbackT,
                                        SharedPtrDeferResponseCallbackWithServiceHandle>::value) {
      callback_.template emplace<SharedPtrDeferResponseCallbackWithServiceHandle>(
          std::forward<CallbackT>(callback));
    } else {
      callback_ = std::forward<CallbackT>(callback);
    }
    if (std::visit([](const auto& stored) { return !stored; }, callback_)) {
      throw std::invalid_argument("AnyServiceCallback::set(): callback cannot be nullptr");
    }
  }

  // The response to send now, or null when the callback defers it.
  SharedResponse dispatch(const SharedService& service, const SharedRequestId& request_id,
                          SharedRequest request) const {
    if (const auto* cb = std::get_if<SharedPtrDeferResponseCallback>(&callback_)) {
      (*cb)(request_id, std::move(request));
      return nullptr;
    }
    if (const auto* cb = std::get_if<SharedPtrDeferResponseCallbackWithServiceHandle>(&callback_)) {
      (*cb)(service, request_id, std::move(request));
      return nullptr;
    }
    auto response = std::make_shared<typename ServiceT::Response>();
    if (const auto* cb = std::get_if<SharedPtrCallback>(&callback_)) {
      (*cb)(std::move(request), response);
    } else {
      std::get<SharedPtrWithRequestHeaderCallback>(callback_)(request_id, std::move(request),
                                                              response);
    }
    return response;
  }

 private:
  std::variant<SharedPtrCallback, SharedPtrWithRequestHeaderCallback,
               SharedPtrDeferResponseCallback, SharedPtrDeferResponseCallbackWithServiceHandle>
      callback_;
};

}  // namespace rclcpp
