#include "fuzz_support.hpp"

#include <chrono>
#include <cstdlib>

namespace kestrava_arm::bt::fuzzing {
namespace {

// The logging facade reads its settings at its first line, which loading the plugin writes.
struct QuietLoggingByDefault {
  QuietLoggingByDefault() {
    setenv("SPDLOG_STDOUT", "false", 0);
    setenv("SPDLOG_SYSTEMD", "false", 0);
  }
};

struct FuzzHost {
  QuietLoggingByDefault quiet;
  testing::NodeHarness harness;
};

}  // namespace

testing::NodeHarness& SharedHarness() {
  static FuzzHost host;
  return host.harness;
}

BT::NodeStatus RunToEnd(BT::Tree& tree) {
  return testing::TickUntilDone(tree, std::chrono::microseconds(0));
}

}  // namespace kestrava_arm::bt::fuzzing
