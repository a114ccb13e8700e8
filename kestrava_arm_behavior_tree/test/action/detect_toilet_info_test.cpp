#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "kestrava_arm_behavior_tree/action/detect_toilet_info_codes_and_keys.hpp"
#include "kestrava_arm_behavior_tree/common/service_introspection.hpp"
#include "kestrava_arm_behavior_tree/contract/perception_contract.hpp"
#include "kestrava_arm_testing/child_process.hpp"
#include "log_capture.hpp"
#include "node_harness.hpp"

namespace kestrava_arm::bt::testing {
namespace {

using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::IsSupersetOf;
using ::testing::StartsWith;

template <typename T>
bool HasEntry(const BT::Blackboard& blackboard, const std::string& key) {
  T value{};
  return blackboard.get(key, value);
}

std::size_t IndexOf(const std::vector<std::string>& lines, const std::string& fragment) {
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].find(fragment) != std::string::npos) {
      return i;
    }
  }
  ADD_FAILURE() << "no line contains " << fragment;
  return lines.size();
}

class DetectToiletInfoTest : public ::testing::Test {
 protected:
  int IntOutput(const std::string& key) const { return harness_.blackboard()->get<int>(key); }

  // One run against a service that answers every request with `response_yaml`.
  BT::NodeStatus RunAnsweredWith(const std::string& response_yaml) {
    harness_.service().AnswerAllWith(response_yaml);
    auto tree = harness_.CreateTree();
    return TickUntilDone(tree);
  }

  NodeHarness harness_;
};

TEST_F(DetectToiletInfoTest, PluginRegistersOneActionWithFivePorts) {
  BT::BehaviorTreeFactory factory;
  const auto builtin = factory.manifests().size();
  factory.registerFromPlugin(KESTRAVA_PLUGIN_PATH);

  ASSERT_EQ(factory.manifests().size(), builtin + 1);
  const BT::TreeNodeManifest& manifest = factory.manifests().at("DetectToiletInfo");
  EXPECT_EQ(manifest.type, BT::NodeType::ACTION);
  EXPECT_TRUE(manifest.metadata.empty());
  std::vector<std::string> ports;
  for (const auto& [name, info] : manifest.ports) {
    ports.push_back(name + " " + BT::toStr(info.direction()) + " " + info.typeName());
  }
  EXPECT_THAT(ports, ::testing::UnorderedElementsAre(
                         "timeout_duration Input double",
                         "transfor_matrix Output std::vector<double, std::allocator<double> >",
                         "fix_trajectory Output std::string", "error_code Output int",
                         "status_code Output int"));

  EXPECT_THROW(factory.registerFromPlugin(KESTRAVA_PLUGIN_PATH), BT::BehaviorTreeException);
}

TEST_F(DetectToiletInfoTest, SuccessfulRunPublishesPoseTrajectoryAndCodes) {
  harness_.blackboard()->set("task_info", std::string("task_uid:42;task_name:bowl"));
  LogCapture log;
  ASSERT_EQ(RunAnsweredWith(SuccessAnswer()), BT::NodeStatus::SUCCESS);
  const auto lines = log.Lines();

  const auto& blackboard = *harness_.blackboard();
  EXPECT_THAT(blackboard.get<std::vector<double>>("transfor_matrix"),
              ElementsAre(0.5, -0.25, 0.125, 0.0, 0.0, 0.7071, 0.7071));
  EXPECT_EQ(blackboard.get<std::string>("fix_trajectory"), "/opt/kestrava/toilet_data/42/bowl.txt");
  EXPECT_EQ(IntOutput("error_code"), kErrorNone);
  EXPECT_EQ(IntOutput("status_code"), kStatusSucceeded);

  EXPECT_THAT(lines, IsSupersetOf(std::vector<std::string>{
                         "[INFO] DetectToiletInfo construct...",
                         "[INFO] Succeed to get node from blackboard.",
                         "[INFO] toilet detect service name: /arm_perception_common.",
                         "[INFO] DetectToiletInfo started",
                         "[INFO] DetectToiletInfo onStart, task_info: "
                         "task_uid:42;task_name:bowl, taskcfg_map: 2",
                         "[INFO] DetectToiletInfo onStart, task_uid: 42",
                         "[INFO] DetectToiletInfo onStart, task_name: bowl",
                         "[INFO] arm perception aruco_config_path: "
                         "/opt/kestrava/toilet_data/42/aruco_detection_config.yaml, "
                         "fix_trajectory_path: /opt/kestrava/toilet_data/42/bowl.txt",
                         "[INFO] arm perception info:\n" + SuccessAnswer(),
                         "[INFO] DetectToiletInfo arm translation: 0.5, -0.25, 0.125; "
                         "rotation: 0, 0, 0.7071, 0.7071",
                         "[INFO] DetectToiletInfo cam translation: 1.5, 2.5, 3.5; "
                         "rotation: 1, 0, 0, 0",
                     }));
  const auto arm = IndexOf(lines, "arm translation");
  const auto cam = IndexOf(lines, "cam translation");
  const auto cost = IndexOf(lines, "arm perception detect toilet cost ");
  EXPECT_LT(arm, cam);
  EXPECT_LT(cam, cost);
  EXPECT_THAT(lines.at(cost),
              ::testing::MatchesRegex("\\[INFO\\] \x1b\\[1;35marm perception detect toilet cost "
                                      "[0-9]+\\.0000 ms\x1b\\[0m"));
}

