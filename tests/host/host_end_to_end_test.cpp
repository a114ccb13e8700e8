// Runs bt_host as a process with the plugin, the example tree and the example answers.

#include <sys/wait.h>

#include <map>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <tinyxml2.h>

#include "child_process.hpp"
#include "ros_domain.hpp"

extern char** environ;

namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

const std::string kExamples = KESTRAVA_EXAMPLES_DIR;
const std::string kTestData = KESTRAVA_HOST_TEST_DATA_DIR;
const std::string kPlugin = KESTRAVA_PLUGIN;
const std::string kExampleTree = kExamples + "/detect_toilet.xml";

struct HostRun {
  int exit_code;
  std::string out;
  std::string err;
};

// The test's own environment, with the plugin logging to standard output only and the ROS 2
// domain of this test process, so that bt_host meets no other test's service.
std::vector<std::string> ChildEnvironment() {
  kestrava_arm::bt::testing::IsolateRosDomain();
  std::vector<std::string> environment{"SPDLOG_SYSTEMD=false", "SPDLOG_STDOUT=true"};
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    if (text.rfind("SPDLOG_SYSTEMD=", 0) != 0 && text.rfind("SPDLOG_STDOUT=", 0) != 0) {
      environment.push_back(text);
    }
  }
  return environment;
}

HostRun RunHost(const std::vector<std::string>& arguments) {
  const auto child = kestrava::test::RunChild(KESTRAVA_BT_HOST, arguments, ChildEnvironment());
  const int exit_code = WIFEXITED(child.wait_status) ? WEXITSTATUS(child.wait_status)
                                                     : 128 + WTERMSIG(child.wait_status);
  return {exit_code, child.out, child.err};
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
        RunCase{"NoService",
                {"--no-service"},
                1,
                {"result: FAILURE", "  status_code = 102501005\n", "  error_code" + kUnwritten}},
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
        SetupErrorCase{"BadOption", {"--tree"}, 2, "option '--tree' needs a value"}),
    [](const auto& info) { return std::string(info.param.name); });

// Port name -> (element, type) of one node in a TreeNodesModel document.
std::map<std::string, std::pair<std::string, std::string>> ModelPorts(const std::string& xml,
                                                                      const std::string& node_id) {
  tinyxml2::XMLDocument document;
  EXPECT_EQ(document.Parse(xml.c_str()), tinyxml2::XML_SUCCESS) << xml;
  const tinyxml2::XMLElement* model =
      document.RootElement() ? document.RootElement()->FirstChildElement("TreeNodesModel")
                             : nullptr;
  std::map<std::string, std::pair<std::string, std::string>> ports;
  for (auto* node = model ? model->FirstChildElement() : nullptr; node != nullptr;
       node = node->NextSiblingElement()) {
    if (node->Attribute("ID", node_id.c_str()) == nullptr) {
      continue;
    }
    for (auto* port = node->FirstChildElement(); port != nullptr;
         port = port->NextSiblingElement()) {
      ports[port->Attribute("name")] = {port->Name(), port->Attribute("type")};
    }
  }
  return ports;
}

TEST(PrintModelTest, ListsTheNodesPortsWithDirectionAndType) {
  const HostRun run = RunHost({"--plugin", kPlugin, "--print-model"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_THAT(run.out, StartsWith("<root"));  // nothing but the model, so it can be redirected
  using Port = std::pair<std::string, std::string>;
  EXPECT_EQ(
      ModelPorts(run.out, "DetectToiletInfo"),
      (std::map<std::string, Port>{
          {"timeout_duration", {"input_port", "double"}},
          {"transfor_matrix", {"output_port", "std::vector<double, std::allocator<double> >"}},
          {"fix_trajectory", {"output_port", "std::string"}},
          {"error_code", {"output_port", "int"}},
          {"status_code", {"output_port", "int"}}}));
}

}  // namespace
