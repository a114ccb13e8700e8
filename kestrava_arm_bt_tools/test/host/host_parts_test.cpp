#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "behaviortree_cpp/bt_factory.h"
#include "blackboard_report.hpp"
#include "host_options.hpp"
#include "kestrava_arm_host/command_line.hpp"
#include "kestrava_arm_host/ros_security.hpp"
#include "recorded_run.hpp"
#include "run_summary.hpp"
#include "tree_observers.hpp"
#include "tree_runner.hpp"

namespace kestrava_arm::host {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Pair;
using ::testing::ThrowsMessage;

HostOptions Parse(std::vector<const char*> arguments) {
  arguments.insert(arguments.begin(), "bt_host");
  return ParseHostOptions(static_cast<int>(arguments.size()), arguments.data());
}

TEST(HostOptionsTest, CollectsRepeatedOptionsAndLeavesRosArgumentsToRclcpp) {
  const HostOptions options =
      Parse({"--plugin", "a.so", "--plugin=b.so", "--tree", "t.xml", "--set",
             "task_info=task_uid:1;x:y=z", "--deadline-ms", "0", "--ros-args", "-r", "__node:=x"});
  EXPECT_THAT(options.plugins, ElementsAre("a.so", "b.so"));
  EXPECT_THAT(options.entries, ElementsAre(Pair("task_info", "task_uid:1;x:y=z")));
  EXPECT_EQ(options.deadline.count(), 0);
  EXPECT_THAT(options.ros_args, ElementsAre("--ros-args", "-r", "__node:=x"));
}

TEST(HostOptionsTest, WaitsForDiscoveryOnlyForAServiceOfAnotherProcess) {
  EXPECT_EQ(ServiceWaitLimit(Parse({"--tree", "t"})).count(), 10000);
  EXPECT_EQ(ServiceWaitLimit(Parse({"--tree", "t", "--simulate", "r.yaml"})).count(), 0);
  EXPECT_EQ(ServiceWaitLimit(Parse({"--tree", "t", "--no-service"})).count(), 0);
  EXPECT_EQ(ServiceWaitLimit(Parse({"--tree", "t", "--wait-for-service-ms", "0"})).count(), 0);
  EXPECT_EQ(ServiceWaitLimit(Parse({"--tree", "t", "--no-service", "--wait-for-service-ms", "20"}))
                .count(),
            20);
}

struct BadCommandLine {
  const char* name;
  std::vector<const char*> arguments;
  const char* message;
};

void PrintTo(const BadCommandLine& test_case, std::ostream* out) {
  *out << test_case.name;
}

class BadCommandLineTest : public ::testing::TestWithParam<BadCommandLine> {};

TEST_P(BadCommandLineTest, IsRejectedWithAReason) {
  try {
    Parse(GetParam().arguments);
    FAIL() << "accepted";
  } catch (const UsageError& error) {
    EXPECT_THAT(error.what(), HasSubstr(GetParam().message));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadCommandLineTest,
    ::testing::Values(
        BadCommandLine{"NoTree", {"--plugin", "a.so"}, "--tree FILE is required"},
        BadCommandLine{"ValueMissing", {"--tree"}, "'--tree' needs a value (FILE)"},
        BadCommandLine{"UnknownOption", {"--tree", "t", "--fast"}, "unknown option '--fast'"},
        BadCommandLine{"StrayArgument", {"--tree", "t", "extra"}, "unexpected argument 'extra'"},
        BadCommandLine{"FlagWithValue", {"--print-model=yes"}, "'--print-model' takes no value"},
        BadCommandLine{"ModelWithoutPlugin", {"--print-model"}, "--print-model needs a plugin"},
        BadCommandLine{"EntryWithoutKey", {"--tree", "t", "--set", "=v"}, "--set needs KEY=VALUE"},
        BadCommandLine{"EntryOfTheHost",
                       {"--tree", "t", "--set", "kestrava_arm_bt_shared_node=n"},
                       "cannot write 'kestrava_arm_bt_shared_node'"},
        BadCommandLine{"NegativePeriod",
                       {"--tree", "t", "--tick-period-ms", "-5"},
                       "'--tick-period-ms' needs a whole number of milliseconds, not '-5'"},
        BadCommandLine{"ZeroPeriod", {"--tree", "t", "--tick-period-ms", "0"}, "at least 1"},
        BadCommandLine{"ServiceTwice",
                       {"--tree", "t", "--no-service", "--simulate", "r.yaml"},
                       "exclude each other"},
        BadCommandLine{"DelayWithoutService",
                       {"--tree", "t", "--reply-delay-ms", "10"},
                       "--reply-delay-ms needs --simulate"},
        BadCommandLine{"NoRuns", {"--tree", "t", "--repeat", "0"}, "at least 1, not '0'"},
        BadCommandLine{"RunsNotANumber", {"--tree", "t", "--repeat", "5x"}, "not '5x'"},
        BadCommandLine{
            "PauseWithoutRepeat", {"--tree", "t", "--pause-ms", "10"}, "--pause-ms needs --repeat"},
        BadCommandLine{"Groot2PortWithoutRoomForTheSecond",
                       {"--tree", "t", "--groot2-port", "65535"},
                       "a TCP port from 1 to 65534 (Groot2 also uses the next one), not '65535'"},
        BadCommandLine{"RecordingNotReplayable",
                       {"--tree", "t", "--record", "run.log"},
                       "--record needs a file name ending in .btlog, not 'run.log'"}),
    [](const auto& info) { return std::string(info.param.name); });

// A build whose BehaviorTree.CPP cannot publish or record refuses the options at once, naming what
// it would need, rather than running a tree nobody can watch.
TEST(HostOptionsTest, TakesTheGroot2OptionsOnlyWhereThisBuildHasThem) {
  const std::vector<const char*> publish{"--tree", "t", "--groot2-port", "1667"};
  const std::vector<const char*> record{"--tree", "t", "--record", "run.btlog"};
  if (CanPublishToGroot2()) {
    EXPECT_EQ(Parse(publish).groot2_port, 1667U);
  } else {
    EXPECT_THAT([&] { Parse(publish); }, ThrowsMessage<UsageError>(HasSubstr(
                                             "--groot2-port needs bt_host built against a "
                                             "BehaviorTree.CPP 4 with its Groot2 publisher")));
  }
  if (CanRecordForGroot2()) {
    EXPECT_EQ(Parse(record).record_file, "run.btlog");
  } else {
    EXPECT_THAT([&] { Parse(record); },
                ThrowsMessage<UsageError>(HasSubstr("--record needs bt_host built against a "
                                                    "BehaviorTree.CPP 4 with its file logger")));
  }
}

struct SecureStart {
  const char* name;
  std::vector<std::pair<const char*, const char*>> environment;  // nullptr: unset
  std::vector<std::string> ros_args;
  const char* described;  // nullptr: the error alone
};

void PrintTo(const SecureStart& test_case, std::ostream* out) {
  *out << test_case.name;
}

class WithRosSecurityTest : public ::testing::TestWithParam<SecureStart> {};

TEST_P(WithRosSecurityTest, NamesTheEnclaveRclChoosesAndTheKeystore) {
  for (const auto& [name, value] : GetParam().environment) {
    if (value != nullptr) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  const std::string message = WithRosSecurity("rmw handle is invalid", GetParam().ros_args);
  if (GetParam().described == nullptr) {
    EXPECT_EQ(message, "rmw handle is invalid");
  } else {
    EXPECT_THAT(message, HasSubstr(GetParam().described));
    EXPECT_THAT(message, HasSubstr(": rmw handle is invalid; the keystore must hold the enclave"));
  }
}

const std::vector<std::pair<const char*, const char*>> kSecureEnvironment{
    {"ROS_SECURITY_ENABLE", "true"},
    {"ROS_SECURITY_KEYSTORE", "/ks"},
    {"ROS_SECURITY_STRATEGY", "Enforce"},
    {"ROS_DOMAIN_ID", "7"},
    {"ROS_SECURITY_ENCLAVE_OVERRIDE", nullptr}};

std::vector<std::pair<const char*, const char*>> SecureEnvironmentWith(const char* name,
                                                                       const char* value) {
  auto environment = kSecureEnvironment;
  environment.emplace_back(name, value);
  return environment;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WithRosSecurityTest,
    ::testing::Values(SecureStart{"SecurityOff",
                                  {{"ROS_SECURITY_ENABLE", "false"}},
                                  {"--ros-args", "--enclave", "/a"},
                                  nullptr},
                      SecureStart{"EnclaveArgument",
                                  kSecureEnvironment,
                                  {"--ros-args", "--enclave", "/a", "-e", "/b"},
                                  "(enclave /b, keystore /ks, ROS domain 7, strategy Enforce)"},
                      SecureStart{
                          "NoEnclaveArgument", kSecureEnvironment, {}, "(enclave /, keystore /ks"},
                      SecureStart{"OverrideVariable",
                                  SecureEnvironmentWith("ROS_SECURITY_ENCLAVE_OVERRIDE", "/c"),
                                  {"--ros-args", "--enclave", "/a"},
                                  "(enclave /c, "},
                      SecureStart{"NoKeystore",
                                  SecureEnvironmentWith("ROS_SECURITY_KEYSTORE", nullptr),
                                  {},
                                  "keystore unset, "}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DescribeValueTest, ShowsEachKindOfEntryReadably) {
  EXPECT_EQ(DescribeValue(BT::Any(std::vector<double>{0.42, -0.1, 0.0})), "[0.42, -0.1, 0]");
  EXPECT_EQ(DescribeValue(BT::Any(std::string("/a/b.txt"))), "\"/a/b.txt\"");
  EXPECT_EQ(DescribeValue(BT::Any(102501006)), "102501006");
  EXPECT_EQ(DescribeValue(BT::Any(true)), "true");
  EXPECT_EQ(DescribeValue(BT::Any(2.5)), "2.5");
  EXPECT_EQ(DescribeValue(BT::Any()), "(no value)");
  EXPECT_EQ(DescribeValue(BT::Any(std::make_shared<int>(1))), "(std::shared_ptr<int>)");
}

TEST(DescribeBlackboardTest, ListsEntriesSortedWithoutTheSharedNode) {
  const auto blackboard = BT::Blackboard::create();
  blackboard->set("status_code", 102501006);
  blackboard->set("kestrava_arm_bt_shared_node", std::make_shared<int>(0));
  blackboard->set("fix_trajectory", std::string("/t.txt"));
  blackboard->createEntry("error_code", BT::TypeInfo::Create<int>());
  EXPECT_EQ(DescribeBlackboard(*blackboard),
            "  error_code = (no value)\n"
            "  fix_trajectory = \"/t.txt\"\n"
            "  status_code = 102501006\n");
}

// Runs until halted, and counts its ticks and halts.
class Endless : public BT::StatefulActionNode {
 public:
  Endless(const std::string& name, const BT::NodeConfig& config)
      : BT::StatefulActionNode(name, config) {}
  static BT::PortsList providedPorts() { return {}; }
  static inline std::atomic<int> ticks{0};
  static inline int halts = 0;

 private:
  BT::NodeStatus onStart() override {
    ++ticks;
    return BT::NodeStatus::RUNNING;
  }
  BT::NodeStatus onRunning() override {
    ++ticks;
    return BT::NodeStatus::RUNNING;
  }
  void onHalted() override { ++halts; }
};

// Wakes the tree during its first tick, as an answer that arrives meanwhile does; then succeeds.
class WakesThenSucceeds : public BT::StatefulActionNode {
 public:
  WakesThenSucceeds(const std::string& name, const BT::NodeConfig& config)
      : BT::StatefulActionNode(name, config) {}
  static BT::PortsList providedPorts() { return {}; }

 private:
  BT::NodeStatus onStart() override {
    emitWakeUpSignal();
    return BT::NodeStatus::RUNNING;
  }
  BT::NodeStatus onRunning() override { return BT::NodeStatus::SUCCESS; }
  void onHalted() override {}
};

// Writes both codes to its output ports in its first run after the flag is reset only.
bool codes_written = false;
BT::NodeStatus CodesInFirstRunOnly(BT::TreeNode& node) {
  if (!std::exchange(codes_written, true)) {
    node.setOutput("error_code", 102200000);
    node.setOutput("status_code", 102501006);
  }
  return BT::NodeStatus::SUCCESS;
}

BT::Tree MakeTree(const std::string& node) {
  static BT::BehaviorTreeFactory factory = [] {
    BT::BehaviorTreeFactory made;
    made.registerNodeType<Endless>("Endless");
    made.registerNodeType<WakesThenSucceeds>("WakesThenSucceeds");
    made.registerSimpleAction(
        "CodesInFirstRunOnly", CodesInFirstRunOnly,
        {BT::OutputPort<int>("error_code"), BT::OutputPort<int>("status_code")});
    made.registerSimpleAction("Succeed", [](BT::TreeNode&) { return BT::NodeStatus::SUCCESS; });
    made.registerSimpleAction("Throw", [](BT::TreeNode&) -> BT::NodeStatus {
      throw std::runtime_error("sensor unplugged");
    });
    return made;
  }();
  return factory.createTreeFromText("<root BTCPP_format=\"4\"><BehaviorTree ID=\"T\"><" + node +
                                    "/></BehaviorTree></root>");
}

TEST(TickUntilDoneTest, StopsAtTheFirstStatusOtherThanRunning) {
  BT::Tree tree = MakeTree("Succeed");
  const TickOutcome outcome = TickUntilDone(tree, {}, [] { return false; });
  EXPECT_EQ(outcome.end, TickOutcome::End::kCompleted);
  EXPECT_EQ(outcome.status, BT::NodeStatus::SUCCESS);
  EXPECT_EQ(outcome.ticks, 1);
}

TEST(TickUntilDoneTest, HaltsTheTreeWhenStopped) {
  BT::Tree tree = MakeTree("Endless");
  Endless::ticks = 0;
  Endless::halts = 0;
  const TickOutcome outcome =
      TickUntilDone(tree, {std::chrono::milliseconds(1), {}}, [] { return Endless::ticks >= 3; });
  EXPECT_EQ(outcome.end, TickOutcome::End::kInterrupted);
  EXPECT_EQ(outcome.ticks, 3);
  EXPECT_EQ(Endless::halts, 1);
}

TEST(TickUntilDoneTest, HaltsTheTreeAtTheDeadline) {
  BT::Tree tree = MakeTree("Endless");
  Endless::halts = 0;
  const TickOutcome outcome = TickUntilDone(
      tree, {std::chrono::milliseconds(1), std::chrono::milliseconds(5)}, [] { return false; });
  EXPECT_EQ(outcome.end, TickOutcome::End::kDeadlinePassed);
  EXPECT_EQ(outcome.status, BT::NodeStatus::RUNNING);
  EXPECT_EQ(Endless::halts, 1);
}

// Ticks on a thread of its own, stopped when the test gives up: a sleep that outlasts the test's
// limit fails the test instead of holding it for the rest of the tick period.
std::optional<TickOutcome> TickWithinTestLimit(BT::Tree& tree, const TickSchedule& schedule,
                                               const std::function<bool()>& stop_requested) {
  std::atomic<bool> given_up{false};
  auto ticking = std::async(std::launch::async, [&] {
    return TickUntilDone(tree, schedule, [&] { return given_up || stop_requested(); });
  });
  const bool ended = ticking.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
  given_up = true;
  // Any node can wake its tree, and with it a sleep that would not look at the stop request.
  tree.rootNode()->emitWakeUpSignal();
  const TickOutcome outcome = ticking.get();
  return ended ? std::optional(outcome) : std::nullopt;
}

// Each of these would sleep for an hour if the tick loop slept out its period.
TEST(TickUntilDoneTest, SleepsNoLongerThanAWakeUpAStopOrTheDeadlineAllow) {
  const TickSchedule hourly{std::chrono::hours(1), {}};
  {
    SCOPED_TRACE("a node wakes the tree during its first tick");
    BT::Tree tree = MakeTree("WakesThenSucceeds");
    const auto outcome = TickWithinTestLimit(tree, hourly, [] { return false; });
    ASSERT_TRUE(outcome) << "still asleep after 10 s";
    EXPECT_EQ(outcome->status, BT::NodeStatus::SUCCESS);
    EXPECT_EQ(outcome->ticks, 2);
  }
  {
    SCOPED_TRACE("a stop is requested after the first tick");
    BT::Tree tree = MakeTree("Endless");
    Endless::ticks = 0;
    const auto outcome = TickWithinTestLimit(tree, hourly, [] { return Endless::ticks >= 1; });
    ASSERT_TRUE(outcome) << "still asleep after 10 s";
    EXPECT_EQ(outcome->end, TickOutcome::End::kInterrupted);
    EXPECT_EQ(outcome->ticks, 1);
  }
  {
    SCOPED_TRACE("the deadline comes before the period ends");
    BT::Tree tree = MakeTree("Endless");
    const auto outcome = TickWithinTestLimit(
        tree, {std::chrono::hours(1), std::chrono::milliseconds(50)}, [] { return false; });
    ASSERT_TRUE(outcome) << "still asleep after 10 s";
    EXPECT_EQ(outcome->end, TickOutcome::End::kDeadlinePassed);
  }
}

TEST(RunOnceRecordedTest, ReportsOnlyTheCodesThatTheRunWroteToTheEntriesTheTreeNames) {
  BT::Tree tree =
      MakeTree(R"(CodesInFirstRunOnly name="codes" error_code="{detect_error}" status_code="{=}")");
  codes_written = false;
  const std::vector<CodeEntries> code_entries = CodeEntriesOf(tree);
  ASSERT_EQ(code_entries.size(), 1U);
  EXPECT_EQ(code_entries[0].error_code, "detect_error");
  EXPECT_EQ(code_entries[0].status_code, "status_code");
  TickOutcome outcome;
  const RunRecord first = RunOnceRecorded(tree, {}, code_entries, outcome);
  const RunRecord second = RunOnceRecorded(tree, {}, code_entries, outcome);
  EXPECT_EQ(first.error_code, 102200000);
  EXPECT_EQ(first.status_code, 102501006);
  EXPECT_EQ(second.error_code, std::nullopt);
  EXPECT_EQ(second.status_code, std::nullopt);
}

TEST(TickUntilDoneTest, ReportsAnExceptionFromANode) {
  BT::Tree tree = MakeTree("Throw");
  const TickOutcome outcome = TickUntilDone(tree, {}, [] { return false; });
  EXPECT_EQ(outcome.end, TickOutcome::End::kError);
  EXPECT_THAT(outcome.error, HasSubstr("sensor unplugged"));
}

RunRecord Ended(const char* end, std::optional<int> status_code, double duration_ms) {
  return {end, std::nullopt, status_code, 0, duration_ms, 0};
}

TEST(RunSummaryTest, TakesNearestRankPercentilesOfTheRunTimes) {
  std::vector<RunRecord> runs;
  for (int ms = 100; ms >= 1; --ms) {  // in no order of duration
    runs.push_back(Ended("SUCCESS", 102501006, ms));
  }
  const DurationFigures figures = FiguresOf(runs);
  EXPECT_EQ(figures.min, 1);
  EXPECT_EQ(figures.median, 50);
  EXPECT_EQ(figures.p90, 90);
  EXPECT_EQ(figures.p99, 99);
  EXPECT_EQ(figures.max, 100);
  const DurationFigures one = FiguresOf({Ended("SUCCESS", 102501006, 7)});
  EXPECT_EQ(one.min, 7);
  EXPECT_EQ(one.p99, 7);
}

TEST(RunSummaryTest, CountsRunsPerEndAndCodesMostFrequentFirst) {
  const std::vector<RunRecord> runs{Ended("FAILURE", 102501008, 1), Ended("SUCCESS", 102501006, 1),
                                    Ended("FAILURE", 102501005, 1), Ended("FAILURE", 102501008, 1),
                                    Ended("INTERRUPTED", std::nullopt, 1)};
  const std::vector<OutcomeCount> outcomes = CountOutcomes(runs);
  ASSERT_EQ(outcomes.size(), 4U);
  EXPECT_EQ(outcomes[0].end, "FAILURE");
  EXPECT_EQ(outcomes[0].status_code, 102501008);
  EXPECT_EQ(outcomes[0].runs, 2);
  EXPECT_EQ(SucceededRuns(runs), 1);
  const std::string text = SummaryText(runs, 10);
  EXPECT_THAT(text, HasSubstr("summary of 5 of 10 run(s): 1 succeeded, 4 failed\n"));
  EXPECT_THAT(text, HasSubstr("       1  INTERRUPTED  -           -\n"));
  EXPECT_THAT(SummaryJson(runs, 10),
              HasSubstr(R"({"end": "INTERRUPTED", "error_code": null, "status_code": null, )"));
}

}  // namespace
}  // namespace kestrava_arm::host
