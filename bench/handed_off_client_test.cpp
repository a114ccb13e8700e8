// The two threads of dds_round_trip's handed-off client, on the stand-ins: the executor thread
// parses the answer while the waiting thread marks the run, and a run given up on leaves nothing
// that a late answer could reach.

#include <algorithm>
#include <chrono>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "handed_off_client.hpp"
#include "kestrava_arm_host/simulated_perception_service.hpp"
#include "kestrava_arm_testing/child_process.hpp"
#include "kestrava_arm_testing/ros_domain.hpp"
#include "ros_session.hpp"

namespace kestrava_arm::bench {
namespace {

using std::chrono::milliseconds;
using ::testing::HasSubstr;
using ::testing::ThrowsMessage;

const std::string kSuccess =
    kestrava::test::ReadWholeFile(KESTRAVA_EXAMPLES_DIR "/responses/success.yaml");

class HandedOffClientTest : public ::testing::Test {
 protected:
  HandedOffClientTest() { bt::testing::IsolateRosDomain(); }

  HandedOffClient Client(milliseconds answer_limit) {
    return {[] { return std::make_shared<ServiceType::Request>(); }, ros_.node(),
            "/arm_perception_common", answer_limit};
  }

  host::RosSession ros_{"handed_off_client_test", {}};
};

std::vector<std::string> NamesOf(const Timeline& timeline) {
  std::vector<std::string> names;
  for (const auto& [name, time] : timeline.marks()) {
    names.push_back(name);
  }
  return names;
}

bool InOrderOfTime(const Timeline& timeline) {
  const auto& marks = timeline.marks();
  return std::is_sorted(marks.begin(), marks.end(),
                        [](const auto& a, const auto& b) { return a.second < b.second; });
}

// Many runs, so that the executor thread's moments often fall beside the waiting thread's marks
// (which ThreadSanitizer reports if they meet unsynchronised).
TEST_F(HandedOffClientTest, MarksEachRunInOrderWithTheExecutorThreadsMoments) {
  const host::SimulatedPerceptionService service(ros_.node(),
                                                 {"/arm_perception_common", kSuccess, {}});
  HandedOffClient client = Client(milliseconds(10000));
  for (int run = 0; run < 200; ++run) {
    Timeline timeline;
    timeline.Begin();
    EXPECT_GT(client.RoundTrip(timeline), 0.0);
    EXPECT_TRUE(InOrderOfTime(timeline));
    const std::vector<std::string> names = NamesOf(timeline);
    ASSERT_EQ(
        std::set<std::string>(names.begin(), names.end()),
        (std::set<std::string>{"start", "request emitted", "availability checked", "request sent",
                               "answer taken (executor thread)", "answer parsed (executor thread)",
                               "handed over (waiting thread)"}));
  }
}

// The first answer comes after its run gave up and its timeline went; the next run is answered
// as usual (AddressSanitizer reports a late answer that reaches the gone timeline).
TEST_F(HandedOffClientTest, ARunGivenUpOnLeavesNothingForItsLateAnswer) {
  const host::SimulatedPerceptionService service(
      ros_.node(), {"/arm_perception_common", kSuccess, milliseconds(200)});
  {
    HandedOffClient hasty = Client(milliseconds(20));
    auto timeline = std::make_unique<Timeline>();
    timeline->Begin();
    EXPECT_THAT([&] { hasty.RoundTrip(*timeline); },
                ThrowsMessage<std::runtime_error>(HasSubstr("no answer within 20 ms")));
  }
  HandedOffClient patient = Client(milliseconds(10000));
  Timeline timeline;
  timeline.Begin();
  EXPECT_GT(patient.RoundTrip(timeline), 0.0);
  EXPECT_EQ(NamesOf(timeline).back(), "handed over (waiting thread)");
}

TEST_F(HandedOffClientTest, HandsAnAnswerWithoutDetectionOverAsAnError) {
  const host::SimulatedPerceptionService service(ros_.node(),
                                                 {"/arm_perception_common", "success: false", {}});
  HandedOffClient client = Client(milliseconds(10000));
  Timeline timeline;
  timeline.Begin();
  EXPECT_THAT([&] { client.RoundTrip(timeline); },
              ThrowsMessage<std::runtime_error>(HasSubstr("did not answer with a detection")));
}

}  // namespace
}  // namespace kestrava_arm::bench
