// bt_host: loads BehaviorTree.CPP plugins, runs one tree with a shared ROS 2 node on the
// blackboard and reports the result. See --help.

#include <exception>
#include <iostream>

#include "exit_codes.hpp"
#include "host_options.hpp"
#include "host_run.hpp"
#include "kestrava_arm_host/command_line.hpp"

namespace {

int Fail(int exit_code, const std::string& message) {
  std::cerr << "bt_host: " << message << std::endl;
  return exit_code;
}

}  // namespace

int main(int argc, char* argv[]) {
  using namespace kestrava_arm::host;
  HostOptions options;
  try {
    options = ParseHostOptions(argc, argv);
  } catch (const UsageError& error) {
    return Fail(kExitUsage, std::string(error.what()) + " (see bt_host --help)");
  }
  if (options.help) {
    std::cout << HostUsage();
    return kExitSuccess;
  }
  try {
    return options.print_model ? PrintModel(options) : RunTree(options);
  } catch (const std::exception& error) {
    return Fail(kExitSetup, error.what());
  } catch (...) {
    return Fail(kExitSetup, "setup failed with an exception of unknown type");
  }
}