struct FailedAnswer {
  const char* name;
  std::string response_yaml;
  int error_code;
  std::string logged;          // a fragment of a line the run must log
  bool logs_arm_pose = false;  // whether the arm block was read before the answer failed
};

void PrintTo(const FailedAnswer& answer, std::ostream* os) {
  *os << answer.name;
}

class FailedAnswerTest : public DetectToiletInfoTest,
                         public ::testing::WithParamInterface<FailedAnswer> {};

TEST_P(FailedAnswerTest, EndsInFailureWithTheCodesAndWithoutPose) {
  const FailedAnswer& answer = GetParam();
  LogCapture log;
  ASSERT_EQ(RunAnsweredWith(answer.response_yaml), BT::NodeStatus::FAILURE);
  const auto lines = log.Lines();

  EXPECT_EQ(IntOutput("error_code"), answer.error_code);
  EXPECT_EQ(IntOutput("status_code"), kStatusDetectionFailed);
  EXPECT_FALSE(HasEntry<std::vector<double>>(*harness_.blackboard(), "transfor_matrix"));
  EXPECT_FALSE(HasEntry<std::string>(*harness_.blackboard(), "fix_trajectory"));
  EXPECT_EQ(CountContaining(lines, answer.logged), 1U) << ::testing::PrintToString(lines);
  EXPECT_EQ(CountContaining(lines, "DetectToiletInfo arm translation"),
            answer.logs_arm_pose ? 1U : 0U);
}

const std::string kArm =
    "arm_base_end: {translation: [1, 2, 3], rotation: [0, 0, 0, 1], description: a}\n";
const std::string kCamera =
    "camera_end: {translation: [4, 5, 6], rotation: [0, 0, 0, 1], description: c}\n";

INSTANTIATE_TEST_SUITE_P(
    Answers, FailedAnswerTest,
    ::testing::Values(
        FailedAnswer{"SuccessFalse", "success: false\n" + kArm + kCamera, kErrorNoDetection,
                     "arm perception info:"},
        FailedAnswer{"NoArmBlock", "success: true\n" + kCamera, kErrorNoDetection,
                     "DetectToiletInfo cam translation: 4, 5, 6; rotation: 0, 0, 0, 1"},
        FailedAnswer{"NotYaml", "success: [true", kErrorBadResponse,
                     "Exception in ToiletInfoCallback: "},
        FailedAnswer{"Empty", "", kErrorBadResponse, "Exception in ToiletInfoCallback: "},
        FailedAnswer{"ScalarTopLevel", "just words", kErrorBadResponse,
                     "Exception in ToiletInfoCallback: "},
        FailedAnswer{"NoSuccess", kArm, kErrorBadResponse, "Exception in ToiletInfoCallback: "},
        FailedAnswer{"NumericSuccess", "success: 1\n" + kArm, kErrorBadResponse,
                     "Exception in ToiletInfoCallback: "},
        FailedAnswer{"NullArmBlock", "success: true\narm_base_end:\n", kErrorBadResponse,
                     "Exception in ToiletInfoCallback: "},
        FailedAnswer{"NoTranslation",
                     "success: true\narm_base_end: {rotation: [0, 0, 0, 1], description: a}\n",
                     kErrorBadResponse, "Exception in ToiletInfoCallback: "},
        FailedAnswer{"TextElement",
                     "success: true\narm_base_end: {translation: [1, x, 3], rotation: [0, 0, 0, "
                     "1], description: a}\n",
                     kErrorBadResponse, "Exception in ToiletInfoCallback: "},
        FailedAnswer{"ShortTranslation",
                     "success: true\narm_base_end: {translation: [1, 2], rotation: [0, 0, 0, "
                     "1], description: a}\n",
                     kErrorBadResponse,
                     "Exception in ToiletInfoCallback: arm_base_end: \"translation\" has 2 "
                     "values, at least 3 expected"},
        FailedAnswer{"ShortCameraRotation",
                     "success: true\n" + kArm +
                         "camera_end: {translation: [4, 5, 6], rotation: [0], description: c}\n",
                     kErrorBadResponse,
                     "Exception in ToiletInfoCallback: camera_end: \"rotation\" has 1 values, at "
                     "least 4 expected",
                     true}),
    [](const auto& info) { return std::string(info.param.name); });

