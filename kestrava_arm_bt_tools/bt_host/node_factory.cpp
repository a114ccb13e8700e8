#include "node_factory.hpp"

#include <exception>
#include <filesystem>
#include <stdexcept>

#include "log_toilet_pose.hpp"

namespace kestrava_arm::host {
namespace {

void LoadPlugin(BT::BehaviorTreeFactory& factory, const std::string& path) {
  const std::size_t known_nodes = factory.manifests().size();
  try {
    factory.registerFromPlugin(path);
  } catch (const std::exception& error) {
    throw std::runtime_error("cannot load plugin " + path + ": " + error.what());
  }
  // A library without the entry point is only reported on standard output by the loader.
  if (factory.manifests().size() == known_nodes) {
    throw std::runtime_error("plugin " + path +
                             " registered no node (no BT_RegisterNodesFromPlugin entry point?)");
  }
}

}  // namespace

void LoadPlugins(BT::BehaviorTreeFactory& factory, const std::vector<std::string>& plugins) {
  for (const std::string& plugin : plugins) {
    LoadPlugin(factory, plugin);
  }
}

BT::BehaviorTreeFactory MakeFactory(const std::vector<std::string>& plugins) {
  BT::BehaviorTreeFactory factory;
  factory.registerNodeType<LogToiletPose>("LogToiletPose");
  LoadPlugins(factory, plugins);
  return factory;
}

BT::Tree BuildTree(BT::BehaviorTreeFactory& factory, const std::string& tree_file,
                   const BT::Blackboard::Ptr& blackboard) {
  if (!std::filesystem::is_regular_file(tree_file)) {
    throw std::runtime_error("tree file " + tree_file + " not found");
  }
  try {
    // BehaviorTree.CPP refuses a bare file name: it makes the file's folder absolute, and that
    // folder is empty.
    return factory.createTreeFromFile(std::filesystem::absolute(tree_file), blackboard);
  } catch (const std::exception& error) {
    throw std::runtime_error("cannot build the tree from " + tree_file + ": " + error.what());
  }
}

}  // namespace kestrava_arm::host
