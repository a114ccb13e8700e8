#pragma once

// The rclcpp release whose behaviour the stand-in follows: Humble's.
#define RCLCPP_VERSION_MAJOR (16)
#define RCLCPP_VERSION_MINOR (0)
#define RCLCPP_VERSION_PATCH (11)
#define RCLCPP_VERSION_STR "16.0.11"

// True when the release is major.minor.patch or later.
#define RCLCPP_VERSION_GTE(major, minor, patch)                       \
  (RCLCPP_VERSION_MAJOR != (major)   ? RCLCPP_VERSION_MAJOR > (major) \
   : RCLCPP_VERSION_MINOR != (minor) ? RCLCPP_VERSION_MINOR > (minor) \
                                     : RCLCPP_VERSION_PATCH >= (patch))
