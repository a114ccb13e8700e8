#pragma once

#include <string>
#include <vector>

#include "behaviortree_cpp/bt_factory.h"

namespace kestrava_arm::host {

// Registers the nodes of every plugin. Throws std::runtime_error naming the plugin that could not
// be loaded or registered no node.
void LoadPlugins(BT::BehaviorTreeFactory& factory, const std::vector<std::string>& plugins);

// A factory that knows the host's own nodes (LogToiletPose) and those of every plugin. Throws
// std::runtime_error naming the plugin that could not be loaded or registered no node.
BT::BehaviorTreeFactory MakeFactory(const std::vector<std::string>& plugins);

// Builds the main tree of the file (relative to the working directory) on the blackboard; throws
// std::runtime_error naming the file.
BT::Tree BuildTree(BT::BehaviorTreeFactory& factory, const std::string& tree_file,
                   const BT::Blackboard::Ptr& blackboard);

}  // namespace kestrava_arm::host
