#pragma once

#include <string>

#include "behaviortree_cpp/bt_factory.h"

namespace BT {

// The node models of the factory as a Groot-compatible <TreeNodesModel> document.
[[nodiscard]] std::string writeTreeNodesModelXML(const BehaviorTreeFactory& factory,
                                                 bool include_builtin = false);

}  // namespace BT
