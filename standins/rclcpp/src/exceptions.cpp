#include "rclcpp/exceptions.hpp"

#include <cstdio>
#include <string>

namespace {

thread_local rcl_error_state_t error_state{};
thread_local bool error_is_set = false;

std::string with_prefix(const std::string& prefix, const std::string& text) {
  return prefix.empty() ? text : prefix + ": " + text;
}

}  // namespace

void rcl_set_error_state(const char* message, const char* file, size_t line_number) {
  std::snprintf(error_state.message, sizeof(error_state.message), "%s", message);
  std::snprintf(error_state.file, sizeof(error_state.file), "%s", file);
  error_state.line_number = line_number;
  error_is_set = true;
}

const rcl_error_state_t* rcl_get_error_state(void) {
  return &error_state;
}

rcl_error_string_t rcl_get_error_string(void) {
  rcl_error_string_t text{};
  if (error_is_set) {
    std::snprintf(text.str, sizeof(text.str), "%s, at %s:%llu", error_state.message,
                  error_state.file, static_cast<unsigned long long>(error_state.line_number));
  } else {
    std::snprintf(text.str, sizeof(text.str), "error not set");
  }
  return text;
}

bool rcl_error_is_set(void) {
  return error_is_set;
}

void rcl_reset_error(void) {
  error_state = rcl_error_state_t{};
  error_is_set = false;
}

namespace rclcpp::exceptions {

NameValidationError::NameValidationError(const char* name_type_, const char* name_,
                                         const char* error_msg_, size_t invalid_index_)
    : std::invalid_argument(format_error(name_type_, name_, error_msg_, invalid_index_)),
      name_type(name_type_),
      name(name_),
      error_msg(error_msg_),
      invalid_index(invalid_index_) {}

std::string NameValidationError::format_error(const char* name_type, const char* name,
                                              const char* error_msg, size_t invalid_index) {
  return std::string("Invalid ") + name_type + ": " + error_msg + ":\n  '" + name + "'\n   " +
         std::string(invalid_index, ' ') + "^\n";
}

RCLErrorBase::RCLErrorBase(rcl_ret_t ret, const rcl_error_state_t* error_state)
    : ret(ret),
      message(error_state->message),
      file(error_state->file),
      line(error_state->line_number),
      formatted_message(rcl_get_error_string().str) {}

RCLError::RCLError(rcl_ret_t ret, const rcl_error_state_t* error_state, const std::string& prefix)
    : RCLError(RCLErrorBase(ret, error_state), prefix) {}

RCLError::RCLError(const RCLErrorBase& base_exc, const std::string& prefix)
    : RCLErrorBase(base_exc), std::runtime_error(with_prefix(prefix, base_exc.formatted_message)) {}

RCLBadAlloc::RCLBadAlloc(rcl_ret_t ret, const rcl_error_state_t* error_state)
    : RCLBadAlloc(RCLErrorBase(ret, error_state)) {}

RCLBadAlloc::RCLBadAlloc(const RCLErrorBase& base_exc) : RCLErrorBase(base_exc) {}

RCLInvalidArgument::RCLInvalidArgument(rcl_ret_t ret, const rcl_error_state_t* error_state,
                                       const std::string& prefix)
    : RCLInvalidArgument(RCLErrorBase(ret, error_state), prefix) {}

RCLInvalidArgument::RCLInvalidArgument(const RCLErrorBase& base_exc, const std::string& prefix)
    : RCLErrorBase(base_exc),
      std::invalid_argument(with_prefix(prefix, base_exc.formatted_message)) {}

RCLInvalidROSArgsError::RCLInvalidROSArgsError(rcl_ret_t ret, const rcl_error_state_t* error_state,
                                               const std::string& prefix)
    : RCLInvalidROSArgsError(RCLErrorBase(ret, error_state), prefix) {}

RCLInvalidROSArgsError::RCLInvalidROSArgsError(const RCLErrorBase& base_exc,
                                               const std::string& prefix)
    : RCLErrorBase(base_exc), std::runtime_error(with_prefix(prefix, base_exc.formatted_message)) {}

void throw_from_rcl_error(rcl_ret_t ret, const std::string& prefix,
                          const rcl_error_state_t* error_state, void (*reset_error)()) {
  const RCLErrorBase base(ret, error_state != nullptr ? error_state : rcl_get_error_state());
  if (reset_error != nullptr) {
    reset_error();
  }
  switch (ret) {
    case RCL_RET_BAD_ALLOC:
      throw RCLBadAlloc(base);
    case RCL_RET_INVALID_ARGUMENT:
      throw RCLInvalidArgument(base, prefix);
    case RCL_RET_INVALID_ROS_ARGS:
      throw RCLInvalidROSArgsError(base, prefix);
    default:
      throw RCLError(base, prefix);
  }
}

}  // namespace rclcpp::exceptions
