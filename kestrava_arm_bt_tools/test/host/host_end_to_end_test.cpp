// Runs bt_host as a process with the plugin, the example tree and the example answers.

#include <chrono>
#include <csignal>
#include <fstream>
#include <iterator>
#include <map>
#include <ostream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <tinyxml2.h>

#include "kestrava_arm_testing/child_process.hpp"
#include "kestrava_arm_testing/ros_domain.hpp"
#include "kestrava_arm_testing/strict_parsers.hpp"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

const std::string kExamples = KESTRAVA_EXAMPLES_DIR;
const std::string kTestData = KESTRAVA_HOST_TEST_DATA_DIR;
const std::string kPlugin = KESTRAVA_PLUGIN;
const std::string kExampleTree = kExamples + "/detect_toilet.xml";
const std::string kPalette = KESTRAVA_PALETTE;

struct HostRun {
  int exit_code;
  std::string out;
  std::string err;
};

// The test's own environment, with the plugin logging to standard output only and the ROS 2
// domain of this test process, so that bt_host meets no other test's service.
std::vector<std::string> ChildEnvironment() {
  kestrava_arm::bt::testing::IsolateRosDomain();
  return kestrava::test::InheritedEnvironment({"SPDLOG_SYSTEMD", "SPDLOG_STDOUT"},
                                              {"SPDLOG_SYSTEMD=false", "SPDLOG_STDOUT=true"});
}

HostRun RunHost(const std::vector<std::string>& arguments,
                const std::string& working_directory = "") {
  const auto child =
      kestrava::test::RunChild(KESTRAVA_BT_HOST, arguments, ChildEnvironment(), working_directory);
  return {kestrava::test::ExitStatusOf(child.wait_status), child.out, child.err};
}

std::string Answer(const std::string& name) {
  return kExamples + "/responses/" + name + ".yaml";
}

std::vector<std::string> ExampleTreeWith(std::vector<std::string> options) {
  std::vector<std::string> arguments{"--plugin",         kPlugin, "--tree", kExampleTree,
                                     "--tick-period-ms", "10"};
  arguments.insert(arguments.end(), options.begin(), options.end());
  return arguments;
}

struct RunCase {
  const char* name;
  std::vector<std::string> options;
  int exit_code;
  std::vector<std::string> printed;
};

void PrintTo(const RunCase& test_case, std::ostream* out) {
  *out << test_case.name;
}

class ExampleTreeRunTest : public ::testing::TestWithParam<RunCase> {};

TEST_P(ExampleTreeRunTest, EndsWithItsExitCodeAndPrintsTheOutcome) {
  const HostRun run = RunHost(ExampleTreeWith(GetParam().options));
  EXPECT_EQ(run.exit_code, GetParam().exit_code) << run.out << run.err;
  for (const std::string& text : GetParam().printed) {
    EXPECT_THAT(run.out, HasSubstr(text));
  }
  // The node's request always passes the simulated service's check, and the shared node is no
  // output worth printing.
  EXPECT_THAT(run.out, Not(HasSubstr("is malformed")));
  EXPECT_THAT(run.out, Not(HasSubstr("kestrava_arm_bt_shared_node")));
}

const std::string kUnwritten = " = (no value)\n";

