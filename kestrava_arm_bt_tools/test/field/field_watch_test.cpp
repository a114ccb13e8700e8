// Watching the field on a ROS 2 with service introspection, over the middleware
// RMW_IMPLEMENTATION names: bt_host and simulated_perception_service as processes publishing
// their events, check_perception_service --watch judging every exchange beside them, its recording
// replayed and judged offline; plainly and under SROS2, each program in its enclave.

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <yaml-cpp/yaml.h>

#include "kestrava_arm_behavior_tree/contract/perception_contract.hpp"
#include "kestrava_arm_host/field_recording.hpp"
#include "kestrava_arm_testing/child_process.hpp"
#include "secure_processes.hpp"

namespace {

using kestrava::test::AddRosArguments;
using kestrava::test::BackgroundChild;
using kestrava::test::EnvironmentFor;
using kestrava::test::ReadWholeFile;
using kestrava::test::Security;

constexpr int kRuns = 200;
constexpr int kTimeLimitMs = 300;
// Far more than a program takes to start or to be refused.
constexpr std::chrono::seconds kStartLimit{20};

// What a run published, or what the node would publish for an exchange.
struct Outcome {
  std::string end;
  std::string error_code;  // "null" where the run wrote none
  std::string status_code;
  bool operator==(const Outcome& other) const {
    return std::tie(end, error_code, status_code) ==
           std::tie(other.end, other.error_code, other.status_code);
  }
};

std::ostream& operator<<(std::ostream& out, const Outcome& outcome) {
  return out << outcome.end << " " << outcome.error_code << " " << outcome.status_code;
}

Outcome OutcomeOf(const YAML::Node& entry) {
  const auto code = [&entry](const char* key) {
    return entry[key].IsNull() ? std::string("null") : entry[key].as<std::string>();
  };
  return {entry["end"].as<std::string>(), code("error_code"), code("status_code")};
}

std::vector<Outcome> OutcomesOf(const YAML::Node& list) {
  std::vector<Outcome> outcomes;
  for (const YAML::Node& entry : list) {
    outcomes.push_back(OutcomeOf(entry));
  }
  return outcomes;
}

// Where two lists of outcomes part, for a failure message: gtest prints only their beginnings.
std::string WhereTheyDiffer(const std::vector<Outcome>& a, const std::vector<Outcome>& b) {
  std::ostringstream text;
  text << "sizes " << a.size() << " and " << b.size();
  for (std::size_t index = 0; index < std::min(a.size(), b.size()); ++index) {
    if (!(a[index] == b[index])) {
      text << "; first difference at run " << index + 1 << ": " << a[index] << " and " << b[index];
      break;
    }
  }
  return text.str();
}

// The answers the first service gives in turn, one of them after the run's time limit.
std::vector<std::pair<std::string, int>> MixedAnswers() {
  const auto answer = [](const char* name) {
    return ReadWholeFile(std::string(KESTRAVA_EXAMPLES_DIR "/responses/") + name + ".yaml");
  };
  return {{answer("success"), 0},
          {answer("not_found"), 0},
          {answer("malformed"), 0},
          {answer("unusable_arm_pose"), 0},
          {answer("success"), 3 * kTimeLimitMs}};
}

// A recording that makes a replaying service answer the runs of kTree with MixedAnswers().
std::string MixedAnswersScript() {
  const std::string request =
      kestrava_arm::bt::WritePerceptionRequest({}, kTimeLimitMs).request_yaml;
  std::string script = kestrava_arm::host::RecordingHeaderLine();
  std::int64_t sequence = 0;
  for (const auto& [answer, delay_ms] : MixedAnswers()) {
    const std::int64_t received_ns = ++sequence * 1'000'000'000;
    script += kestrava_arm::host::RecordingLine(
        {"5c1",
         sequence,
         {{"REQUEST_RECEIVED", received_ns}, {"RESPONSE_SENT", received_ns + delay_ms * 1'000'000}},
         request,
         answer});
  }
  return script;
}

const std::string kTree = R"(<root BTCPP_format="4" main_tree_to_execute="Detect">
  <BehaviorTree ID="Detect">
    <DetectToiletInfo timeout_duration=")" +
                          std::to_string(kTimeLimitMs) +
                          R"(" transfor_matrix="{transfor_matrix}" fix_trajectory="{fix_trajectory}"
                      error_code="{error_code}" status_code="{status_code}"/>
  </BehaviorTree>
</root>
)";

