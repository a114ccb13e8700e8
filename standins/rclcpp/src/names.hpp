#pragma once

#include <cstddef>
#include <optional>
#include <string>

// The rcl/rmw name rules: validation of names as given and after expansion, and expansion.
namespace rclcpp::detail {

struct NameIssue {
  const char* message;
  size_t index;
};

// A topic or service name as the user wrote it (before expansion).
std::optional<NameIssue> validate_input_name(const std::string& name);
// A fully expanded topic or service name.
std::optional<NameIssue> validate_full_name(const std::string& name);
std::optional<NameIssue> validate_namespace(const std::string& namespace_);
std::optional<NameIssue> validate_node_name(const std::string& node_name);

// "/<node>" or "<namespace>/<node>".
std::string join_namespace(const std::string& namespace_, const std::string& name);

// Expands "~", substitutions and relative names of an input-valid name; nullopt for an unknown
// substitution.
std::optional<std::string> expand_name(const std::string& name, const std::string& node_name,
                                       const std::string& namespace_);

}  // namespace rclcpp::detail
