#include "kestrava_arm_behavior_tree/common/utils.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

namespace {

using kestrava_arm::BLUE;
using kestrava_arm::DIM_BLUE;
using kestrava_arm::DIM_GREEN;
using kestrava_arm::GREEN;
using kestrava_arm::RESET;
using NameValues = std::unordered_map<std::string, std::string>;

struct TrimCase {
  std::string text;
  std::string expected;
};

void PrintTo(const TrimCase& trim_case, std::ostream* out) {
  *out << testing::PrintToString(trim_case.text);
}

class TrimStrTest : public testing::TestWithParam<TrimCase> {};

TEST_P(TrimStrTest, CutsOnlyBlankLineFeedReturnAndTabAtTheEnds) {
  EXPECT_EQ(kestrava_arm::bt::TrimStr(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Texts, TrimStrTest,
                         testing::Values(TrimCase{"  abc\t\r\n", "abc"}, TrimCase{" a b ", "a b"},
                                         TrimCase{"", ""}, TrimCase{" \t\n \r", ""},
                                         TrimCase{"\vabc\f", "\vabc\f"}, TrimCase{"x", "x"}));

struct NameValuesCase {
  std::string text;
  NameValues before;
  NameValues after;
};

void PrintTo(const NameValuesCase& name_values_case, std::ostream* out) {
  *out << testing::PrintToString(name_values_case.text);
}

class GetNameValuesTest : public testing::TestWithParam<NameValuesCase> {};

TEST_P(GetNameValuesTest, StoresTrimmedEntriesAndReturnsMapSize) {
  NameValues name_values = GetParam().before;
  const std::int32_t size = kestrava_arm::bt::GetNameValues(GetParam().text, name_values);
  EXPECT_EQ(name_values, GetParam().after);
  EXPECT_EQ(size, static_cast<std::int32_t>(GetParam().after.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Texts, GetNameValuesTest,
    testing::Values(NameValuesCase{"task_uid: 42; task_name : clean",
                                   {},
                                   {{"task_uid", "42"}, {"task_name", "clean"}}},
                    NameValuesCase{"a:1;a:2", {}, {{"a", "2"}}},
                    NameValuesCase{"a:1:2", {}, {{"a", "1:2"}}},
                    NameValuesCase{"a:", {}, {{"a", ""}}}, NameValuesCase{":x", {}, {{"", "x"}}},
                    NameValuesCase{"a;b;;c", {}, {}}, NameValuesCase{"a:1;", {}, {{"a", "1"}}},
                    NameValuesCase{";;b: 2", {}, {{"b", "2"}}},
                    NameValuesCase{"", {{"kept", "1"}}, {{"kept", "1"}}},
                    NameValuesCase{"new:2; kept :3",
                                   {{"kept", "1"}, {"other", "0"}},
                                   {{"kept", "3"}, {"other", "0"}, {"new", "2"}}},
                    NameValuesCase{"Task:1;task:2", {}, {{"Task", "1"}, {"task", "2"}}}));

// Runs the action with standard output captured; returns each line's message without its
// number and level tag.
std::vector<std::string> LoggedMessages(const std::function<void()>& action) {
  kestrava::Logger::Instance();  // configuration messages stay out of the capture
  testing::internal::CaptureStdout();
  action();
  std::istringstream out(testing::internal::GetCapturedStdout());
  std::vector<std::string> messages;
  std::string line;
  while (std::getline(out, line)) {
    EXPECT_EQ(line.compare(3, 8, " [INFO] "), 0) << line;
    messages.push_back(line.substr(11));
  }
  return messages;
}

template <typename... Values>
std::vector<double> Doubles(Values... values) {
  return {static_cast<double>(values)...};
}

TEST(PrintfFloat64MultiArray, WritesLabelAndValuesInStreamNotation) {
  const std::vector<std::pair<std::string, std::vector<double>>> inputs{
      {"joints", Doubles(1.5, 2, 0.25)},
      {"joints", {}},
      {"scale", Doubles(1e6, 1e-5, 123456, 0.0001, -0.0, 1.0 / 3)},
      {"{0} {:x}", Doubles(1)}};
  const std::vector<std::string> expected{"joints: [1.5 2 0.25 ]", "joints: []",
                                          "scale: [1e+06 1e-05 123456 0.0001 -0 0.333333 ]",
                                          "{0} {:x}: [1 ]"};
  EXPECT_EQ(LoggedMessages([&inputs] {
              for (const auto& [label, data] : inputs) {
                std_msgs::msg::Float64MultiArray array;
                array.data = data;
                kestrava_arm::bt::PrintfFloat64MultiArray(label, array);
              }
            }),
            expected);
}

std::string Coloured(const char* colour, const std::string& text) {
  return colour + text + RESET;
}

TEST(PrintfTrashInfo, WritesElevenColouredLines) {
  kestrava_protocol::msg::TrashInfo trash;
  trash.class_id = 0;
  trash.location = 65;
  trash.mainaxis_type = 255;
  trash.is_transparent = true;
  trash.map_pose.position.x = -0.0;
  trash.map_pose.position.y = 1e-9;
  trash.map_pose.position.z = 2.5;
  trash.map_pose.orientation.w = 1;
  trash.grab_pose.position.x = std::numeric_limits<double>::quiet_NaN();
  trash.grab_pose.position.y = std::numeric_limits<double>::infinity();
  trash.grab_pose.position.z = -std::numeric_limits<double>::infinity();
  trash.grab_pose.orientation.x = 0.1;
  trash.grab_pose.orientation.y = 0.2;
  trash.grab_pose.orientation.z = 0.3;
  trash.grab_pose.orientation.w = 0.9;
  trash.obb_pose.position.x = 1234.5678916;
  trash.obb_pose.orientation.w = -1;
  trash.obb_size.x = 0.1;
  trash.obb_size.y = 0.2;
  trash.obb_size.z = 0.3;
  const std::vector<std::string> expected{
      Coloured(BLUE, "class_id: 0"),
      Coloured(DIM_BLUE, "location: 65"),
      Coloured(DIM_BLUE, "mainaxis_type: 255"),
      Coloured(DIM_BLUE, "is_transparent: true"),
      Coloured(DIM_GREEN, "map_pose/pos:(-0.000000, 0.000000, 2.500000)"),
      Coloured(DIM_GREEN, "map_pose/ori:(1.000000, 0.000000, 0.000000, 0.000000)"),
      Coloured(GREEN, "grab_pose/pos:(nan, inf, -inf)"),
      Coloured(GREEN, "grab_pose/ori:(0.900000, 0.100000, 0.200000, 0.300000)"),
      Coloured(DIM_BLUE, "obb_pose/pos:(1234.567892, 0.000000, 0.000000)"),
      Coloured(DIM_BLUE, "obb_pose/ori:(-1.000000, 0.000000, 0.000000, 0.000000)"),
      Coloured(DIM_BLUE, "obb_size:(0.100000, 0.200000, 0.300000)")};
  EXPECT_EQ(LoggedMessages([&trash] { kestrava_arm::bt::PrintfTrashInfo(trash); }), expected);
}

}  // namespace
