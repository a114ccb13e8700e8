// Each case starts the driver in a fresh process, because the facade reads its environment once.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "kestrava_arm_testing/child_process.hpp"

namespace {

using kestrava::test::RunChild;

std::vector<std::string> AllValid() {
  return {"SPDLOG_STDOUT=true", "SPDLOG_SYSTEMD=false", "SPDLOG_LEVEL=info"};
}

// `logging_variables` are the only logging settings the driver sees; the rest of the environment
// is this test's own.
std::string RunDriver(const std::vector<std::string>& logging_variables,
                      const std::vector<std::string>& args) {
  const kestrava::test::ChildOutput child =
      RunChild(KESTRAVA_LOG_DRIVER, args, kestrava::test::LoggingEnvironment(logging_variables));
  EXPECT_TRUE(WIFEXITED(child.wait_status) && WEXITSTATUS(child.wait_status) == 0)
      << "driver status " << child.wait_status << ": " << child.err;
  return child.out;
}

std::string NotSet(const std::string& variable, const std::string& fallback) {
  return "environment variable " + variable + " is not set, and set " + fallback + "\n";
}

std::string Invalid(const std::string& variable, const std::string& fallback) {
  return "environment variable " + variable + " is invalid, and set " + fallback + "\n";
}

struct ConsoleCase {
  std::string name;
  std::vector<std::string> logging_variables;
  std::string script;
  std::string expected;
};

void PrintTo(const ConsoleCase& console_case, std::ostream* out) {
  *out << console_case.name;
}

class ConsoleTest : public testing::TestWithParam<ConsoleCase> {};

TEST_P(ConsoleTest, WritesExactly) {
  EXPECT_EQ(RunDriver(GetParam().logging_variables, {"script", GetParam().script}),
            GetParam().expected);
}

std::vector<ConsoleCase> InvalidValueCases() {
  std::vector<ConsoleCase> cases;
  const std::vector<std::string> switch_values{"TRUE", "False", "1", "yes", "on", ""};
  for (std::size_t i = 0; i < switch_values.size(); ++i) {
    const std::string& value = switch_values[i];
    cases.push_back({"stdout_invalid_" + std::to_string(i),
                     {"SPDLOG_STDOUT=" + value, "SPDLOG_SYSTEMD=false", "SPDLOG_LEVEL=info"},
                     "i",
                     Invalid("SPDLOG_STDOUT", "true") + "  1 [INFO] info 0\n"});
    cases.push_back({"systemd_invalid_" + std::to_string(i),
                     {"SPDLOG_STDOUT=true", "SPDLOG_SYSTEMD=" + value, "SPDLOG_LEVEL=info"},
                     "i",
                     Invalid("SPDLOG_SYSTEMD", "false") + "  1 [INFO] info 0\n"});
  }
  const std::vector<std::string> level_values{"warn", "INFO", "off", "Error", "", "error "};
  for (std::size_t i = 0; i < level_values.size(); ++i) {
    cases.push_back(
        {"level_invalid_" + std::to_string(i),
         {"SPDLOG_STDOUT=true", "SPDLOG_SYSTEMD=false", "SPDLOG_LEVEL=" + level_values[i]},
         "i",
         Invalid("SPDLOG_LEVEL", "default level") + "  1 [INFO] info 0\n"});
  }
  return cases;
}

std::vector<ConsoleCase> LevelCases() {
  const std::string both = "  1 [INFO] info 0\n  2 [ERROR] error 1\n";
  const std::string errors_only = "  1 [ERROR] error 1\n";
  const std::map<std::string, std::string> expected_by_level{
      {"trace", both},          {"debug", both},        {"info", both},
      {"warning", errors_only}, {"error", errors_only}, {"critical", ""}};
  std::vector<ConsoleCase> cases;
  for (const auto& [level, expected] : expected_by_level) {
    cases.push_back({"level_" + level,
                     {"SPDLOG_STDOUT=true", "SPDLOG_SYSTEMD=false", "SPDLOG_LEVEL=" + level},
                     "ie",
                     expected});
  }
  return cases;
}

std::vector<ConsoleCase> ConfigurationCases() {
  return {
      {"nothing_set",
       {},
       "i",
       NotSet("SPDLOG_STDOUT", "true") + NotSet("SPDLOG_SYSTEMD", "false") +
           NotSet("SPDLOG_LEVEL", "default level") + "  1 [INFO] info 0\n"},
      {"all_valid", AllValid(), "i", "  1 [INFO] info 0\n"},
      {"console_off",
       {"SPDLOG_STDOUT=false"},
       "iei",
       NotSet("SPDLOG_SYSTEMD", "false") + NotSet("SPDLOG_LEVEL", "default level")},
      // Suppressed statements take no number.
      {"threshold_error",
       {"SPDLOG_STDOUT=true", "SPDLOG_SYSTEMD=false", "SPDLOG_LEVEL=error"},
       "iieiie",
       "  1 [ERROR] error 2\n  2 [ERROR] error 5\n"},
      {"braces_unchanged", AllValid(), "b", "  1 [INFO] braces {} {0} {:x} }{\n"},
      {"escaped_braces_without_arguments", AllValid(), "f",
       "  1 [INFO] opening {\n  2 [INFO] closing }\n"},
      // The statement that fails to format takes no number.
      {"format_error", AllValid(), "ixi", "  1 [INFO] info 0\nformat error\n  2 [INFO] info 2\n"},
  };
}

std::string CaseName(const testing::TestParamInfo<ConsoleCase>& info) {
  return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(Configuration, ConsoleTest, testing::ValuesIn(ConfigurationCases()),
                         CaseName);
INSTANTIATE_TEST_SUITE_P(InvalidValues, ConsoleTest, testing::ValuesIn(InvalidValueCases()),
                         CaseName);
INSTANTIATE_TEST_SUITE_P(Levels, ConsoleTest, testing::ValuesIn(LevelCases()), CaseName);

TEST(SequenceNumber, ShowsCountModulo128AndWrapsAt256) {
  constexpr int kStatements = 300;
  std::string expected;
  for (int n = 1; n <= kStatements; ++n) {
    expected += fmt::format("{:3d} [INFO] info {}\n", n % 128, n - 1);
  }
  const std::string out = RunDriver(AllValid(), {"script", std::string(kStatements, 'i')});
  EXPECT_EQ(out, expected);
  // Spot checks that name the columns the alignment depends on.
  EXPECT_NE(out.find("127 [INFO] info 126\n  0 [INFO] info 127\n  1 [INFO] info 128\n"),
            std::string::npos);
  EXPECT_NE(out.find("127 [INFO] info 254\n  0 [INFO] info 255\n  1 [INFO] info 256\n"),
            std::string::npos);
}

TEST(Threads, WriteWholeLinesWithEveryNumberTakenOnce) {
  constexpr int kThreads = 4;
  constexpr int kLines = 300;
  std::istringstream out(
      RunDriver(AllValid(), {"threads", std::to_string(kThreads), std::to_string(kLines)}));
  std::map<int, int> numbers_seen;
  std::map<int, int> next_line_of_thread;
  std::string line;
  while (std::getline(out, line)) {
    int number = 0;
    int thread = 0;
    int line_of_thread = 0;
    ASSERT_EQ(
        std::sscanf(line.c_str(), "%d [INFO] thread %d line %d", &number, &thread, &line_of_thread),
        3)
        << line;
    // Printed back, the parsed fields must give the whole line: nothing of another line in it.
    ASSERT_EQ(line, fmt::format("{:3d} [INFO] thread {} line {}", number, thread, line_of_thread));
    ++numbers_seen[number];
    // Each thread's own lines keep their order.
    EXPECT_EQ(line_of_thread, next_line_of_thread[thread]++) << line;
  }
  std::map<int, int> numbers_expected;
  for (int n = 1; n <= kThreads * kLines; ++n) {
    ++numbers_expected[n % 128];
  }
  EXPECT_EQ(numbers_seen, numbers_expected);
  for (int thread = 0; thread < kThreads; ++thread) {
    EXPECT_EQ(next_line_of_thread[thread], kLines) << "thread " << thread;
  }
}

}  // namespace
