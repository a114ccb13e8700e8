#include <sstream>

#include "kestrava_arm_behavior_tree/common/utils.hpp"

namespace kestrava_arm::bt {
namespace {

void LogPose(const char* colour, const char* name, const geometry_msgs::msg::Pose& pose) {
  const auto& position = pose.position;
  const auto& orientation = pose.orientation;
  LOG_INFO("{}{}/pos:({:.6f}, {:.6f}, {:.6f}){}", colour, name, position.x, position.y, position.z,
           RESET);
  LOG_INFO("{}{}/ori:({:.6f}, {:.6f}, {:.6f}, {:.6f}){}", colour, name, orientation.w,
           orientation.x, orientation.y, orientation.z, RESET);
}

}  // namespace

// The label is taken by value as the exported signature has always had it.
// NOLINTNEXTLINE(performance-unnecessary-value-param)
void PrintfFloat64MultiArray(std::string label, const std_msgs::msg::Float64MultiArray& array) {
  std::ostringstream text;
  text << label << ": [";
  for (const double value : array.data) {
    text << value << ' ';
  }
  text << ']';
  // An argument, not the format: braces in the label or values are printed as they are.
  LOG_INFO("{}", text.str());
}

void PrintfTrashInfo(const kestrava_protocol::msg::TrashInfo& trash_info) {
  // The 8-bit members are numbers, not characters.
  LOG_INFO("{}class_id: {}{}", BLUE, static_cast<unsigned>(trash_info.class_id), RESET);
  LOG_INFO("{}location: {}{}", DIM_BLUE, static_cast<unsigned>(trash_info.location), RESET);
  LOG_INFO("{}mainaxis_type: {}{}", DIM_BLUE, static_cast<unsigned>(trash_info.mainaxis_type),
           RESET);
  LOG_INFO("{}is_transparent: {}{}", DIM_BLUE, trash_info.is_transparent, RESET);
  LogPose(DIM_GREEN, "map_pose", trash_info.map_pose);
  LogPose(GREEN, "grab_pose", trash_info.grab_pose);
  LogPose(DIM_BLUE, "obb_pose", trash_info.obb_pose);
  const auto& size = trash_info.obb_size;
  LOG_INFO("{}obb_size:({:.6f}, {:.6f}, {:.6f}){}", DIM_BLUE, size.x, size.y, size.z, RESET);
}

}  // namespace kestrava_arm::bt