INSTANTIATE_TEST_SUITE_P(
    Answers, ExampleTreeRunTest,
    ::testing::Values(
        RunCase{"Success",
                {"--simulate", Answer("success"), "--set", "task_info=task_uid:42;task_name:bowl"},
                0,
                {"aruco_config_path: /opt/kestrava/toilet_data/42/aruco_detection_config.yaml",
                 "toilet at translation [0.42, -0.1, 0.35], rotation [0, 0, 0.7071068, 0.7071068]",
                 "result: SUCCESS",
                 "  transfor_matrix = [0.42, -0.1, 0.35, 0, 0, 0.7071068, 0.7071068]\n",
                 "  fix_trajectory = \"/opt/kestrava/toilet_data/42/bowl.txt\"\n",
                 "  error_code = 102200000\n", "  status_code = 102501006\n"}},
        RunCase{"NotFound",
                {"--simulate", Answer("not_found")},
                1,
                {"result: FAILURE", "  error_code = 102300001\n", "  status_code = 102300001\n",
                 "  transfor_matrix" + kUnwritten}},
        RunCase{"MissingArmBlock",
                {"--simulate", Answer("missing_arm_block")},
                1,
                {"result: FAILURE", "  error_code = 102300001\n", "  status_code = 102300001\n"}},
        RunCase{"Malformed",
                {"--simulate", Answer("malformed")},
                1,
                {"result: FAILURE", "  error_code = 102200002\n", "  status_code = 102300001\n"}},
        RunCase{"UnusableArmPose",
                {"--simulate", Answer("unusable_arm_pose")},
                1,
                {"arm_base_end: \"translation\" value 0 is nan, a finite number expected",
                 "result: FAILURE", "  error_code = 102200002\n", "  status_code = 102300001\n",
                 "  transfor_matrix" + kUnwritten}},
        RunCase{"NoService",
                {"--no-service"},
                1,
                {"result: FAILURE", "  status_code = 102501005\n", "  error_code" + kUnwritten}},
        RunCase{"WaitForTheService",
                {"--simulate", Answer("success"), "--wait-for-service-ms", "5000"},
                0,
                {"/arm_perception_common discovered after", "result: SUCCESS"}},
        RunCase{"NoServiceAfterWaiting",
                {"--no-service", "--wait-for-service-ms", "100"},
                1,
                {"/arm_perception_common not discovered within 100 ms; ticking anyway",
                 "result: FAILURE", "  status_code = 102501005\n"}},
        RunCase{"TimeOut",
                {"--simulate", Answer("success"), "--reply-delay-ms", "4000"},
                1,
                {"result: FAILURE", "  status_code = 102501008\n", "  error_code" + kUnwritten,
                 "  transfor_matrix" + kUnwritten}},
        RunCase{
            "Deadline",
            {"--simulate", Answer("success"), "--reply-delay-ms", "60000", "--deadline-ms", "300"},
            5,
            {"result: RUNNING after", "the deadline of 300 ms passed, tree halted",
             "DetectToiletInfo halted"}}),
    [](const auto& info) { return std::string(info.param.name); });

struct SetupErrorCase {
  const char* name;
  std::vector<std::string> arguments;
  int exit_code;
  std::string message;
};

void PrintTo(const SetupErrorCase& test_case, std::ostream* out) {
  *out << test_case.name;
}

class SetupErrorTest : public ::testing::TestWithParam<SetupErrorCase> {};

TEST_P(SetupErrorTest, ExitsWithAMessageAndRunsNothing) {
  const HostRun run = RunHost(GetParam().arguments);
  EXPECT_EQ(run.exit_code, GetParam().exit_code) << run.out << run.err;
  EXPECT_THAT(run.err, HasSubstr("bt_host: " + GetParam().message));
  EXPECT_THAT(run.out, Not(HasSubstr("result:")));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SetupErrorTest,
    ::testing::Values(
        SetupErrorCase{"MissingPlugin",
                       {"--plugin", "/nonexistent/libplugin.so", "--tree", kExampleTree},
                       3,
                       "cannot load plugin /nonexistent/libplugin.so: Could not load library"},
        SetupErrorCase{"BadXml",
                       {"--plugin", kPlugin, "--tree", kTestData + "/bad_syntax.xml"},
                       3,
                       "cannot build the tree from " + kTestData + "/bad_syntax.xml"},
        SetupErrorCase{"UnknownNode",
                       {"--plugin", kPlugin, "--tree", kTestData + "/unknown_node.xml"},
                       3,
                       "cannot build the tree from " + kTestData + "/unknown_node.xml"},
        SetupErrorCase{"TreeFileMissing",
                       {"--plugin", kPlugin, "--tree", kTestData + "/none.xml"},
                       3,
                       "tree file " + kTestData + "/none.xml not found"},
        SetupErrorCase{"AnswerFileMissing",
                       ExampleTreeWith({"--simulate", kTestData + "/none.yaml"}), 3,
                       "cannot read '" + kTestData + "/none.yaml'"},
        SetupErrorCase{"BadOption", {"--tree"}, 2, "option '--tree' needs a value"},
        // At once, not after the runs.
        SetupErrorCase{"UnwritableSummary",
                       ExampleTreeWith({"--simulate", Answer("success"), "--repeat", "100000",
                                        "--summary-json", "/nonexistent/summary.json"}),
                       3, "cannot write '/nonexistent/summary.json': No such file or directory"}),
    [](const auto& info) { return std::string(info.param.name); });