FailedAnswer RefusedArmPose(const char* name, const std::string& translation,
                            const std::string& rotation, const std::string& refusal) {
  return {name,
          "success: true\narm_base_end: {translation: [" + translation + "], rotation: [" +
              rotation + "], description: a}\n" + kCamera,
          kErrorBadResponse, "[ERROR] Exception in ToiletInfoCallback: arm_base_end: " + refusal};
}

// Every value of the arm lists reaches the arm, so each must be finite; the quaternion is the
// first four rotation values.
INSTANTIATE_TEST_SUITE_P(
    UnusableArmPoses, FailedAnswerTest,
    ::testing::Values(
        RefusedArmPose("NanTranslation", ".nan, 2, 3", "0, 0, 0, 1",
                       "\"translation\" value 0 is nan, a finite number expected"),
        RefusedArmPose("InfTranslation", "1, .inf, 3", "0, 0, 0, 1",
                       "\"translation\" value 1 is inf, a finite number expected"),
        RefusedArmPose("NegativeInfFourthTranslation", "1, 2, 3, -.inf", "0, 0, 0, 1",
                       "\"translation\" value 3 is -inf, a finite number expected"),
        RefusedArmPose("NanRotation", "1, 2, 3", "0, 0, .nan, 1",
                       "\"rotation\" value 2 is nan, a finite number expected"),
        RefusedArmPose("InfFifthRotation", "1, 2, 3", "0, 0, 0, 1, .inf",
                       "\"rotation\" value 4 is inf, a finite number expected"),
        RefusedArmPose("ZeroQuaternion", "1, 2, 3", "0.0, -0.0, 0, 0, 1",
                       "\"rotation\" values 0 to 3 are all zero, a quaternion of non-zero "
                       "length expected")),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DetectToiletInfoTest, AnswerVariantsThatStillSucceed) {
  // "yes" is a boolean word, keys may come in any order, extra keys and long lists are kept.
  // Any finite arm value goes on as it came, and a quaternion of any non-zero length; the camera
  // pose, which no port carries, is only logged, whatever its values.
  const std::string answer =
      "extra: 1\n"
      "camera_end: {description: ~, rotation: [0, 0, 0, 0], translation: [.nan, .inf, -.inf]}\n"
      "arm_base_end: {rotation: [0, 0, 1e-300, 0, 9], translation: [1e308, 2, 3, -1e308], "
      "description: ~}\n"
      "success: yes\n";
  LogCapture log;
  ASSERT_EQ(RunAnsweredWith(answer), BT::NodeStatus::SUCCESS);
  const auto lines = log.Lines();
  EXPECT_THAT(harness_.blackboard()->get<std::vector<double>>("transfor_matrix"),
              ElementsAre(1e308, 2, 3, -1e308, 0, 0, 1e-300, 0, 9));
  EXPECT_EQ(CountContaining(lines, "arm translation: 1e+308, 2, 3; rotation: 0, 0, 1e-300, 0"), 1U);
  EXPECT_EQ(CountContaining(lines, "cam translation: nan, inf, -inf; rotation: 0, 0, 0, 0"), 1U);
}

