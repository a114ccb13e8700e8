// Internal: builds trees from the XML documents given to the factory.
#pragma once

#include <tinyxml2.h>

#include "behaviortree_cpp/bt_factory.h"

namespace BT::xml {

// Validates the parsed (or failed) document, then builds its main tree on `blackboard`.
Tree buildMainTree(const BehaviorTreeFactory& factory, const tinyxml2::XMLDocument& document,
                   const Blackboard::Ptr& blackboard);

}  // namespace BT::xml
