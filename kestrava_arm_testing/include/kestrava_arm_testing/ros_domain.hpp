#pragma once

namespace kestrava_arm::bt::testing {

// Gives this process a ROS 2 domain that no other test process on the machine holds, and
// returns it. CTest runs every test case as a process of its own, in parallel, and on DDS every
// process of one domain sees every other's services: a test would be answered by a service that
// another test offers. The domain goes into ROS_DOMAIN_ID, so call this before rclcpp::init and
// before starting child processes, which inherit it. The first call claims the domain, later
// calls return it; the claim lasts until the process ends. The stand-in transport never leaves
// the process, so there the domain only keeps the environment alike.
int IsolateRosDomain();

}  // namespace kestrava_arm::bt::testing
