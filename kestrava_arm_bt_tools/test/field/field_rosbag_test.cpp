// The field recorded as ROS teams record it: `ros2 bag record --services` beside bt_host and the
// simulated service with introspection on, and the bag's requests played to a fresh service.

#include <chrono>
#include <csignal>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "kestrava_arm_behavior_tree/contract/perception_contract.hpp"
#include "kestrava_arm_testing/child_process.hpp"
#include "secure_processes.hpp"

namespace {

using kestrava::test::BackgroundChild;
using kestrava::test::ExitStatusOf;
using kestrava::test::kNoSecurity;
using kestrava::test::RunChild;

constexpr int kRuns = 20;
constexpr const char* kService = "/arm_perception_common";
constexpr std::chrono::seconds kStartLimit{20};

class FieldRosbagTest : public ::testing::Test {
 protected:
  std::unique_ptr<BackgroundChild> Service(const std::string& introspection) {
    auto service = std::make_unique<BackgroundChild>(
        KESTRAVA_PERCEPTION_SERVICE,
        std::vector<std::string>{"--response", KESTRAVA_EXAMPLES_DIR "/responses/success.yaml",
                                 "--introspection", introspection},
        environment_);
    EXPECT_TRUE(service->AwaitOutput(std::string("offering ") + kService, kStartLimit))
        << service->Output();
    return service;
  }

  kestrava::test::TemporaryFolder folder_;
  const std::string bag_ = (folder_.path() / "bag").string();
  const std::vector<std::string> environment_ = kestrava::test::EnvironmentFor(kNoSecurity);
};

int EventCount(const std::string& bag_info) {
  static const std::regex kService(
      R"(Service: /arm_perception_common \| Type: \S+ \| Event Count: (\d+))");
  std::smatch match;
  return std::regex_search(bag_info, match, kService) ? std::stoi(match[1].str()) : -1;
}

// Plays the bag's requests until a playback reaches the service. The player sends each request at
// once without waiting for the service, and nothing outside the player can tell when its client
// has discovered it; so each try waits longer before playing, and a try that reached the service
// ends the tries.
void PlayRequestsTo(const BackgroundChild& service, const std::string& bag,
                    const std::vector<std::string>& environment) {
  for (const char* delay : {"1", "2", "4", "8"}) {
    const auto play = RunChild(
        "ros2", {"bag", "play", "--publish-service-requests", "--delay", delay, bag}, environment);
    ASSERT_EQ(ExitStatusOf(play.wait_status), 0) << play.out << play.err;
    if (service.AwaitOutput("request #1:", std::chrono::seconds(2))) {
      return;
    }
  }
  FAIL() << "no playback reached the service\n" << service.Output();
}

TEST_F(FieldRosbagTest, TheBagHoldsEveryEventAndPlaysTheRecordedRequestsToAFreshService) {
  {
    const auto service = Service("contents");
    BackgroundChild recorder("ros2", {"bag", "record", "--services", kService, "-o", bag_},
                             environment_);
    ASSERT_TRUE(recorder.AwaitOutput(
        std::string("Subscribed to topic '") + kService + "/_service_event'", kStartLimit))
        << recorder.Output();
    // Runs spaced as a robot's are: played back, requests recorded a few milliseconds apart
    // reached a fresh service only in part (10 of 20, over Fast DDS).
    const auto host =
        RunChild(KESTRAVA_BT_HOST,
                 {"--plugin", KESTRAVA_PLUGIN, "--tree", KESTRAVA_EXAMPLES_DIR "/detect_only.xml",
                  "--repeat", std::to_string(kRuns), "--tick-period-ms", "10", "--pause-ms", "100",
                  "--introspection", "contents"},
                 environment_);
    ASSERT_EQ(ExitStatusOf(host.wait_status), 0) << host.out << host.err;
    EXPECT_EQ(recorder.Stop(SIGINT), 0) << recorder.Output();
  }
  const auto info = RunChild("ros2", {"bag", "info", bag_}, environment_);
  ASSERT_EQ(ExitStatusOf(info.wait_status), 0) << info.out << info.err;
  // Client and service each publish a request and an answer event per exchange. The service's
  // event publisher was there before the recorder subscribed; the host's is new, and the first
  // request of a host that has just started can go out before the recorder has discovered it:
  // that exchange's two client events may be missing, never more.
  EXPECT_GE(EventCount(info.out), 4 * kRuns - 2) << info.out;
  EXPECT_LE(EventCount(info.out), 4 * kRuns) << info.out;

  const auto fresh = Service("off");
  PlayRequestsTo(*fresh, bag_, environment_);
  const std::string request = kestrava_arm::bt::WritePerceptionRequest({}, 2000).request_yaml;
  ASSERT_TRUE(fresh->AwaitOutput("request #" + std::to_string(kRuns) + ":", kStartLimit))
      << fresh->Output();
  EXPECT_THAT(fresh->Output(),
              ::testing::HasSubstr("request #" + std::to_string(kRuns) + ":\n" + request));
  EXPECT_THAT(fresh->Output(),
              ::testing::Not(::testing::HasSubstr("request #" + std::to_string(kRuns + 1) + ":")))
      << "each recorded request once, from the service's side of the bag";
}

}  // namespace
