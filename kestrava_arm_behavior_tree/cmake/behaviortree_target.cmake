# KESTRAVA_BT_TARGET: the BehaviorTree.CPP 4.x library target. A plain CMake install of
# BehaviorTree.CPP names it BT::behaviortree_cpp, an ament one behaviortree_cpp::behaviortree_cpp;
# neither ships a version file, so the major version is checked here.
if(TARGET BT::behaviortree_cpp)
  set(KESTRAVA_BT_TARGET BT::behaviortree_cpp)
else()
  set(KESTRAVA_BT_TARGET behaviortree_cpp::behaviortree_cpp)
endif()
if(behaviortree_cpp_VERSION AND NOT behaviortree_cpp_VERSION MATCHES "^4\\.")
  message(FATAL_ERROR "BehaviorTree.CPP ${behaviortree_cpp_VERSION} found; 4.x is needed")
endif()
