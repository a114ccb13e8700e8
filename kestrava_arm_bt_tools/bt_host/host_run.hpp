#pragma once

#include "host_options.hpp"

namespace kestrava_arm::host {

// Sets up ROS 2, the simulated service (if asked), the factory and the tree, ticks the tree and
// prints the result and the blackboard. Returns the exit status; setup errors are thrown.
int RunTree(const HostOptions& options);

// Writes the node model of the factory (plugins and host nodes) to standard output.
int PrintModel(const HostOptions& options);

}  // namespace kestrava_arm::host
