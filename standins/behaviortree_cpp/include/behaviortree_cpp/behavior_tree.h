#pragma once

#include "behaviortree_cpp/action_node.h"
#include "behaviortree_cpp/actions/always_failure_node.h"
#include "behaviortree_cpp/actions/always_success_node.h"
#include "behaviortree_cpp/basic_types.h"
#include "behaviortree_cpp/blackboard.h"
#include "behaviortree_cpp/control_node.h"
#include "behaviortree_cpp/controls/fallback_node.h"
#include "behaviortree_cpp/controls/reactive_sequence.h"
#include "behaviortree_cpp/controls/sequence_node.h"
#include "behaviortree_cpp/exceptions.h"
#include "behaviortree_cpp/tree_node.h"
