// The time limit of a run while NTP steps the machine's wall clock by an hour, as it does on a
// robot that booted without a clock battery. A program of its own: it replaces clock_gettime for
// the whole process (wall_clock_step.cpp).
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "kestrava_arm_behavior_tree/action/detect_toilet_info_codes_and_keys.hpp"
#include "log_capture.hpp"
#include "node_harness.hpp"
#include "wall_clock_step.hpp"

namespace kestrava_arm::bt::testing {
namespace {

using namespace std::chrono_literals;

// The milliseconds of the cost line a finished run logs.
double LoggedCost(const std::vector<std::string>& lines) {
  const std::string marker = "detect toilet cost ";
  for (const std::string& line : lines) {
    if (const auto at = line.find(marker); at != std::string::npos) {
      return std::stod(line.substr(at + marker.size()));
    }
  }
  ADD_FAILURE() << "no cost line";
  return 0;
}

class WallClockStepTest : public ::testing::Test {
 protected:
  ~WallClockStepTest() override { ResetWallClock(); }

  // Steps the wall clock and checks that the C++ library's system clock follows: the plugin reads
  // it through the same C library call.
  static void StepAndCheck(std::chrono::hours step) {
    const auto before = std::chrono::system_clock::now();
    StepWallClock(step);
    const auto moved = std::chrono::system_clock::now() - before;
    ASSERT_LT(std::chrono::abs(moved - step), 1min) << "clock_gettime was not replaced";
  }

  // Starts a run and waits until its request has reached the service.
  void StartRun(BT::Tree& tree) {
    ASSERT_EQ(tree.tickOnce(), BT::NodeStatus::RUNNING);
    harness_.service().WaitForRequest(0);
  }

  NodeHarness harness_;
};

TEST_F(WallClockStepTest, StepBackDoesNotPostponeTheTimeout) {
  auto tree = harness_.CreateTree("300");
  ASSERT_NO_FATAL_FAILURE(StartRun(tree));
  ASSERT_NO_FATAL_FAILURE(StepAndCheck(-1h));
  EXPECT_EQ(TickUntilDone(tree), BT::NodeStatus::FAILURE);
  EXPECT_EQ(harness_.blackboard()->get<int>("status_code"), kStatusTimeout);
}

TEST_F(WallClockStepTest, StepForwardNeitherExpiresTheLimitNorInflatesTheCost) {
  constexpr int kLimitMs = 10000;
  auto tree = harness_.CreateTree(std::to_string(kLimitMs));
  ASSERT_NO_FATAL_FAILURE(StartRun(tree));
  ASSERT_NO_FATAL_FAILURE(StepAndCheck(1h));
  LogCapture log;
  ASSERT_EQ(tree.tickOnce(), BT::NodeStatus::RUNNING);
  harness_.service().Answer(0, SuccessAnswer());
  ASSERT_EQ(TickUntilDone(tree), BT::NodeStatus::SUCCESS);
  EXPECT_LT(LoggedCost(log.Lines()), kLimitMs);
}

}  // namespace
}  // namespace kestrava_arm::bt::testing
