#pragma once

#include <string>

namespace rclcpp {

enum class FutureReturnCode { SUCCESS, INTERRUPTED, TIMEOUT };

std::string to_string(const FutureReturnCode& future_return_code);

}  // namespace rclcpp
