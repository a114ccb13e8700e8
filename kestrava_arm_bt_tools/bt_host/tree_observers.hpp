#pragma once

#include <memory>
#include <string>
#include <vector>

#include "behaviortree_cpp/bt_factory.h"
#include "host_options.hpp"

namespace kestrava_arm::host {

// Whether the BehaviorTree.CPP this host was built against can publish a running tree to Groot2
// (Groot2Publisher, which needs ZeroMQ) and record its status changes in Groot2's replay format
// (FileLogger2), and what it is, for the message that refuses the options where it cannot.
bool CanPublishToGroot2();
bool CanRecordForGroot2();
std::string BehaviorTreeBuild();

// What Groot2 sees of the tree for as long as this object lives: the live publisher
// (--groot2-port) and the recording (--record), as the options ask. Destroy it before the tree;
// the recording is complete once it is destroyed.
class TreeObservers {
 public:
  // Throws std::runtime_error when an observer cannot start: a port in use, a file that cannot
  // be written.
  TreeObservers(const BT::Tree& tree, const HostOptions& options);
  ~TreeObservers();
  TreeObservers(const TreeObservers&) = delete;
  TreeObservers& operator=(const TreeObservers&) = delete;

 private:
  struct Loggers;
  std::unique_ptr<Loggers> loggers_;
};

}  // namespace kestrava_arm::host