void WriteFile(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

bool Offers(const BackgroundChild& service) {
  return service.AwaitOutput("offering /arm_perception_common", kStartLimit);
}

class FieldWatchTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    WriteFile(tree_, kTree);
    WriteFile(script_, MixedAnswersScript());
    if (GetParam()) {
      keystore_ = (folder_.path() / "keystore").string();
      const auto made = kestrava::test::RunChild(KESTRAVA_MAKE_KEYSTORE, {keystore_},
                                                 EnvironmentFor(kestrava::test::kNoSecurity));
      ASSERT_EQ(kestrava::test::ExitStatusOf(made.wait_status), 0) << made.out << made.err;
    }
  }

  Security In(const std::string& enclave) const {
    return keystore_.empty() ? kestrava::test::kNoSecurity : Security{keystore_, enclave};
  }

  // The simulated service replaying a recording with its delays, publishing its events.
  std::unique_ptr<BackgroundChild> ReplayingService(const std::filesystem::path& recording) {
    const Security security = In(kestrava::test::kPerceptionEnclave);
    std::vector<std::string> arguments{"--replay", recording.string(), "--replay-delays",
                                       "--introspection", "contents"};
    AddRosArguments(security, {}, arguments);
    return std::make_unique<BackgroundChild>(KESTRAVA_PERCEPTION_SERVICE, arguments,
                                             EnvironmentFor(security));
  }

  // What each of kRuns runs of the tree published, in order.
  std::vector<Outcome> RunHost(const std::string& name) {
    const Security security = In(kestrava::test::kHostEnclave);
    const std::string summary = (folder_.path() / (name + ".json")).string();
    std::vector<std::string> arguments{"--plugin",         KESTRAVA_PLUGIN,
                                       "--tree",           tree_.string(),
                                       "--repeat",         std::to_string(kRuns),
                                       "--tick-period-ms", "10",
                                       "--introspection",  "contents",
                                       "--summary-json",   summary};
    AddRosArguments(security, {}, arguments);
    const auto host =
        kestrava::test::RunChild(KESTRAVA_BT_HOST, arguments, EnvironmentFor(security));
    EXPECT_EQ(kestrava::test::ExitStatusOf(host.wait_status), 1) << "some runs fail\n"
                                                                 << host.out << host.err;
    return OutcomesOf(YAML::LoadFile(summary)["run_log"]);
  }

  kestrava::test::TemporaryFolder folder_;
  const std::filesystem::path tree_ = folder_.path() / "detect.xml";
  const std::filesystem::path script_ = folder_.path() / "mixed.recording";
  const std::filesystem::path recording_ = folder_.path() / "watched.recording";
  std::string keystore_;
};

// The lines a check printed for the exchanges: each begins with the time of its request.
std::vector<std::string> ExchangeLines(const std::string& output) {
  static const std::regex kExchangeLine(R"(\d{4}-\d\d-\d\dT.*status_code=.*)");
  std::vector<std::string> lines;
  std::istringstream text(output);
  for (std::string line; std::getline(text, line);) {
    if (std::regex_match(line, kExchangeLine)) {
      lines.push_back(line);
    }
  }
  return lines;
}

TEST_P(FieldWatchTest, TheWatchAgreesWithTheHostRunForRunAndItsRecordingReplaysTheSameRuns) {
  const Security check_security = In(kestrava::test::kCheckEnclave);
  std::vector<Outcome> first_runs;
  std::string watched;
  {
    const auto service = ReplayingService(script_);
    ASSERT_TRUE(Offers(*service)) << service->Output();
    std::vector<std::string> arguments{"--watch", "--count", std::to_string(kRuns), "--record",
                                       recording_.string()};
    AddRosArguments(check_security, {}, arguments);
    BackgroundChild watch(KESTRAVA_CHECK_PROGRAM, arguments, EnvironmentFor(check_security));
    ASSERT_TRUE(watch.AwaitOutput("watching /arm_perception_common", kStartLimit))
        << watch.Output();
    first_runs = RunHost("first");
    EXPECT_EQ(watch.Wait(), 1) << "refused and late answers among them\n" << watch.Output();
    watched = watch.Output();
  }
  ASSERT_EQ(first_runs.size(), static_cast<std::size_t>(kRuns));
  // Each answer of the script in turn: the mixture reached the host.
  for (std::size_t run = 5; run < first_runs.size(); ++run) {
    EXPECT_EQ(first_runs[run], first_runs[run - 5]) << "run " << run + 1;
  }

  const std::string report = (folder_.path() / "offline.json").string();
  const auto offline = kestrava::test::RunChild(
      KESTRAVA_CHECK_PROGRAM, {"--answers-from", recording_.string(), "--json", report},
      EnvironmentFor(kestrava::test::kNoSecurity));
  EXPECT_EQ(kestrava::test::ExitStatusOf(offline.wait_status), 1) << offline.out << offline.err;
  const std::vector<Outcome> verdicts = OutcomesOf(YAML::LoadFile(report)["verdicts"]);
  EXPECT_EQ(verdicts, first_runs) << "the verdicts on the recording, exchange for run: "
                                  << WhereTheyDiffer(verdicts, first_runs) << "\n"
                                  << ReadWholeFile(recording_);
  EXPECT_EQ(ExchangeLines(offline.out).size(), first_runs.size()) << offline.out;
  EXPECT_EQ(ExchangeLines(watched), ExchangeLines(offline.out))
      << "the watch's lines and the offline judgement's";

  const auto replaying = ReplayingService(recording_);
  ASSERT_TRUE(Offers(*replaying)) << replaying->Output();
  const std::vector<Outcome> replayed_runs = RunHost("replayed");
  EXPECT_EQ(replayed_runs, first_runs)
      << "the recording replayed, run for run: " << WhereTheyDiffer(replayed_runs, first_runs);
}

INSTANTIATE_TEST_SUITE_P(Security, FieldWatchTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Sros2" : "Plain"; });

}  // namespace