// The node publishes, answer for answer, what the perception contract says a run publishes: the
// check of a perception service and the fuzz targets judge answers by that contract alone.
TEST_F(DetectToiletInfoTest, PublishesTheContractsOutcomeOfEveryAnswerOfTheCorpus) {
  std::size_t answers = 0;
  for (const char* corpus : {"fuzz_answer_reader", "fuzz_response_handling"}) {
    for (const auto& entry : std::filesystem::directory_iterator(
             std::filesystem::path(KESTRAVA_ANSWER_CORPUS_DIR) / corpus)) {
      SCOPED_TRACE(entry.path().string());
      const std::string answer = kestrava::test::ReadWholeFile(entry.path());
      const RunOutcome expected = JudgeAnswer(answer);
      ClearOutputs(*harness_.blackboard());
      const RunOutcome published =
          PublishedOutcome(RunAnsweredWith(answer), *harness_.blackboard());
      EXPECT_EQ(published.succeeded, expected.succeeded);
      EXPECT_EQ(published.error_code, expected.error_code);
      EXPECT_EQ(published.status_code, expected.status_code);
      EXPECT_EQ(published.transfor_matrix, expected.transfor_matrix);
      ++answers;
    }
  }
  EXPECT_GT(answers, 20U);
}

TEST_F(DetectToiletInfoTest, RequestDocumentWithDefaults) {
  harness_.service().AnswerAllWith(SuccessAnswer());
  auto tree = harness_.CreateTree("800");
  ASSERT_EQ(TickUntilDone(tree), BT::NodeStatus::SUCCESS);
  EXPECT_EQ(harness_.service().WaitForRequest(0),
            "aruco_config_path: /opt/kestrava/toilet_data/default/aruco_detection_config.yaml\n"
            "time_out: 800\n"
            "camera_frame_id: camera_06_color_optical_frame");
  EXPECT_EQ(harness_.blackboard()->get<std::string>("fix_trajectory"),
            "/opt/kestrava/toilet_data/default/default.txt");
}

TEST_F(DetectToiletInfoTest, RequestDocumentFromBlackboardSettings) {
  auto& blackboard = *harness_.blackboard();
  blackboard.set("toilet_data_path", std::string("/data/"));
  blackboard.set("task_info", std::string(" task_name : bowl ; task_uid: "));
  blackboard.set("camera_frame_id", std::string(""));
  blackboard.set("timeout_ms", std::string("1500.25"));
  harness_.service().AnswerAllWith(SuccessAnswer());
  auto tree = harness_.CreateTree("{timeout_ms}");
  ASSERT_EQ(TickUntilDone(tree), BT::NodeStatus::SUCCESS);

  EXPECT_EQ(harness_.service().WaitForRequest(0),
            "aruco_config_path: /data//default/aruco_detection_config.yaml\n"
            "time_out: 1500.25\n"
            "camera_frame_id: \"\"");
  EXPECT_EQ(blackboard.get<std::string>("fix_trajectory"), "/data//default/bowl.txt");

  blackboard.set("aruco_config_path", std::string("/etc/aruco.yaml"));
  blackboard.set("fix_trajectory_path", std::string("/tmp/path"));
  ASSERT_EQ(TickUntilDone(tree), BT::NodeStatus::SUCCESS);
  EXPECT_THAT(harness_.service().WaitForRequest(1),
              StartsWith("aruco_config_path: /etc/aruco.yaml\n"));
  EXPECT_EQ(blackboard.get<std::string>("fix_trajectory"), "/tmp/path");
}

// A limit that is missing, unreadable or NaN (which never expires) fails the tick before any
// request is sent, with a message that names the port, the value and what is expected.
// BehaviorTree.CPP hands what onStart throws to the ticking code wrapped in NodeExecutionError.
TEST_F(DetectToiletInfoTest, UnusableTimeLimitFailsTheTickBeforeAnyRequest) {
  harness_.blackboard()->set("nan_limit", std::nan(""));
  const struct {
    const char* attribute;  // of the node in the tree
    const char* said;       // what the message says of the value
  } cases[] = {
      // BehaviorTree.CPP's read error names what is missing.
      {"", "[timeout_duration]"},
      {"timeout_duration=\"{no_such_entry}\"", "[no_such_entry]"},
      {"timeout_duration=\"nan\"", "\" is nan;"},
      {"timeout_duration=\"{nan_limit}\"", "\" is nan;"},
  };
  for (const auto& c : cases) {
    auto tree = harness_.CreateTreeFromText(
        std::string("<root BTCPP_format=\"4\"><BehaviorTree ID=\"Main\"><DetectToiletInfo ") +
        c.attribute + " status_code=\"{status_code}\"/></BehaviorTree></root>");
    LogCapture log;
    try {
      tree.tickOnce();
      ADD_FAILURE() << "the tick did not fail: " << c.attribute;
    } catch (const BT::NodeExecutionError& error) {
      EXPECT_THAT(
          error.originalMessage(),
          AllOf(StartsWith("DetectToiletInfo: input port \"timeout_duration\" "), HasSubstr(c.said),
                EndsWith("; expected a time limit in milliseconds, or inf for none")));
    }
    EXPECT_THAT(log.Lines(), ElementsAre("[INFO] DetectToiletInfo started")) << c.attribute;
  }
  EXPECT_FALSE(HasEntry<int>(*harness_.blackboard(), "status_code"));
}

