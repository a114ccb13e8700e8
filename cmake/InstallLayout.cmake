# Where the package installs its parts. In a ROS 2 workspace (ament_cmake found) it is an ament
# package: registered in the ament index, the programs in lib/<package>/ where `ros2 run` looks,
# and the node library exported for other packages as
# kestrava_arm_behavior_tree::detect_toilet_info_node (its outcome codes and blackboard keys alone
# as kestrava_arm_behavior_tree::detect_toilet_info_codes):
#
#   find_package(kestrava_arm_behavior_tree REQUIRED)
#   target_link_libraries(my_nodes PUBLIC kestrava_arm_behavior_tree::detect_toilet_info_node)
#
# A plain CMake build installs the same files, the programs in bin/, and exports nothing.
include(GNUInstallDirs)

if(NOT KESTRAVA_USE_STANDINS)
  find_package(ament_cmake QUIET)
endif()

set(KESTRAVA_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/${PROJECT_NAME})
set(KESTRAVA_INSTALL_DATADIR ${CMAKE_INSTALL_DATADIR}/${PROJECT_NAME})
if(ament_cmake_FOUND)
  set(KESTRAVA_INSTALL_LIBDIR lib)
  set(KESTRAVA_INSTALL_PROGRAMDIR lib/${PROJECT_NAME})
else()
  set(KESTRAVA_INSTALL_LIBDIR ${CMAKE_INSTALL_LIBDIR})
  set(KESTRAVA_INSTALL_PROGRAMDIR ${CMAKE_INSTALL_BINDIR})
endif()

# A macro, not a function: ament_package() must run in the top-level directory scope.
macro(kestrava_install_package)
  install(DIRECTORY include/ DESTINATION ${KESTRAVA_INSTALL_INCLUDEDIR})
  install(FILES palette/detect_toilet_info_node.xml DESTINATION ${KESTRAVA_INSTALL_DATADIR})
  if(ament_cmake_FOUND AND NOT KESTRAVA_BT_STANDIN AND NOT KESTRAVA_RCLCPP_STANDIN)
    # The node library links the real packages through the kestrava:: interface targets, so
    # they travel with it.
    install(TARGETS detect_toilet_info_node detect_toilet_info_codes kestrava_behaviortree
      kestrava_rclcpp kestrava_ros_interfaces
      EXPORT ${PROJECT_NAME}Targets
      LIBRARY DESTINATION ${KESTRAVA_INSTALL_LIBDIR}
      INCLUDES DESTINATION ${KESTRAVA_INSTALL_INCLUDEDIR})
    ament_export_targets(${PROJECT_NAME}Targets HAS_LIBRARY_TARGET)
    ament_export_dependencies(behaviortree_cpp rclcpp std_msgs geometry_msgs
      kestrava_arm_perception_srvs kestrava_protocol spdlog fmt)
  else()
    install(TARGETS detect_toilet_info_node LIBRARY DESTINATION ${KESTRAVA_INSTALL_LIBDIR})
  endif()
  if(ament_cmake_FOUND)
    ament_package()
  endif()
endmacro()