// Introspection is refused at start, before anything runs, unless it is a mode this build can do;
// the option is the one way to ask for it, so that the check at start cannot be bypassed.
TEST(IntrospectionOptionTest, IsRefusedAtStartUnlessTheBuildCanPublishServiceEvents) {
  const std::string refusal =
      "bt_host: --introspection contents: service introspection needs ROS "
      "2 Jazzy or later; this build has rclcpp 16.0.11, of ROS 2 Humble";
  for (const auto& [arguments, message] :
       std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"--introspection", "verbose"},
            "--introspection needs off, metadata or contents, not 'verbose'"},
           {{"--set", "perception_introspection=off"},
            "--set cannot write 'perception_introspection': use --introspection"}}) {
    const HostRun run = RunHost(ExampleTreeWith(arguments));
    EXPECT_EQ(run.exit_code, 2) << run.out << run.err;
    EXPECT_THAT(run.err, HasSubstr(message));
    EXPECT_THAT(run.out, Not(HasSubstr("DetectToiletInfo construct")));
  }
  const HostRun contents =
      RunHost(ExampleTreeWith({"--simulate", Answer("success"), "--introspection", "contents"}));
  if (KESTRAVA_SERVICE_INTROSPECTION) {
    EXPECT_EQ(contents.exit_code, 0) << contents.out << contents.err;
    EXPECT_THAT(contents.out, HasSubstr("publishing the contents of its service events"));
    EXPECT_THAT(contents.out, HasSubstr("DetectToiletInfo publishes the contents of its service "
                                        "events on /arm_perception_common/_service_event."));
  } else {
    EXPECT_EQ(contents.exit_code, 2) << contents.out << contents.err;
    EXPECT_THAT(contents.err, HasSubstr(refusal));
    EXPECT_EQ(contents.out, "");
  }
#ifdef KESTRAVA_SIMULATED_SERVICE
  std::vector<std::pair<std::string, std::string>> service_refusals = {
      {"verbose", "--introspection needs off, metadata or contents, not 'verbose'"}};
  if (!KESTRAVA_SERVICE_INTROSPECTION) {
    service_refusals.emplace_back("contents", refusal.substr(std::string("bt_host: ").size()));
  }
  for (const auto& [mode, message] : service_refusals) {
    const auto service = kestrava::test::RunChild(
        KESTRAVA_SIMULATED_SERVICE, {"--response", Answer("success"), "--introspection", mode},
        ChildEnvironment());
    EXPECT_EQ(kestrava::test::ExitStatusOf(service.wait_status), 2) << service.out << service.err;
    EXPECT_THAT(service.err, HasSubstr("simulated_perception_service: " + message));
  }
#endif
}