TEST_F(DetectToiletInfoTest, UnavailableServiceFailsWithStatusCodeOnly) {
  // No ROS 2 node, no service name, and a name nobody serves: all end the same way.
  harness_.blackboard()->set("arm_perception_service", std::string("/nobody_serves_this"));
  auto unserved = harness_.CreateTree();
  auto no_name_board = BT::Blackboard::create();
  no_name_board->set("kestrava_arm_bt_shared_node", harness_.shared_node());
  auto no_name = harness_.factory().createTreeFromText(
      R"(<root BTCPP_format="4"><BehaviorTree ID="Main">
      <DetectToiletInfo timeout_duration="100" status_code="{status_code}" error_code="{error_code}"/>
      </BehaviorTree></root>)",
      no_name_board);
  auto no_node_board = BT::Blackboard::create();
  auto no_node = harness_.factory().createTreeFromText(
      R"(<root BTCPP_format="4"><BehaviorTree ID="Main">
      <DetectToiletInfo timeout_duration="100" status_code="{status_code}" error_code="{error_code}"/>
      </BehaviorTree></root>)",
      no_node_board);

  for (auto* tree : {&unserved, &no_name, &no_node}) {
    LogCapture log;
    EXPECT_EQ(tree->tickOnce(), BT::NodeStatus::FAILURE);
    EXPECT_EQ(tree->rootBlackboard()->get<int>("status_code"), kStatusServiceUnavailable);
    EXPECT_FALSE(HasEntry<int>(*tree->rootBlackboard(), "error_code"));
    EXPECT_EQ(CountContaining(log.Lines(),
                              "[ERROR] ErrorCode: 102501005, arm perception service not available"),
              1U);
  }
}

TEST_F(DetectToiletInfoTest, ConstructorEndStates) {
  auto board = BT::Blackboard::create();
  const std::string xml = R"(<root BTCPP_format="4"><BehaviorTree ID="Main">
      <DetectToiletInfo timeout_duration="100"/></BehaviorTree></root>)";
  {
    LogCapture log;
    auto tree = harness_.factory().createTreeFromText(xml, board);
    EXPECT_THAT(log.Lines(), ElementsAre("[INFO] DetectToiletInfo construct...",
                                         "[ERROR] Failed to get node from blackboard."));
  }
  board->set("kestrava_arm_bt_shared_node", harness_.shared_node());
  {
    LogCapture log;
    auto tree = harness_.factory().createTreeFromText(xml, board);
    EXPECT_THAT(log.Lines(),
                ElementsAre("[INFO] DetectToiletInfo construct...",
                            "[INFO] Succeed to get node from blackboard.",
                            "[ERROR] Failed to get arm_perception_service from blackboard."));
  }
  auto wrong_type = BT::Blackboard::create();
  wrong_type->set("kestrava_arm_bt_shared_node", 7);
  try {
    auto tree = harness_.factory().createTreeFromText(xml, wrong_type);
    ADD_FAILURE() << "a blackboard entry of another type must fail the construction";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(),
                 "[Any::convert]: no known safe conversion between [int] and "
                 "[std::shared_ptr<rclcpp::Node>]");
  }
  board->set("arm_perception_service", std::string("bad name"));
  EXPECT_THROW(auto tree = harness_.factory().createTreeFromText(xml, board),
               std::invalid_argument);
}

