#pragma once

#include <optional>
#include <string>

namespace kestrava_arm::host {

// Checks a perception request document: a YAML map of exactly "aruco_config_path" (text),
// "time_out" (number) and "camera_frame_id" (text), in this order. Returns what is wrong with it,
// or nothing when it is well formed.
std::optional<std::string> CheckRequestDocument(const std::string& request_yaml);

}  // namespace kestrava_arm::host
