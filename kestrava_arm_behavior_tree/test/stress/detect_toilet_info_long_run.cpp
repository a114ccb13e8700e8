// One node, run after run, through every way a run can end: answers of each kind, time-outs and
// halts whose answers come late or never (a service that crashed or dropped the request). Fails
// when a run ends otherwise than its answer dictates, or when memory still grows after the warm-up:
// resident memory, or with AddressSanitizer the heap in use (its resident memory also holds the
// sanitizer's record of allocation stacks, which keeps growing where libraries without frame
// pointers make known stacks look new). LeakSanitizer checks for leaks when the program exits.
//
//   detect_toilet_info_long_run [--runs=N] [--warmup=N] [--tolerance-kib=N]
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>

#include <fmt/format.h>

#include "node_harness.hpp"

namespace {

using kestrava_arm::bt::testing::NodeHarness;
using kestrava_arm::bt::testing::SuccessAnswer;
using kestrava_arm::bt::testing::TickUntilDone;

struct Options {
  long runs = 100000;
  long warmup = 10000;
  long tolerance_kib = 1024;
};

bool ReadOption(const std::string& argument, const std::string& name, long& value) {
  const std::string prefix = "--" + name + "=";
  if (argument.compare(0, prefix.size(), prefix) != 0) {
    return false;
  }
  value = std::stol(argument.substr(prefix.size()));
  return true;
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (!ReadOption(argument, "runs", options.runs) &&
        !ReadOption(argument, "warmup", options.warmup) &&
        !ReadOption(argument, "tolerance-kib", options.tolerance_kib)) {
      throw std::invalid_argument("unknown option " + argument);
    }
  }
  if (options.warmup >= options.runs) {
    throw std::invalid_argument("the warm-up must be shorter than the run");
  }
  return options;
}

#ifdef KESTRAVA_LONG_RUN_UNDER_ASAN
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

struct Memory {
  long resident_kib;
  long watched_kib;  // what must stay flat
};

Memory MemoryNow() {
  long total_pages = 0;
  long resident_pages = 0;
  std::ifstream("/proc/self/statm") >> total_pages >> resident_pages;
  const long resident_kib = resident_pages * (sysconf(_SC_PAGESIZE) / 1024);
#ifdef KESTRAVA_LONG_RUN_UNDER_ASAN
  return {resident_kib, static_cast<long>(__sanitizer_get_current_allocated_bytes() / 1024)};
#else
  return {resident_kib, resident_kib};
#endif
}

#ifdef KESTRAVA_LONG_RUN_UNDER_ASAN
constexpr const char* kWatched = "heap in use";
#else
constexpr const char* kWatched = "resident memory";
#endif

enum class Ending { kAnswer, kTimeout, kHalt };

struct RunKind {
  std::optional<std::string> answer;  // none: the service never answers
  Ending ending;
  BT::NodeStatus expected;  // for runs that end by answer or time-out
};

// Twenty runs in a row: mostly successes, then each kind of failure.
RunKind KindOf(long run) {
  const std::string no_arm_pose =
      "success: true\ncamera_end: {translation: [1, 2, 3], rotation: [0, 0, 0, 1], "
      "description: camera}\n";
  switch (run % 20) {
    case 8:
      return {std::nullopt, Ending::kTimeout, BT::NodeStatus::FAILURE};
    case 9:
      return {std::nullopt, Ending::kHalt, BT::NodeStatus::IDLE};
    case 10:
    case 11:
      return {"success: false\n", Ending::kAnswer, BT::NodeStatus::FAILURE};
    case 12:
      return {no_arm_pose, Ending::kAnswer, BT::NodeStatus::FAILURE};
    case 13:
    case 14:
      return {
          "success: true\narm_base_end: {translation: [1, 2], rotation: [0, 0, 0, 1], "
          "description: short}\n",
          Ending::kAnswer, BT::NodeStatus::FAILURE};
    case 15:
    case 16:
      return {"success: true\narm_base_end: {translation: [1", Ending::kAnswer,
              BT::NodeStatus::FAILURE};
    case 17:
      return {"- a scalar list\n", Ending::kAnswer, BT::NodeStatus::FAILURE};
    case 18:
      return {SuccessAnswer(), Ending::kTimeout, BT::NodeStatus::FAILURE};
    case 19:
      return {SuccessAnswer(), Ending::kHalt, BT::NodeStatus::IDLE};
    default:
      return {SuccessAnswer(), Ending::kAnswer, BT::NodeStatus::SUCCESS};
  }
}

class LongRun {
 public:
  LongRun() { harness_.blackboard()->set("task_info", std::string("task_uid:7;task_name:long")); }

  // One run; false when it ended otherwise than its kind dictates.
  bool Run(const RunKind& kind) {
    auto& service = harness_.service();
    harness_.blackboard()->set("time_limit", kind.ending == Ending::kTimeout ? 0.0 : 60000.0);
    service.ForgetRequests();
    // Exactly one tick: tickOnce would tick again at once for the wake-up that the previous run's
    // answer may have left, and a limit of zero could expire in that second tick.
    if (tree_.tickExactlyOnce() != BT::NodeStatus::RUNNING) {
      return false;
    }
    service.WaitForRequest(0);
    BT::NodeStatus status = BT::NodeStatus::IDLE;
    switch (kind.ending) {
      case Ending::kAnswer:
        service.Answer(0, *kind.answer);
        status = TickUntilDone(tree_, kNoPause);
        break;
      case Ending::kTimeout:
        status = TickUntilDone(tree_, kNoPause);
        break;
      case Ending::kHalt:
        tree_.haltTree();
        break;
    }
    if (kind.ending != Ending::kAnswer && kind.answer) {
      service.Answer(0, *kind.answer);
    }
    return status == kind.expected;
  }

 private:
  // The service answers at once, so the run ticks without pausing.
  static constexpr std::chrono::microseconds kNoPause{0};

  NodeHarness harness_;
  BT::Tree tree_ = harness_.CreateTree("{time_limit}");
};

int RunAll(const Options& options) {
  const auto started = std::chrono::steady_clock::now();
  LongRun long_run;
  const Memory start = MemoryNow();
  Memory warm{};
  long wrong = 0;
  for (long run = 0; run < options.runs; ++run) {
    if (run == options.warmup) {
      warm = MemoryNow();
    }
    if (!long_run.Run(KindOf(run))) {
      ++wrong;
    }
  }
  const Memory end = MemoryNow();
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
  fmt::print("runs: {} in {:.1f} s, {} ended wrongly\n", options.runs, elapsed.count(), wrong);
  fmt::print("resident memory: {} KiB at start, {} KiB after {} runs, {} KiB after {} runs\n",
             start.resident_kib, warm.resident_kib, options.warmup, end.resident_kib, options.runs);
  const long growth = end.watched_kib - warm.watched_kib;
  fmt::print("{} after the warm-up: {} KiB, then {} KiB: {:+} KiB (tolerance {} KiB)\n", kWatched,
             warm.watched_kib, end.watched_kib, growth, options.tolerance_kib);
  return wrong == 0 && growth <= options.tolerance_kib ? EXIT_SUCCESS : EXIT_FAILURE;
}

}  // namespace

int main(int argc, char** argv) {
  // The node logs every step; a hundred thousand runs would flood the terminal.
  setenv("SPDLOG_STDOUT", "false", 0);
  setenv("SPDLOG_SYSTEMD", "false", 0);
  setenv("SPDLOG_LEVEL", "info", 0);
  try {
    return RunAll(ParseOptions(argc, argv));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "detect_toilet_info_long_run: %s\n", e.what());
    return 2;
  }
}