// A mode the build cannot do and a text that is no mode are refused at construction, and then
// every run ends as an unavailable service does; "off" costs not even a log line.
TEST_F(DetectToiletInfoTest, IntrospectionEntryIsFollowedOrRefusedAtConstruction) {
  harness_.service().AnswerAllWith(SuccessAnswer());
  const std::vector<std::string> common_lines = {"[INFO] DetectToiletInfo construct...",
                                                 "[INFO] Succeed to get node from blackboard."};
  const auto refused = [&](const std::string& text, const std::string& reason) {
    std::vector<std::string> lines = common_lines;
    lines.push_back("[ERROR] Refused blackboard entry perception_introspection \"" + text +
                    "\": " + reason + "; every run fails with 102501005.");
    return lines;
  };
  std::vector<std::string> off_lines = common_lines;
  off_lines.emplace_back("[INFO] toilet detect service name: /arm_perception_common.");
  std::vector<std::string> contents_lines = off_lines;
  contents_lines.emplace_back(
      "[INFO] DetectToiletInfo publishes the contents of its service events on "
      "/arm_perception_common/_service_event.");
  const std::optional<std::string> unsupported = IntrospectionUnsupported();
  struct Case {
    std::string text;
    std::vector<std::string> construction_lines;
  };
  const std::vector<Case> cases = {
      {"off", off_lines},
      {"verbose", refused("verbose", "expected off, metadata or contents")},
      {"Contents", refused("Contents", "expected off, metadata or contents")},
      {"contents", unsupported ? refused("contents", *unsupported) : contents_lines},
  };
  for (const auto& c : cases) {
    auto board = harness_.CreateHostBlackboard();
    board->set(kIntrospectionKey, c.text);
    LogCapture log;
    auto tree = harness_.CreateTree("60000", board);
    EXPECT_EQ(log.Lines(), c.construction_lines) << c.text;
    const bool refused_entry = c.construction_lines.back().rfind("[ERROR]", 0) == 0;
    for (int run = 0; run < 2; ++run) {
      EXPECT_EQ(TickUntilDone(tree),
                refused_entry ? BT::NodeStatus::FAILURE : BT::NodeStatus::SUCCESS)
          << c.text;
      EXPECT_EQ(board->get<int>("status_code"),
                refused_entry ? kStatusServiceUnavailable : kStatusSucceeded)
          << c.text;
    }
  }
}

// The node alone in a SubTree whose attributes are `remapping`; its outputs go to the root.
std::string SubTreeXml(const std::string& remapping) {
  return R"(<root BTCPP_format="4" main_tree_to_execute="Main">
      <BehaviorTree ID="Main"><SubTree ID="Detect" )" +
         remapping + R"(/></BehaviorTree>
      <BehaviorTree ID="Detect"><DetectToiletInfo timeout_duration="60000"
          fix_trajectory="{@fix_trajectory}" status_code="{@status_code}"/></BehaviorTree>
      </root>)";
}

TEST_F(DetectToiletInfoTest, InASubTreeEntriesComeFromItsOwnBlackboardElseFromTheRoot) {
  harness_.service().AnswerAllWith(SuccessAnswer());
  struct Case {
    const char* name;
    std::string remapping;
    std::vector<std::pair<std::string, std::string>> root_entries;
    bool host_node;  // the shared node under kestrava_arm_bt_shared_node, else under node
    std::string node_line;
    std::string fix_trajectory;
  };
  const std::vector<Case> cases = {
      {"remaps nothing",
       "",
       {{"task_info", "task_uid:42;task_name:bowl"}},
       true,
       "Succeed to get node from blackboard (entry kestrava_arm_bt_shared_node of the root "
       "blackboard).",
       "/opt/kestrava/toilet_data/42/bowl.txt"},
      {"executor's node entry",
       "",
       {{"task_info", "task_uid:42;task_name:bowl"}},
       false,
       "Succeed to get node from blackboard (entry node of the root blackboard).",
       "/opt/kestrava/toilet_data/42/bowl.txt"},
      {"remapped task",
       R"(task_info="{job}")",
       {{"task_info", "task_uid:42;task_name:bowl"}, {"job", "task_uid:7;task_name:seat"}},
       true,
       "Succeed to get node from blackboard (entry kestrava_arm_bt_shared_node of the root "
       "blackboard).",
       "/opt/kestrava/toilet_data/7/seat.txt"},
  };
  std::size_t request = 0;
  for (const auto& c : cases) {
    auto root = BT::Blackboard::create();
    root->set(c.host_node ? kSharedNodeKey : kExecutorNodeKey, harness_.shared_node());
    root->set(kServiceNameKey, std::string(NodeHarness::kServiceName));
    for (const auto& [key, value] : c.root_entries) {
      root->set(key, value);
    }
    LogCapture log;
    auto tree = harness_.CreateTreeFromText(SubTreeXml(c.remapping), root);
    EXPECT_EQ(TickUntilDone(tree), BT::NodeStatus::SUCCESS) << c.name;
    EXPECT_EQ(CountContaining(log.Lines(), "[INFO] " + c.node_line), 1U) << c.name;
    EXPECT_EQ(root->get<std::string>("fix_trajectory"), c.fix_trajectory) << c.name;
    EXPECT_THAT(harness_.service().WaitForRequest(request++),
                HasSubstr(c.fix_trajectory.substr(0, c.fix_trajectory.rfind('/'))))
        << c.name;
  }

  auto empty_root = BT::Blackboard::create();
  LogCapture log;
  auto tree = harness_.CreateTreeFromText(SubTreeXml(""), empty_root);
  EXPECT_EQ(tree.tickOnce(), BT::NodeStatus::FAILURE);
  EXPECT_EQ(empty_root->get<int>("status_code"), kStatusServiceUnavailable);
  EXPECT_EQ(CountContaining(log.Lines(),
                            "[ERROR] Failed to get node from blackboard. Looked for "
                            "kestrava_arm_bt_shared_node and node on the SubTree's blackboard and "
                            "on the root blackboard."),
            1U);
}

