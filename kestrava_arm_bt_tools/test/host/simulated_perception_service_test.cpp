#include <chrono>
#include <cstdint>
#include <future>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "kestrava_arm_host/answer_source.hpp"
#include "kestrava_arm_host/field_recording.hpp"
#include "kestrava_arm_host/request_check.hpp"
#include "kestrava_arm_host/simulated_perception_service.hpp"
#include "kestrava_arm_testing/ros_domain.hpp"
#include "ros_session.hpp"

namespace kestrava_arm::host {
namespace {

using ::testing::HasSubstr;
using ::testing::Optional;

// The document the node sends when no task settings are on the blackboard.
const std::string kNodeRequest =
    "aruco_config_path: /opt/kestrava/toilet_data/default/aruco_detection_config.yaml\n"
    "time_out: 800\n"
    "camera_frame_id: camera_06_color_optical_frame";

struct RequestCase {
  const char* name;
  std::string document;
  const char* complaint;  // nullptr: well formed
};

void PrintTo(const RequestCase& test_case, std::ostream* out) {
  *out << test_case.name;
}

class RequestCheckTest : public ::testing::TestWithParam<RequestCase> {};

TEST_P(RequestCheckTest, ComplainsOnlyAboutMalformedRequests) {
  const auto complaint = CheckRequestDocument(GetParam().document);
  if (GetParam().complaint == nullptr) {
    EXPECT_EQ(complaint, std::nullopt);
  } else {
    EXPECT_THAT(complaint, Optional(HasSubstr(GetParam().complaint)));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Documents, RequestCheckTest,
    ::testing::Values(
        RequestCase{"NodeRequest", kNodeRequest, nullptr},
        RequestCase{"EmptyFrameAndNanTimeOut",
                    "aruco_config_path: /a.yaml\ntime_out: .nan\ncamera_frame_id: \"\"", nullptr},
        RequestCase{"KeysReordered", "time_out: 1\naruco_config_path: /a\ncamera_frame_id: c",
                    "keys are [time_out, aruco_config_path, camera_frame_id], expected "
                    "[aruco_config_path, time_out, camera_frame_id] in this order"},
        RequestCase{"KeyMissing", "aruco_config_path: /a\ntime_out: 1", "keys are"},
        RequestCase{"ExtraKey", kNodeRequest + "\ntask_uid: 42", "keys are"},
        RequestCase{"TimeOutNotANumber",
                    "aruco_config_path: /a\ntime_out: soon\ncamera_frame_id: c",
                    "\"time_out\" is not a number"},
        RequestCase{"PathIsAMap", "aruco_config_path: {a: b}\ntime_out: 1\ncamera_frame_id: c",
                    "\"aruco_config_path\" is not a text"},
        RequestCase{"FrameIsAList", "aruco_config_path: /a\ntime_out: 1\ncamera_frame_id: [c]",
                    "\"camera_frame_id\" is not a text"},
        RequestCase{"List", "- aruco_config_path", "not a YAML map"},
        RequestCase{"Empty", "", "not a YAML map"},
        RequestCase{"Unparsable", "aruco_config_path: [/a", "not a YAML document"}),
    [](const auto& info) { return std::string(info.param.name); });

class SimulatedServiceTest : public ::testing::TestWithParam<int> {};

TEST_P(SimulatedServiceTest, AnswersWithTheGivenDocumentAndRecordsTheRequest) {
  using ServiceType = SimulatedPerceptionService::ServiceType;
  const std::string response = "success: false\n";
  bt::testing::IsolateRosDomain();
  RosSession ros("simulated_service_test", {});
  SimulatedPerceptionService service(
      ros.node(), {"/arm_perception_common", response, std::chrono::milliseconds(GetParam())});
  const auto client = ros.node()->create_client<ServiceType>("/arm_perception_common");
  ASSERT_TRUE(client->wait_for_service(std::chrono::seconds(10)));

  auto request = std::make_shared<ServiceType::Request>();
  request->request_yaml = kNodeRequest;
  auto answer = client->async_send_request(request);

  ASSERT_EQ(answer.future.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(answer.future.get()->response_yaml, response);
  EXPECT_EQ(service.RequestCount(), 1u);
  EXPECT_EQ(service.LastRequest(), kNodeRequest);
}

INSTANTIATE_TEST_SUITE_P(ReplyDelaysInMs, SimulatedServiceTest, ::testing::Values(0, 20));

RecordedExchange Recorded(std::int64_t sequence, const std::string& request,
                          std::optional<std::string> answer,
                          std::vector<RecordedEvent> events = {}) {
  return {"ab", sequence, std::move(events), request, std::move(answer)};
}

// Requests A and B as a recording has them: A answered twice, differently; B never.
const std::vector<RecordedExchange> kRecorded{
    Recorded(1, "request: A", "answer: A1"),
    Recorded(2, "request: B", std::nullopt),
    Recorded(3, "request: A", "answer: A2"),
};

TEST(ReplayedServiceTest, AnswersRepeatedRequestsInRecordedOrderAndLeavesTheOthersUnanswered) {
  using ServiceType = SimulatedPerceptionService::ServiceType;
  bt::testing::IsolateRosDomain();
  RosSession ros("replayed_service_test", {});
  SimulatedPerceptionService service(
      ros.node(), {"/arm_perception_common", AnswerSource::Replay(kRecorded, false), {}});
  const auto client = ros.node()->create_client<ServiceType>("/arm_perception_common");
  ASSERT_TRUE(client->wait_for_service(std::chrono::seconds(10)));

  // What each request gets; nothing when no answer comes within the wait.
  const auto ask = [&client](const std::string& request_yaml,
                             std::chrono::milliseconds wait) -> std::optional<std::string> {
    auto request = std::make_shared<ServiceType::Request>();
    request->request_yaml = request_yaml;
    auto answer = client->async_send_request(request);
    if (answer.future.wait_for(wait) != std::future_status::ready) {
      client->remove_pending_request(answer.request_id);
      return std::nullopt;
    }
    return answer.future.get()->response_yaml;
  };
  constexpr std::chrono::seconds kAnswered(10);
  constexpr std::chrono::milliseconds kUnanswered(300);
  EXPECT_EQ(ask("request: A", kAnswered), "answer: A1");
  EXPECT_EQ(ask("request: A", kAnswered), "answer: A2");
  EXPECT_EQ(ask("request: A", kAnswered), "answer: A1") << "not started over after the last";
  EXPECT_EQ(ask("request: B", kUnanswered), std::nullopt) << "an exchange without an answer";
  EXPECT_EQ(ask("request: A ", kUnanswered), std::nullopt) << "a request matching none";
  EXPECT_EQ(ask("request: A", kAnswered), "answer: A2");
  EXPECT_EQ(service.RequestCount(), 6u);
}

TEST(AnswerSourceTest, GivesEachAnswerItsRecordedDelayTheServicesFirst) {
  constexpr std::int64_t kMs = 1'000'000;
  const std::vector<RecordedExchange> recorded{
      Recorded(1, "a", "1",
               {{kRequestSent, 0},
                {kRequestReceived, 10 * kMs},
                {kResponseSent, 150 * kMs},
                {kResponseReceived, 170 * kMs}}),
      Recorded(2, "a", "2", {{kRequestSent, 0}, {kResponseReceived, 80 * kMs}}),
      Recorded(3, "a", "3", {{kResponseSent, 80 * kMs}})};
  const AnswerSource with_delays = AnswerSource::Replay(recorded, true);
  EXPECT_EQ(with_delays.ReplyTo("a").delay, std::chrono::milliseconds(140));
  EXPECT_EQ(with_delays.ReplyTo("a").delay, std::chrono::milliseconds(80));
  EXPECT_EQ(with_delays.ReplyTo("a").delay, std::nullopt) << "none known: the service's delay";
  EXPECT_EQ(AnswerSource::Replay(recorded, false).ReplyTo("a").delay, std::nullopt);
}

TEST(AnswerSourceTest, RefusesARecordingWithoutARequestToMatch) {
  EXPECT_THROW(AnswerSource::Replay({}, false), std::invalid_argument);
  EXPECT_THROW(AnswerSource::Replay({{"ab", 1, {}, std::nullopt, "answer"}}, false),
               std::invalid_argument);
}

}  // namespace
}  // namespace kestrava_arm::host
