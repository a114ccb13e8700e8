#pragma once

namespace kestrava_arm::check {

// Exit status of check_perception_service; --help lists them.
enum ExitStatus : int {
  kExitAllTaken = 0,  // every answer would be taken (live: in time)
  kExitRefused = 1,   // an answer would be refused, or came late or not at all
  kExitUsage = 2,     // the command line is wrong
  kExitSetup = 3,     // no service, a file that cannot be read or written, ROS 2
};

}  // namespace kestrava_arm::check
