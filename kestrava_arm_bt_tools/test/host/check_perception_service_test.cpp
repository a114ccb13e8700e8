// Runs check_perception_service as a process and holds its verdicts against what the perception
// contract says a run of the node publishes for the same answers.

#include <csignal>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <fmt/ranges.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <tinyxml2.h>
#include <yaml-cpp/yaml.h>

#include "kestrava_arm_behavior_tree/contract/perception_contract.hpp"
#include "kestrava_arm_testing/child_process.hpp"
#include "kestrava_arm_testing/ros_domain.hpp"
#include "kestrava_arm_testing/strict_parsers.hpp"

namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

const std::string kExamples = KESTRAVA_EXAMPLES_DIR;

struct CheckRun {
  int exit_code;
  std::string out;
  std::string err;
};

std::vector<std::string> ChildEnvironment() {
  kestrava_arm::bt::testing::IsolateRosDomain();
  return kestrava::test::LoggingEnvironment({"SPDLOG_STDOUT=true", "SPDLOG_SYSTEMD=false"});
}

CheckRun RunCheck(const std::vector<std::string>& arguments) {
  const auto child =
      kestrava::test::RunChild(KESTRAVA_CHECK_PROGRAM, arguments, ChildEnvironment());
  return {kestrava::test::ExitStatusOf(child.wait_status), child.out, child.err};
}

using kestrava_arm::bt::RunOutcome;

// What a run publishes as the check's JSON report gives it, and as the contract has it.
std::string Published(const YAML::Node& verdict) {
  return fmt::format("{} {} {} [{}]", verdict["end"].as<std::string>(),
                     verdict["error_code"].as<int>(), verdict["status_code"].as<int>(),
                     fmt::join(verdict["transfor_matrix"].as<std::vector<double>>(), ", "));
}
std::string Published(const RunOutcome& outcome) {
  return fmt::format("{} {} {} [{}]", kestrava_arm::bt::EndOf(outcome), outcome.error_code,
                     outcome.status_code, fmt::join(outcome.transfor_matrix, ", "));
}

// Every answer document the tests use: the examples, the test data, and the seeds of the fuzz
// targets, among them the answers of the node's own tests.
std::vector<std::string> AnswerDocuments() {
  std::vector<std::string> files;
  for (const fs::path& folder :
       {fs::path(kExamples) / "responses", fs::path(KESTRAVA_SECURITY_TEST_DATA_DIR),
        fs::path(KESTRAVA_FUZZ_CORPUS_DIR) / "fuzz_answer_reader",
        fs::path(KESTRAVA_FUZZ_CORPUS_DIR) / "fuzz_response_handling"}) {
    for (const auto& entry : fs::directory_iterator(folder)) {
      files.push_back(entry.path().string());
    }
  }
  return files;
}

std::vector<std::string> AnswerOptions(const std::vector<std::string>& files) {
  std::vector<std::string> arguments;
  for (const std::string& file : files) {
    arguments.insert(arguments.end(), {"--answer", file});
  }
  return arguments;
}

// The node publishes the contract's outcome of each of these answers (its own tests show that).
TEST(CheckOfflineTest, ReportsTheContractsOutcomeOfEveryAnswerTheTestsUse) {
  const kestrava::test::TemporaryFolder folder;
  const std::string json = (folder.path() / "verdicts.json").string();
  const std::vector<std::string> files = AnswerDocuments();
  std::vector<std::string> arguments = AnswerOptions(files);
  arguments.insert(arguments.end(), {"--json", json});

  const CheckRun run = RunCheck(arguments);
  // Some of them are refused.
  EXPECT_EQ(run.exit_code, 1) << run.out << run.err;
  ASSERT_EQ(kestrava::test::JsonComplaint(json), "");
  const YAML::Node answers = YAML::LoadFile(json)["answers"];
  ASSERT_EQ(answers.size(), files.size());
  for (std::size_t i = 0; i < files.size(); ++i) {
    SCOPED_TRACE(files[i]);
    EXPECT_EQ(answers[i]["file"].as<std::string>(), files[i]);
    EXPECT_EQ(Published(answers[i]),
              Published(kestrava_arm::bt::JudgeAnswer(kestrava::test::ReadWholeFile(files[i]))));
    EXPECT_THAT(run.out, HasSubstr(files[i]));
  }
}

