#pragma once

#include <memory>
#include <string>

#include "rosidl_runtime_cpp/message_initialization.hpp"

namespace kestrava_arm_perception_srvs::srv {

// Request and response each carry one YAML document as text.
template <class ContainerAllocator>
struct ArmPerceptionCommon_Request_
    : rosidl_standin::MessagePointers<ArmPerceptionCommon_Request_<ContainerAllocator>> {
  using Type = ArmPerceptionCommon_Request_<ContainerAllocator>;
  explicit ArmPerceptionCommon_Request_(rosidl_runtime_cpp::MessageInitialization /*init*/ =
                                            rosidl_runtime_cpp::MessageInitialization::ALL) {}

  std::string request_yaml;
};

template <class ContainerAllocator>
struct ArmPerceptionCommon_Response_
    : rosidl_standin::MessagePointers<ArmPerceptionCommon_Response_<ContainerAllocator>> {
  using Type = ArmPerceptionCommon_Response_<ContainerAllocator>;
  explicit ArmPerceptionCommon_Response_(rosidl_runtime_cpp::MessageInitialization /*init*/ =
                                             rosidl_runtime_cpp::MessageInitialization::ALL) {}

  std::string response_yaml;
};

using ArmPerceptionCommon_Request = ArmPerceptionCommon_Request_<std::allocator<void>>;
using ArmPerceptionCommon_Response = ArmPerceptionCommon_Response_<std::allocator<void>>;

struct ArmPerceptionCommon {
  using Request = ArmPerceptionCommon_Request;
  using Response = ArmPerceptionCommon_Response;
};

}  // namespace kestrava_arm_perception_srvs::srv
