#pragma once

#include <string>

#include "kestrava_arm_behavior_tree/common/service_introspection.hpp"
#include "kestrava_arm_host/command_line.hpp"

namespace kestrava_arm::host {

// "--introspection off|metadata|contents", the same for every program of the perception link;
// `publisher` says in the help what publishes the events. A text that names no mode, and a mode
// other than off where this build cannot publish service events, are usage errors: refused at
// start, before anything runs.
OptionDefinition IntrospectionOption(const std::string& publisher, bt::IntrospectionMode& target);

}  // namespace kestrava_arm::host