TEST(CheckOfflineTest, JunitHasACaseForEachFileWithTheReasonOfARefusal) {
  const kestrava::test::TemporaryFolder folder;
  const std::string junit = (folder.path() / "check.xml").string();
  const std::string success = kExamples + "/responses/success.yaml";
  const std::string unusable = kExamples + "/responses/unusable_arm_pose.yaml";
  const CheckRun run = RunCheck({"--answer", success, "--answer", unusable, "--junit", junit});
  EXPECT_EQ(run.exit_code, 1) << run.out << run.err;
  EXPECT_EQ(kestrava::test::JunitComplaint(junit), "");

  tinyxml2::XMLDocument report;
  ASSERT_EQ(report.LoadFile(junit.c_str()), tinyxml2::XML_SUCCESS);
  const auto* suite = report.FirstChildElement("testsuites")->FirstChildElement("testsuite");
  ASSERT_NE(suite, nullptr);
  EXPECT_EQ(suite->IntAttribute("tests"), 2);
  EXPECT_EQ(suite->IntAttribute("failures"), 1);
  const auto* taken = suite->FirstChildElement("testcase");
  EXPECT_EQ(taken->Attribute("name"), success);
  EXPECT_EQ(taken->FirstChildElement("failure"), nullptr);
  const auto* refused = taken->NextSiblingElement("testcase");
  EXPECT_EQ(refused->Attribute("name"), unusable);
  ASSERT_NE(refused->FirstChildElement("failure"), nullptr);
  EXPECT_THAT(refused->FirstChildElement("failure")->Attribute("message"),
              HasSubstr("arm_base_end: \"translation\" value 0 is nan, a finite number expected"));
}

// A file name and an answer with bytes that are no UTF-8 and control characters, as users' files
// can have: both reports still parse.
TEST(CheckOfflineTest, ReportsParseWhateverBytesTheFileNameAndTheAnswerCarry) {
  const kestrava::test::TemporaryFolder folder;
  const std::string answer = (folder.path() / "ans\xFF\x01.yaml").string();
  std::ofstream(answer, std::ios::binary) << "success: \xFF\x01\n";
  const std::string junit = (folder.path() / "check.xml").string();
  const std::string json = (folder.path() / "check.json").string();
  const CheckRun run = RunCheck({"--answer", answer, "--junit", junit, "--json", json});
  EXPECT_EQ(run.exit_code, 1) << run.out << run.err;
  EXPECT_EQ(kestrava::test::JunitComplaint(junit), "");
  EXPECT_EQ(kestrava::test::JsonComplaint(json), "");
}

struct ExitCase {
  const char* name;
  std::vector<std::string> arguments;
  int exit_code;
  std::string printed;  // on standard output for 0 and 1, on standard error otherwise
};

void PrintTo(const ExitCase& test_case, std::ostream* out) {
  *out << test_case.name;
}

class CheckExitStatusTest : public ::testing::TestWithParam<ExitCase> {};

TEST_P(CheckExitStatusTest, EndsWithItsStatusAndSaysWhy) {
  const CheckRun run = RunCheck(GetParam().arguments);
  EXPECT_EQ(run.exit_code, GetParam().exit_code) << run.out << run.err;
  EXPECT_THAT(GetParam().exit_code <= 1 ? run.out : run.err, HasSubstr(GetParam().printed));
}

const std::string kSuccess = kExamples + "/responses/success.yaml";

