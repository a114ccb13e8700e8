#pragma once

#include <cstddef>
#include <new>
#include <stdexcept>
#include <string>

#include "rcl/error_handling.h"
#include "rcl/types.h"

namespace rclcpp::exceptions {

class InvalidNodeError : public std::runtime_error {
 public:
  InvalidNodeError() : std::runtime_error("node is invalid") {}
};

// A rejected name; what() points a caret at the offending character.
class NameValidationError : public std::invalid_argument {
 public:
  NameValidationError(const char* name_type_, const char* name_, const char* error_msg_,
                      size_t invalid_index_);

  static std::string format_error(const char* name_type, const char* name, const char* error_msg,
                                  size_t invalid_index);

  const std::string name_type;
  const std::string name;
  const std::string error_msg;
  const size_t invalid_index;
};

class InvalidNodeNameError : public NameValidationError {
 public:
  InvalidNodeNameError(const char* node_name, const char* error_msg, size_t invalid_index)
      : NameValidationError("node name", node_name, error_msg, invalid_index) {}
};

class InvalidNamespaceError : public NameValidationError {
 public:
  InvalidNamespaceError(const char* namespace_, const char* error_msg, size_t invalid_index)
      : NameValidationError("namespace", namespace_, error_msg, invalid_index) {}
};

class InvalidTopicNameError : public NameValidationError {
 public:
  InvalidTopicNameError(const char* topic_name, const char* error_msg, size_t invalid_index)
      : NameValidationError("topic name", topic_name, error_msg, invalid_index) {}
};

class InvalidServiceNameError : public NameValidationError {
 public:
  InvalidServiceNameError(const char* service_name, const char* error_msg, size_t invalid_index)
      : NameValidationError("service name", service_name, error_msg, invalid_index) {}
};

// The rcl error code and error state behind a failed rcl call.
class RCLErrorBase {
 public:
  RCLErrorBase(rcl_ret_t ret, const rcl_error_state_t* error_state);
  virtual ~RCLErrorBase() = default;

  rcl_ret_t ret;
  std::string message;
  std::string file;
  size_t line;
  std::string formatted_message;
};

class RCLError : public RCLErrorBase, public std::runtime_error {
 public:
  RCLError(rcl_ret_t ret, const rcl_error_state_t* error_state, const std::string& prefix);
  RCLError(const RCLErrorBase& base_exc, const std::string& prefix);
};

class RCLBadAlloc : public RCLErrorBase, public std::bad_alloc {
 public:
  RCLBadAlloc(rcl_ret_t ret, const rcl_error_state_t* error_state);
  explicit RCLBadAlloc(const RCLErrorBase& base_exc);
};

class RCLInvalidArgument : public RCLErrorBase, public std::invalid_argument {
 public:
  RCLInvalidArgument(rcl_ret_t ret, const rcl_error_state_t* error_state,
                     const std::string& prefix);
  RCLInvalidArgument(const RCLErrorBase& base_exc, const std::string& prefix);
};

class RCLInvalidROSArgsError : public RCLErrorBase, public std::runtime_error {
 public:
  RCLInvalidROSArgsError(rcl_ret_t ret, const rcl_error_state_t* error_state,
                         const std::string& prefix);
  RCLInvalidROSArgsError(const RCLErrorBase& base_exc, const std::string& prefix);
};

// Throws the exception matching `ret`, built from `error_state` (the thread's rcl error state
// when null), after calling `reset_error`.
[[noreturn]] void throw_from_rcl_error(rcl_ret_t ret, const std::string& prefix = "",
                                       const rcl_error_state_t* error_state = nullptr,
                                       void (*reset_error)() = rcl_reset_error);

}  // namespace rclcpp::exceptions
