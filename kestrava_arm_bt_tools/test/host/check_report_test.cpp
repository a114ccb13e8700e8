// The check's report without ROS: what it makes of a request's rounds, how its table lines up,
// and reports that strict parsers read whatever bytes the user's paths, tasks and answers carry.

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <tinyxml2.h>
#include <yaml-cpp/yaml.h>

#include "check_report.hpp"
#include "kestrava_arm_host/report_text.hpp"
#include "kestrava_arm_testing/child_process.hpp"
#include "kestrava_arm_testing/strict_parsers.hpp"

namespace kestrava_arm::check {
namespace {

using bt::JudgeAnswer;
using std::chrono::milliseconds;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

const std::string kTaken =
    kestrava::test::ReadWholeFile(KESTRAVA_EXAMPLES_DIR "/responses/success.yaml");
const std::string kRefused =
    kestrava::test::ReadWholeFile(KESTRAVA_EXAMPLES_DIR "/responses/unusable_arm_pose.yaml");

// U+FFFD, which stands for each byte that is no UTF-8.
const std::string kReplaced = "\xEF\xBF\xBD";

TEST(ReportTextTest, ReplacesWhatIsNoUtf8ByteByByteAndKeepsWhatIs) {
  const std::string kept = "caf\xC3\xA9 \xF0\x9F\x98\x80";  // two- and four-byte characters
  EXPECT_EQ(host::JsonString(kept), "\"" + kept + "\"");
  EXPECT_EQ(host::XmlText(kept), kept);
  EXPECT_EQ(host::PrintableText(kept), kept);
  // A stray byte, a sequence cut short, an overlong '/', a surrogate, a code point past U+10FFFF.
  const std::string broken = "\xFF|\xE2\x82|\xC0\xAF|\xED\xA0\x80|\xF4\x90\x80\x80";
  std::string replaced = kReplaced + "|" + kReplaced + kReplaced + "|" + kReplaced + kReplaced +
                         "|" + kReplaced + kReplaced + kReplaced + "|" + kReplaced + kReplaced +
                         kReplaced + kReplaced;
  EXPECT_EQ(host::JsonString(broken), "\"" + replaced + "\"");
  EXPECT_EQ(host::XmlText(broken), replaced);
  EXPECT_EQ(host::PrintableText(broken), replaced);
  EXPECT_EQ(host::CharacterCount(kept), 6U);
  EXPECT_EQ(host::CharacterCount(replaced), 16U);
}

TEST(ReportTextTest, EscapesOrReplacesControlCharactersAsEachFormatRequires) {
  const std::string text = "a\"b\\c<&>'\t\n\r\x01\x1B\x7F\xC2\x9B\xEF\xBF\xBE";
  EXPECT_EQ(host::JsonString(text),
            "\"a\\\"b\\\\c<&>'\\u0009\\u000a\\u000d\\u0001\\u001b\x7F\xC2\x9B\xEF\xBF\xBE\"");
  EXPECT_EQ(host::XmlText(text), "a&quot;b\\c&lt;&amp;&gt;&apos;&#9;&#10;&#13;" + kReplaced +
                                     kReplaced + "\x7F\xC2\x9B" + kReplaced);
  EXPECT_EQ(host::PrintableText(text), "a\"b\\c<&>'" + kReplaced + kReplaced + kReplaced +
                                           kReplaced + kReplaced + kReplaced + kReplaced +
                                           "\xEF\xBF\xBE");
}

RequestResult Rounds(const std::vector<Exchange>& exchanges) {
  return {"default task", "time_out: 2000", exchanges};
}

TEST(SummariseTest, TellsAnswersApartAndCountsLateAndMissingOnes) {
  const RequestResult request = Rounds({{kTaken, milliseconds(100)},
                                        {kRefused, milliseconds(2001)},
                                        {std::nullopt, milliseconds(4000)},
                                        {kTaken, milliseconds(2000)}});
  const RequestSummary summary = Summarise(request, milliseconds(2000));
  ASSERT_EQ(summary.answers.size(), 2U);
  EXPECT_TRUE(summary.answers[0].verdict.succeeded);
  EXPECT_EQ(summary.answers[0].rounds, 2U);
  EXPECT_FALSE(summary.answers[1].verdict.succeeded);
  EXPECT_EQ(summary.answers[1].rounds, 1U);
  EXPECT_EQ(summary.answered, 3U);
  EXPECT_EQ(summary.late, 2U)
      << "the answer after the limit and the missing one; not the one at it";
  EXPECT_EQ(summary.median, milliseconds(2000));
  EXPECT_EQ(summary.p99, milliseconds(2001));
  EXPECT_EQ(summary.max, milliseconds(2001));
  EXPECT_THAT(
      ProblemsOf(request, milliseconds(2000)),
      ElementsAre(HasSubstr("1 of 4 answers refused with error_code 102200002: arm_base_end"),
                  "1 of 4 answers late: the time limit is 2000 ms, the slowest took 2001 ms",
                  "1 of 4 requests got no answer"));
  EXPECT_THAT(ProblemsOf(Rounds({{kTaken, milliseconds(2000)}}), milliseconds(2000)),
              ElementsAre());
}

// The characters before `text` in the line.
std::size_t ColumnOf(const std::string& line, const std::string& text) {
  return host::CharacterCount(line.substr(0, line.find(text)));
}

TEST(FormatTableTest, LinesColumnsUpByCharactersAndLetNoControlByteThrough) {
  const std::vector<AnswerFileResult> results{{"caf\xC3\xA9\x1B[2J.yaml", JudgeAnswer(kTaken)},
                                              {"b\xFF.yaml", JudgeAnswer(kRefused)}};
  std::istringstream table(FormatTable(results));
  std::vector<std::string> lines;
  for (std::string line; std::getline(table, line);) {
    lines.push_back(line);
  }
  ASSERT_EQ(lines.size(), 3U);
  EXPECT_EQ(lines[1], "caf\xC3\xA9" + kReplaced +
                          "[2J.yaml  SUCCESS  102200000   102501006    transfor_matrix [0.42, "
                          "-0.1, 0.35, 0, 0, 0.7071068, 0.7071068]");
  EXPECT_EQ(ColumnOf(lines[0], "END"), ColumnOf(lines[1], "SUCCESS"));
  EXPECT_EQ(ColumnOf(lines[0], "END"), ColumnOf(lines[2], "FAILURE"));
  EXPECT_EQ(ColumnOf(lines[0], "STATUS_CODE"), ColumnOf(lines[2], "102300001"));
}

// Bytes a user's file name, task text or request document can carry.
const std::string kOdd = "odd \xFF\x01 \"<&>\" \xC3\xA9";

std::string Written(const kestrava::test::TemporaryFolder& folder, const char* name,
                    const std::string& text) {
  const std::string path = (folder.path() / name).string();
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

TEST(CheckReportTest, StrictParsersReadTheReportsWhateverBytesTheyCarry) {
  const kestrava::test::TemporaryFolder folder;
  const LiveResults live{
      "/perception" + kOdd,
      milliseconds(2000),
      {{"task_info " + kOdd, "aruco_config_path: " + kOdd, {{kOdd, milliseconds(5)}}}}};
  const std::vector<AnswerFileResult> offline{{kOdd + ".yaml", JudgeAnswer(kOdd)},
                                              {"success.yaml", JudgeAnswer(kTaken)}};
  const ReportStamp stamp{"2024-05-06T07:08:09", "arm-ci"};

  for (const auto& [name, json, junit] :
       {std::tuple{"live", FormatJson(live), FormatJunit(live, stamp)},
        std::tuple{"offline", FormatJson(offline), FormatJunit(offline, stamp)}}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(kestrava::test::JsonComplaint(Written(folder, "check.json", json)), "") << json;
    const std::string junit_file = Written(folder, "check.xml", junit);
    EXPECT_EQ(kestrava::test::JunitComplaint(junit_file), "") << junit;
    tinyxml2::XMLDocument report;
    ASSERT_EQ(report.LoadFile(junit_file.c_str()), tinyxml2::XML_SUCCESS);
    const auto* test_case =
        report.RootElement()->FirstChildElement()->FirstChildElement("testcase");
    ASSERT_NE(test_case, nullptr);
    EXPECT_THAT(test_case->Attribute("name"),
                HasSubstr("odd " + kReplaced + kReplaced + " \"<&>\" \xC3\xA9"));
    ASSERT_NE(test_case->FirstChildElement("failure"), nullptr);
  }
  // What survives of the odd bytes in JSON: only the byte that is no UTF-8 is replaced.
  EXPECT_EQ(YAML::Load(FormatJson(live))["requests"][0]["name"].as<std::string>(),
            "task_info odd " + kReplaced + "\x01 \"<&>\" \xC3\xA9");
}

TEST(CheckReportTest, JunitCarriesTheStampAndTheTimeOfEachRequestsRounds) {
  const LiveResults live{
      "/perception",
      milliseconds(2000),
      {{"default task", "", {{kTaken, milliseconds(1200)}, {kTaken, milliseconds(34)}}}}};
  tinyxml2::XMLDocument report;
  ASSERT_EQ(report.Parse(FormatJunit(live, {"2024-05-06T07:08:09", "arm-ci"}).c_str()),
            tinyxml2::XML_SUCCESS);
  const auto* suite = report.RootElement()->FirstChildElement("testsuite");
  EXPECT_STREQ(suite->Attribute("timestamp"), "2024-05-06T07:08:09");
  EXPECT_STREQ(suite->Attribute("hostname"), "arm-ci");
  EXPECT_STREQ(suite->Attribute("time"), "1.234");
  EXPECT_STREQ(suite->FirstChildElement("testcase")->Attribute("time"), "1.234");
}

}  // namespace
}  // namespace kestrava_arm::check
