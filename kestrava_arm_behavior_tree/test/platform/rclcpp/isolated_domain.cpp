// Every case of this program runs in a ROS 2 domain of its own: over DDS the cases that CTest
// runs side by side would otherwise answer one another's requests. Claimed before main, so before
// any case initialises rclcpp.
#include "kestrava_arm_testing/ros_domain.hpp"

namespace {

[[maybe_unused]] const int kDomain = kestrava_arm::bt::testing::IsolateRosDomain();

}  // namespace
