#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

#include "kestrava_arm_behavior_tree/visibility_control.hpp"

// The splitting of task descriptions, which the perception contract needs without ROS.
namespace kestrava_arm::bt {

// Cuts blanks, line feeds, carriage returns and tabs from both ends.
KESTRAVA_ARM_BT_PUBLIC std::string TrimStr(const std::string& text);

// Stores the entries of a "name:value;name:value" text in name_values, trimmed, the last
// occurrence of a name winning; entries without a colon are skipped. Returns the map's size.
KESTRAVA_ARM_BT_PUBLIC std::int32_t GetNameValues(
    const std::string& text, std::unordered_map<std::string, std::string>& name_values);

}  // namespace kestrava_arm::bt
