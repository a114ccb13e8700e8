#pragma once

#include "kestrava_arm_behavior_tree/contract/perception_contract.hpp"

namespace kestrava_arm::host {

// The service checks each request against the node's own statement of the request document.
using bt::CheckRequestDocument;

}  // namespace kestrava_arm::host
