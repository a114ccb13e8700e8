#pragma once

namespace kestrava_arm::host {

// Exit status of bt_host; --help lists them.
enum ExitCode : int {
  kExitSuccess = 0,      // the tree ended with SUCCESS; also --help and --print-model
  kExitTreeFailed = 1,   // the tree ended with FAILURE
  kExitUsage = 2,        // the command line is wrong
  kExitSetup = 3,        // plugin, tree, response file, ROS 2, Groot2 port, report files failed
  kExitTickError = 4,    // a node raised an exception while the tree was ticked
  kExitDeadline = 5,     // the tree was still running at the deadline and was halted
  kExitInterrupted = 6,  // SIGINT or SIGTERM arrived; the tree was halted
};

}  // namespace kestrava_arm::host