TEST_F(DetectToiletInfoTest, RelativeServiceNameIsResolvedInTheSubNamespace) {
  PerceptionServiceStub prefixed_service(harness_.service_node(), "/arm/perception");
  prefixed_service.AnswerAllWith(SuccessAnswer());
  harness_.blackboard()->set("kestrava_arm_bt_shared_node",
                             harness_.shared_node()->create_sub_node("arm"));
  harness_.blackboard()->set("arm_perception_service", std::string("perception"));
  LogCapture log;
  auto tree = harness_.CreateTree();
  EXPECT_EQ(TickUntilDone(tree), BT::NodeStatus::SUCCESS);
  EXPECT_EQ(CountContaining(log.Lines(), "[INFO] toilet detect service name: perception."), 1U);
  EXPECT_THAT(prefixed_service.WaitForRequest(0), StartsWith("aruco_config_path:"));
}

TEST_F(DetectToiletInfoTest, StoredAnswerWakesATreeThatSleepsUntilItsNextTick) {
  auto tree = harness_.CreateTree();
  ASSERT_EQ(tree.tickOnce(), BT::NodeStatus::RUNNING);
  harness_.service().WaitForRequest(0);
  harness_.service().Answer(0, SuccessAnswer());
  EXPECT_TRUE(tree.sleep(std::chrono::seconds(30)));  // a host's pause between two ticks
  EXPECT_EQ(tree.tickOnce(), BT::NodeStatus::SUCCESS);
}

TEST_F(DetectToiletInfoTest, TimeLimitEndsTheRunWithoutTouchingOtherOutputs) {
  for (const char* limit : {"-1", "0"}) {
    auto tree = harness_.CreateTree(limit);
    LogCapture log;
    EXPECT_EQ(TickUntilDone(tree), BT::NodeStatus::FAILURE) << limit;
    EXPECT_EQ(IntOutput("status_code"), kStatusTimeout);
    EXPECT_FALSE(HasEntry<int>(*harness_.blackboard(), "error_code"));
    EXPECT_FALSE(HasEntry<std::vector<double>>(*harness_.blackboard(), "transfor_matrix"));
    EXPECT_EQ(CountContaining(log.Lines(),
                              "[ERROR] ErrorCode: 102501008, toilet clean service process timeout"),
              1U);
  }
}

TEST_F(DetectToiletInfoTest, NegativeLimitExpiresOnTheFirstRunningTick) {
  auto tree = harness_.CreateTree("-0.5");
  EXPECT_EQ(tree.tickOnce(), BT::NodeStatus::RUNNING);
  EXPECT_EQ(tree.tickOnce(), BT::NodeStatus::FAILURE);
}

TEST_F(DetectToiletInfoTest, InfiniteLimitNeverExpires) {
  auto tree = harness_.CreateTree("inf");
  EXPECT_EQ(tree.tickOnce(), BT::NodeStatus::RUNNING);
  harness_.service().WaitForRequest(0);
  for (int tick = 0; tick < 20; ++tick) {
    tree.sleep(std::chrono::milliseconds(1));
    ASSERT_EQ(tree.tickOnce(), BT::NodeStatus::RUNNING);
  }
  harness_.service().Answer(0, SuccessAnswer());
  EXPECT_EQ(TickUntilDone(tree), BT::NodeStatus::SUCCESS);
}