// A stop during the pause between runs ends the host with the runs so far, without another one.
TEST(RepeatedRunsTest, AStopDuringAPauseStartsNoFurtherRun) {
  const kestrava::test::TemporaryFolder folder;
  const std::string summary = (folder.path() / "summary.json").string();
  kestrava::test::BackgroundChild host(
      KESTRAVA_BT_HOST,
      ExampleTreeWith({"--simulate", Answer("success"), "--repeat", "3", "--pause-ms", "600000",
                       "--summary-json", summary}),
      ChildEnvironment());
  ASSERT_TRUE(host.AwaitOutput("pausing 600000 ms before run 2 of 3", std::chrono::seconds(60)))
      << host.Output();
  EXPECT_EQ(host.Stop(SIGINT), 6) << host.Output();
  EXPECT_THAT(host.Output(), HasSubstr("summary of 1 of 3 run(s): 1 succeeded, 0 failed\n"));
  EXPECT_EQ(kestrava::test::JsonComplaint(summary), "");
  EXPECT_THAT(kestrava::test::ReadWholeFile(summary), HasSubstr("\"runs\": 1,"));
}

// BehaviorTree.CPP refuses a tree file without a folder; the host resolves it against its working
// directory first, as it does the answer file.
TEST(TreeFileTest, ABareFileNameIsFoundInTheWorkingDirectory) {
  const HostRun run = RunHost({"--plugin", kPlugin, "--tree", "detect_toilet.xml", "--simulate",
                               "responses/success.yaml", "--tick-period-ms", "10"},
                              kExamples);
  EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
  EXPECT_THAT(run.out, HasSubstr("result: SUCCESS"));
}

// What a TreeNodesModel document says of each node: "<kind> <ID>" -> port name -> its element,
// type and default. The order of elements carries no meaning (ports come from a hash map).
using Port = std::tuple<std::string, std::string, std::string>;
using NodeModels = std::map<std::string, std::map<std::string, Port>>;

std::string AttributeOf(const tinyxml2::XMLElement& element, const char* name) {
  const char* value = element.Attribute(name);
  return value != nullptr ? value : "";
}

NodeModels ModelOf(const std::string& xml) {
  tinyxml2::XMLDocument document;
  EXPECT_EQ(document.Parse(xml.c_str()), tinyxml2::XML_SUCCESS) << xml;
  const tinyxml2::XMLElement* model =
      document.RootElement() ? document.RootElement()->FirstChildElement("TreeNodesModel")
                             : nullptr;
  NodeModels nodes;
  for (auto* node = model ? model->FirstChildElement() : nullptr; node != nullptr;
       node = node->NextSiblingElement()) {
    auto& ports = nodes[std::string(node->Name()) + " " + AttributeOf(*node, "ID")];
    for (auto* port = node->FirstChildElement(); port != nullptr;
         port = port->NextSiblingElement()) {
      ports[AttributeOf(*port, "name")] = {port->Name(), AttributeOf(*port, "type"),
                                           AttributeOf(*port, "default")};
    }
  }
  return nodes;
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path);
  EXPECT_TRUE(file) << path;
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

TEST(PrintModelTest, ListsThePluginsNodesWithTheirPortsDirectionsAndTypes) {
  const HostRun run = RunHost({"--plugin", kPlugin, "--print-model"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_THAT(run.out, StartsWith("<root"));  // nothing but the model, so it can be redirected
  EXPECT_EQ(ModelOf(run.out),
            (NodeModels{{"Action DetectToiletInfo",
                         {{"timeout_duration", {"input_port", "double", ""}},
                          {"transfor_matrix",
                           {"output_port", "std::vector<double, std::allocator<double> >", ""}},
                          {"fix_trajectory", {"output_port", "std::string", ""}},
                          {"error_code", {"output_port", "int", ""}},
                          {"status_code", {"output_port", "int", ""}}}}}));
}

// The palette shipped for Groot2 must not drift from what the plugin registers.
TEST(PrintModelTest, MatchesThePaletteShippedWithThePackage) {
  const HostRun run = RunHost({"--plugin", kPlugin, "--print-model"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(ModelOf(run.out), ModelOf(ReadFile(kPalette)))
      << "regenerate it: bt_host --plugin <libdetect_toilet_info_node.so> --print-model > "
      << kPalette;
}

}  // namespace
