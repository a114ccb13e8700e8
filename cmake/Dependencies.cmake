# Chooses between the real BehaviorTree.CPP / rclcpp packages and the bundled stand-ins, and
# exposes the choice as three targets the rest of the build links against:
#   kestrava::behaviortree     BehaviorTree.CPP v4
#   kestrava::rclcpp           rclcpp
#   kestrava::ros_interfaces   std_msgs, geometry_msgs, kestrava_arm_perception_srvs, kestrava_protocol
# and yaml-cpp, whichever version was found, as kestrava::yaml_cpp.

find_package(PkgConfig REQUIRED)
pkg_check_modules(systemd REQUIRED IMPORTED_TARGET libsystemd)
find_package(fmt REQUIRED)
find_package(spdlog REQUIRED)
find_package(yaml-cpp REQUIRED)
find_package(Threads REQUIRED)

# yaml-cpp 0.8 exports the target yaml-cpp::yaml-cpp alone, 0.7 the bare yaml-cpp. Linking a name
# that is no target falls back to -lyaml-cpp from the system folders, whichever version was found.
add_library(kestrava_yaml_cpp INTERFACE)
add_library(kestrava::yaml_cpp ALIAS kestrava_yaml_cpp)
if(TARGET yaml-cpp::yaml-cpp)
  target_link_libraries(kestrava_yaml_cpp INTERFACE yaml-cpp::yaml-cpp)
else()
  target_link_libraries(kestrava_yaml_cpp INTERFACE yaml-cpp)
endif()

set(_platform_dir ${CMAKE_CURRENT_SOURCE_DIR}/platform)

# BehaviorTree.CPP
# A plain CMake install of BehaviorTree.CPP ships no version file, so the major version is
# checked here rather than by find_package.
if(NOT KESTRAVA_USE_STANDINS)
  find_package(behaviortree_cpp QUIET)
  if(behaviortree_cpp_FOUND AND behaviortree_cpp_VERSION AND NOT behaviortree_cpp_VERSION MATCHES "^4\\.")
    message(WARNING "BehaviorTree.CPP ${behaviortree_cpp_VERSION} is not 4.x; using the stand-in")
    set(behaviortree_cpp_FOUND FALSE)
  endif()
endif()
add_library(kestrava_behaviortree INTERFACE)
add_library(kestrava::behaviortree ALIAS kestrava_behaviortree)
if(behaviortree_cpp_FOUND)
  message(STATUS "BehaviorTree.CPP: installed package ${behaviortree_cpp_VERSION} in ${behaviortree_cpp_DIR}")
  if(TARGET BT::behaviortree_cpp)
    set(_bt_target BT::behaviortree_cpp)
  else()
    set(_bt_target behaviortree_cpp)
  endif()
  target_link_libraries(kestrava_behaviortree INTERFACE ${_bt_target})
  set(KESTRAVA_BT_STANDIN OFF)
else()
  message(STATUS "BehaviorTree.CPP: bundled stand-in (platform/behaviortree_cpp)")
  add_subdirectory(${_platform_dir}/behaviortree_cpp)
  target_link_libraries(kestrava_behaviortree INTERFACE BT::behaviortree_cpp)
  set(KESTRAVA_BT_STANDIN ON)
endif()

# What the BehaviorTree.CPP in use offers Groot2 users: the live publisher (built only with
# ZeroMQ) and the file recorder. The stand-in has neither; bt_host refuses the options for what
# is missing, so each is checked by linking a use of it.
include(CheckCXXSourceCompiles)
function(kestrava_check_bt_logger result header class description)
  set(CMAKE_REQUIRED_LIBRARIES ${_bt_target})
  set(CMAKE_REQUIRED_QUIET ON)
  check_cxx_source_compiles("
    #include <behaviortree_cpp/loggers/${header}>
    int main() {
      BT::Tree tree;
      ${class} logger(tree, {});
    }" ${result})
  if(${result})
    message(STATUS "BehaviorTree.CPP: ${description}: yes")
  else()
    message(STATUS "BehaviorTree.CPP: ${description}: no")
  endif()
endfunction()
if(KESTRAVA_BT_STANDIN)
  set(KESTRAVA_BT_GROOT2_PUBLISHER OFF)
  set(KESTRAVA_BT_FILE_LOGGER2 OFF)
  set(KESTRAVA_BT_DESCRIPTION "the bundled BehaviorTree.CPP stand-in")
  message(STATUS "BehaviorTree.CPP: the stand-in has no Groot2 publisher and no file recorder")
else()
  kestrava_check_bt_logger(KESTRAVA_BT_GROOT2_PUBLISHER groot2_publisher.h BT::Groot2Publisher
    "Groot2 publisher (bt_host --groot2-port)")
  kestrava_check_bt_logger(KESTRAVA_BT_FILE_LOGGER2 bt_file_logger_v2.h BT::FileLogger2
    "file recorder for Groot2 (bt_host --record)")
  set(KESTRAVA_BT_DESCRIPTION "the BehaviorTree.CPP of ${behaviortree_cpp_DIR}")
endif()

# rclcpp and the message/service types
if(NOT KESTRAVA_USE_STANDINS)
  find_package(rclcpp QUIET)
endif()
add_library(kestrava_rclcpp INTERFACE)
add_library(kestrava::rclcpp ALIAS kestrava_rclcpp)
add_library(kestrava_ros_interfaces INTERFACE)
add_library(kestrava::ros_interfaces ALIAS kestrava_ros_interfaces)
if(rclcpp_FOUND)
  message(STATUS "rclcpp: installed package ${rclcpp_VERSION} (${rclcpp_DIR})")
  find_package(std_msgs REQUIRED)
  find_package(geometry_msgs REQUIRED)
  find_package(kestrava_arm_perception_srvs REQUIRED)
  find_package(kestrava_protocol REQUIRED)
  target_link_libraries(kestrava_rclcpp INTERFACE rclcpp::rclcpp)
  target_link_libraries(kestrava_ros_interfaces INTERFACE
    ${std_msgs_TARGETS} ${geometry_msgs_TARGETS}
    ${kestrava_arm_perception_srvs_TARGETS} ${kestrava_protocol_TARGETS})
  set(KESTRAVA_RCLCPP_STANDIN OFF)
else()
  message(STATUS "rclcpp: bundled stand-in (platform/rclcpp, platform/ros_interfaces)")
  add_subdirectory(${_platform_dir}/rclcpp)
  add_subdirectory(${_platform_dir}/ros_interfaces)
  target_link_libraries(kestrava_rclcpp INTERFACE rclcpp::rclcpp)
  target_link_libraries(kestrava_ros_interfaces INTERFACE ros_interfaces_standin)
  set(KESTRAVA_RCLCPP_STANDIN ON)
endif()
