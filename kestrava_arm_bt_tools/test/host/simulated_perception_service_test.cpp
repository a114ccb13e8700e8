#include <chrono>
#include <future>
#include <ostream>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace kestrava_arm::host