INSTANTIATE_TEST_SUITE_P(
    Cases, CheckExitStatusTest,
    ::testing::Values(
        ExitCase{
            "EveryAnswerTaken",
            {"--answer", kSuccess, "--answer", KESTRAVA_SECURITY_TEST_DATA_DIR "/forged_pose.yaml"},
            0,
            "SUCCESS  102200000   102501006    transfor_matrix [9.99, 9.99, 9.99, 0, 0, "
            "0.7071068, 0.7071068]"},
        ExitCase{"AnswerRefused",
                 {"--answer", kExamples + "/responses/not_found.yaml"},
                 1,
                 "FAILURE  102300001   102300001    \"success\" is false"},
        ExitCase{"UnknownOption", {"--answers", kSuccess}, 2, "unknown option '--answers'"},
        ExitCase{"NoRounds", {"--rounds", "0"}, 2, "'--rounds' needs a whole number of rounds"},
        ExitCase{"OfflineWithLiveOption",
                 {"--answer", kSuccess, "--service", "/other"},
                 2,
                 "it cannot be combined with --service"},
        ExitCase{
            "RecordingAndAnswers",
            {"--answers-from", kExamples + "/recordings/detect_only.jsonl", "--answer", kSuccess},
            2,
            "--answers-from and --answer cannot be combined"},
        ExitCase{"RecordingWithLiveOption",
                 {"--answers-from", kExamples + "/recordings/detect_only.jsonl", "--rounds", "3"},
                 2,
                 "it cannot be combined with --rounds"},
        ExitCase{
            "WatchWithAReport", {"--watch", "--json", "watch.json"}, 2, "--watch writes no report"},
        ExitCase{
            "WatchOptionWithoutWatch", {"--record", "watch.jsonl"}, 2, "--record needs --watch"},
        ExitCase{"UnreadableRecording",
                 {"--answers-from", "/nonexistent.jsonl"},
                 3,
                 "cannot read '/nonexistent.jsonl'"},
        ExitCase{"UnreadableAnswer",
                 {"--answer", "/nonexistent.yaml"},
                 3,
                 "cannot read '/nonexistent.yaml'"},
        ExitCase{"RequestFileWithAnAnswer",
                 {"--request", kSuccess},
                 3,
                 "holds no request the node could send: keys are [success, arm_base_end, "
                 "camera_end]"},
        ExitCase{"NoService",
                 {"--service", "/nobody_serves_this", "--wait-for-service-ms", "200"},
                 3,
                 "no server of /nobody_serves_this discovered within 200 ms"},
        // Refused before the check waits a minute for a service that is not there.
        ExitCase{"UnwritableReport",
                 {"--service", "/nobody_serves_this", "--wait-for-service-ms", "60000", "--junit",
                  "/nonexistent/check.xml"},
                 3,
                 "cannot write '/nonexistent/check.xml': No such file or directory"}),
    [](const auto& info) { return std::string(info.param.name); });

// The lines of the example recording: the header, then a taken answer, a toilet not found, a
// malformed answer, an unusable pose and a request never answered.
std::vector<std::string> ExampleRecordingLines() {
  std::ifstream file(kExamples + "/recordings/detect_only.jsonl");
  std::vector<std::string> lines;
  for (std::string line; std::getline(file, line);) {
    lines.push_back(line + "\n");
  }
  return lines;
}

std::string WriteRecording(const kestrava::test::TemporaryFolder& folder, const char* name,
                           const std::vector<std::string>& lines) {
  const std::string path = (folder.path() / name).string();
  std::ofstream file(path, std::ios::binary);
  for (const std::string& line : lines) {
    file << line;
  }
  return path;
}

