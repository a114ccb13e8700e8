#include "blackboard_report.hpp"

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <vector>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "behaviortree_cpp/utils/demangle_util.h"
#include "kestrava_arm_behavior_tree/action/detect_toilet_info_codes_and_keys.hpp"

namespace kestrava_arm::host {
namespace {

std::vector<std::string> SortedKeys(const BT::Blackboard& blackboard) {
  std::vector<std::string> keys;
  for (const auto& key : blackboard.getKeys()) {
    if (key != bt::kSharedNodeKey) {
      keys.emplace_back(key);
    }
  }
  std::sort(keys.begin(), keys.end());
  return keys;
}

}  // namespace

std::string DescribeValue(const BT::Any& value) {
  if (value.empty()) {
    return "(no value)";
  }
  if (value.isType<std::vector<double>>()) {
    return fmt::format("[{}]", fmt::join(value.cast<std::vector<double>>(), ", "));
  }
  if (value.isString()) {
    return fmt::format("\"{}\"", value.cast<std::string>());
  }
  if (value.isType<bool>()) {
    return value.cast<bool>() ? "true" : "false";
  }
  if (value.isType<std::uint64_t>()) {
    return std::to_string(value.cast<std::uint64_t>());
  }
  if (value.isIntegral()) {
    return std::to_string(value.cast<std::int64_t>());
  }
  if (value.isNumber()) {
    return fmt::format("{}", value.cast<double>());
  }
  return fmt::format("({})", BT::demangle(value.type()));
}

std::string DescribeBlackboard(const BT::Blackboard& blackboard) {
  std::string text;
  for (const std::string& key : SortedKeys(blackboard)) {
    const auto entry = blackboard.getEntry(key);
    const std::lock_guard<std::mutex> lock(entry->entry_mutex);
    text += fmt::format("  {} = {}\n", key, DescribeValue(entry->value));
  }
  return text;
}

}  // namespace kestrava_arm::host
