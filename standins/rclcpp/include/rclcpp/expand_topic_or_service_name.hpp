#pragma once

#include <string>

namespace rclcpp {

// Expands a relative or private name against the node's name and namespace and validates it.
// Throws InvalidTopicNameError / InvalidServiceNameError, InvalidNodeNameError or
// InvalidNamespaceError.
std::string expand_topic_or_service_name(const std::string& name, const std::string& node_name,
                                         const std::string& namespace_, bool is_service = false);

}  // namespace rclcpp