// A bad line costs only itself: every other exchange is judged and reported, the bad line named
// on standard error, and the exit status says the recording was not read whole.
TEST(CheckRecordingTest, JudgesEveryExchangeItCanReadAndEndsWith3ForALineItCannot) {
  const kestrava::test::TemporaryFolder folder;
  const std::vector<std::string> example = ExampleRecordingLines();
  ASSERT_EQ(example.size(), 6u);
  std::vector<std::string> lines = example;
  lines.insert(lines.begin() + 2, "{\"client_gid\": \"ab\", \"sequence\":\n");
  const std::string recording = WriteRecording(folder, "field.jsonl", lines);
  const std::string json = (folder.path() / "verdicts.json").string();

  const CheckRun run = RunCheck({"--answers-from", recording, "--json", json});
  EXPECT_EQ(run.exit_code, 3) << run.out << run.err;
  EXPECT_THAT(run.err, HasSubstr(recording + ":3: not JSON"));
  EXPECT_THAT(run.out, HasSubstr("2026-03-02T09:15:00.000Z  "
                                 "/opt/kestrava/toilet_data/default/aruco_detection_config.yaml  "
                                 "184 ms  SUCCESS  error_code=102200000 status_code=102501006"));
  EXPECT_THAT(run.out, HasSubstr("2026-03-02T09:15:12.000Z  "
                                 "/opt/kestrava/toilet_data/default/aruco_detection_config.yaml  "
                                 "-  FAILURE  error_code=- status_code=102501008  no answer within "
                                 "the request's time_out of 2000 ms"));
  EXPECT_THAT(run.out, HasSubstr("5 exchange(s): 1 taken, 3 refused, 1 timed out; 1 line(s) "
                                 "unreadable"));

  ASSERT_EQ(kestrava::test::JsonComplaint(json), "");
  const YAML::Node report = YAML::LoadFile(json);
  EXPECT_FALSE(report["passed"].as<bool>());
  EXPECT_EQ(report["unreadable_lines"].as<int>(), 1);
  const YAML::Node verdicts = report["verdicts"];
  ASSERT_EQ(verdicts.size(), 5u);
  for (std::size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    const std::string answer = YAML::Load(example[i + 1])["answer"].as<std::string>();
    EXPECT_EQ(Published(verdicts[i]), Published(kestrava_arm::bt::JudgeAnswer(answer)));
  }
  EXPECT_EQ(verdicts[4]["end"].as<std::string>(), "FAILURE");
  EXPECT_TRUE(verdicts[4]["error_code"].IsNull());
  EXPECT_EQ(verdicts[4]["status_code"].as<int>(), kestrava_arm::bt::kStatusTimeout);
  EXPECT_TRUE(verdicts[4]["timed_out"].as<bool>());
}

TEST(CheckRecordingTest, EndsWith0WhenEveryAnswerIsTakenAnd1ForATimeout) {
  const kestrava::test::TemporaryFolder folder;
  const std::vector<std::string> lines = ExampleRecordingLines();
  ASSERT_EQ(lines.size(), 6u);
  const CheckRun taken =
      RunCheck({"--answers-from", WriteRecording(folder, "taken.jsonl", {lines[0], lines[1]})});
  EXPECT_EQ(taken.exit_code, 0) << taken.out << taken.err;
  EXPECT_THAT(taken.out, HasSubstr("1 exchange(s): 1 taken, 0 refused, 0 timed out"));

  const CheckRun timed_out = RunCheck(
      {"--answers-from", WriteRecording(folder, "late.jsonl", {lines[0], lines[1], lines[5]})});
  EXPECT_EQ(timed_out.exit_code, 1) << timed_out.out << timed_out.err;
  EXPECT_THAT(timed_out.out, HasSubstr("2 exchange(s): 1 taken, 0 refused, 1 timed out"));
  EXPECT_EQ(timed_out.err, "");
}

// The watch where the build can see service events: a system without exchanges is watched for
// the time asked and ends with an empty summary; elsewhere it is refused at start.
TEST(CheckWatchTest, WatchesForTheTimeAskedOrIsRefusedWhereTheBuildSeesNoServiceEvents) {
  const CheckRun run = RunCheck({"--watch", "--duration-ms", "300"});
  if (KESTRAVA_SERVICE_INTROSPECTION) {
    EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
    EXPECT_THAT(run.out, HasSubstr("0 exchange(s): 0 taken, 0 refused, 0 timed out"));
  } else {
    EXPECT_EQ(run.exit_code, 2) << run.out << run.err;
    EXPECT_THAT(run.err, HasSubstr("check_perception_service: --watch: service introspection "
                                   "needs ROS 2 Jazzy or later"));
  }
}