// A run that stops waiting withdraws its request from the client: its late answer reaches no
// callback at all. Answers to one client arrive in order, so once the next run has its answer, the
// late one has come and gone.
TEST_F(DetectToiletInfoTest, LateAnswerOfAHaltedRunNeverReachesTheNode) {
  auto tree = harness_.CreateTree();
  ASSERT_EQ(tree.tickOnce(), BT::NodeStatus::RUNNING);
  harness_.service().WaitForRequest(0);
  LogCapture log;
  tree.haltTree();
  ASSERT_EQ(tree.tickOnce(), BT::NodeStatus::RUNNING);  // the next run sends its own request
  harness_.service().WaitForRequest(1);

  // The halted run's answer comes first (and says "success" false); the new run's follows.
  harness_.service().Answer(0, "success: false\n");
  harness_.service().Answer(1, SuccessAnswer());
  ASSERT_EQ(TickUntilDone(tree), BT::NodeStatus::SUCCESS);
  const auto lines = log.Lines();
  EXPECT_EQ(CountContaining(lines, "[INFO] DetectToiletInfo halted"), 1U);
  EXPECT_EQ(CountContaining(lines, "dropped a perception response"), 0U);
  EXPECT_EQ(CountContaining(lines, "arm perception info:"), 1U);
  EXPECT_EQ(IntOutput("error_code"), kErrorNone);
}

TEST_F(DetectToiletInfoTest, LateAnswerOfATimedOutRunNeverReachesTheNode) {
  auto tree = harness_.CreateTree("{time_limit}");
  harness_.blackboard()->set("time_limit", -1.0);
  ASSERT_EQ(TickUntilDone(tree), BT::NodeStatus::FAILURE);
  harness_.service().WaitForRequest(0);
  LogCapture log;
  harness_.service().Answer(0, SuccessAnswer());
  harness_.blackboard()->set("time_limit", 60000.0);
  harness_.service().AnswerAllWith("success: false\n");
  ASSERT_EQ(TickUntilDone(tree), BT::NodeStatus::FAILURE);
  const auto lines = log.Lines();
  EXPECT_EQ(CountContaining(lines, "dropped a perception response"), 0U);
  EXPECT_EQ(CountContaining(lines, "arm perception info:"), 1U);
  EXPECT_EQ(IntOutput("error_code"), kErrorNoDetection);
}

TEST_F(DetectToiletInfoTest, AnswerForADestroyedTreeIsHarmless) {
  {
    auto tree = harness_.CreateTree();
    ASSERT_EQ(tree.tickOnce(), BT::NodeStatus::RUNNING);
    harness_.service().WaitForRequest(0);
  }
  harness_.service().Answer(0, SuccessAnswer());
  harness_.service().AnswerAllWith(SuccessAnswer());
  auto next = harness_.CreateTree();
  EXPECT_EQ(TickUntilDone(next), BT::NodeStatus::SUCCESS);
}

TEST_F(DetectToiletInfoTest, TwoNodesInOneTreeEachTakeTheirOwnAnswer) {
  auto tree = harness_.CreateTreeFromText(R"(<root BTCPP_format="4"><BehaviorTree ID="Main">
    <Sequence>
      <DetectToiletInfo name="first" timeout_duration="60000" transfor_matrix="{first}"
          status_code="{first_status}"/>
      <DetectToiletInfo name="second" timeout_duration="60000" transfor_matrix="{second}"
          error_code="{second_error}"/>
    </Sequence></BehaviorTree></root>)");
  ASSERT_EQ(tree.tickOnce(), BT::NodeStatus::RUNNING);
  harness_.service().WaitForRequest(0);
  harness_.service().Answer(0, SuccessAnswer());
  while (tree.tickOnce() == BT::NodeStatus::RUNNING &&
         !HasEntry<int>(*harness_.blackboard(), "first_status")) {
    tree.sleep(std::chrono::milliseconds(1));
  }
  harness_.service().WaitForRequest(1);
  harness_.service().Answer(1, "success: true\n" + kArm);
  ASSERT_EQ(TickUntilDone(tree), BT::NodeStatus::SUCCESS);
  const auto& blackboard = *harness_.blackboard();
  EXPECT_THAT(blackboard.get<std::vector<double>>("first"),
              ElementsAre(0.5, -0.25, 0.125, 0.0, 0.0, 0.7071, 0.7071));
  EXPECT_THAT(blackboard.get<std::vector<double>>("second"), ElementsAre(1, 2, 3, 0, 0, 0, 1));
  EXPECT_EQ(blackboard.get<int>("first_status"), kStatusSucceeded);
  EXPECT_EQ(blackboard.get<int>("second_error"), kErrorNone);
}

}  // namespace
}  // namespace kestrava_arm::bt::testing