#ifdef KESTRAVA_SIMULATED_SERVICE

constexpr const char* kLiveService = "/check_test_perception";

// The simulated service in a process of its own, answering every request with one document.
kestrava::test::BackgroundChild StartService(const std::string& answer_file,
                                             const std::string& reply_delay_ms = "0") {
  return kestrava::test::BackgroundChild(
      KESTRAVA_SIMULATED_SERVICE,
      {"--response", answer_file, "--service", kLiveService, "--reply-delay-ms", reply_delay_ms},
      ChildEnvironment());
}

class CheckLiveTest : public ::testing::TestWithParam<std::string> {};

TEST_P(CheckLiveTest, VerdictAndCodesAreTheContractsForEachRequest) {
  const std::string answer_file = kExamples + "/responses/" + GetParam() + ".yaml";
  kestrava::test::BackgroundChild service = StartService(answer_file);
  const kestrava::test::TemporaryFolder folder;
  const std::string json = (folder.path() / "live.json").string();
  const CheckRun run = RunCheck(
      {"--service", kLiveService, "--rounds", "2", "--time-limit-ms", "5000", "--json", json});

  const RunOutcome expected =
      kestrava_arm::bt::JudgeAnswer(kestrava::test::ReadWholeFile(answer_file));
  EXPECT_EQ(run.exit_code, expected.succeeded ? 0 : 1) << run.out << run.err;
  const YAML::Node requests = YAML::LoadFile(json)["requests"];
  ASSERT_EQ(requests.size(), 3U) << run.out;
  for (const YAML::Node& request : requests) {
    SCOPED_TRACE(request["name"].as<std::string>());
    EXPECT_EQ(request["answered"].as<int>(), 2);
    EXPECT_EQ(request["late"].as<int>(), 0);
    EXPECT_FALSE(request["answers_differ"].as<bool>());
    ASSERT_EQ(request["answers"].size(), 1U);
    EXPECT_EQ(Published(request["answers"][0]), Published(expected));
  }
  // Each request is the node's own: the service finds nothing wrong with any.
  service.Stop(SIGINT);
  EXPECT_THAT(service.Output(), HasSubstr("request #6:"));
  EXPECT_THAT(service.Output(), Not(HasSubstr("is malformed")));
}

INSTANTIATE_TEST_SUITE_P(ExampleAnswers, CheckLiveTest,
                         ::testing::Values("success", "not_found", "missing_arm_block", "malformed",
                                           "unusable_arm_pose"),
                         [](const auto& info) { return info.param; });

// The answer comes 250 ms after the request, after the limit of 100 ms whatever the machine's load,
// and well within the check's wait of 1100 ms for it.
TEST(CheckLiveLateTest, AnswersAfterTheTimeLimitAreLate) {
  kestrava::test::BackgroundChild service = StartService(kSuccess, "250");
  const kestrava::test::TemporaryFolder folder;
  const std::string junit = (folder.path() / "live.xml").string();
  const CheckRun run = RunCheck({"--service", kLiveService, "--task-info", "task_uid:7\xFF\x01",
                                 "--rounds", "1", "--time-limit-ms", "100", "--junit", junit});

  EXPECT_EQ(run.exit_code, 1) << run.out << run.err;
  EXPECT_EQ(kestrava::test::JunitComplaint(junit), "");
  tinyxml2::XMLDocument report;
  ASSERT_EQ(report.LoadFile(junit.c_str()), tinyxml2::XML_SUCCESS);
  const auto* test_case = report.FirstChildElement("testsuites")
                              ->FirstChildElement("testsuite")
                              ->FirstChildElement("testcase");
  EXPECT_STREQ(test_case->Attribute("name"), "task_info task_uid:7\xEF\xBF\xBD\xEF\xBF\xBD");
  ASSERT_NE(test_case->FirstChildElement("failure"), nullptr);
  EXPECT_THAT(test_case->FirstChildElement("failure")->Attribute("message"),
              HasSubstr("1 of 1 answers late: the time limit is 100 ms"));
}

#endif

}  // namespace
