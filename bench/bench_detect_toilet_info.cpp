// The node's hot paths, driven the way a host drives them: the plugin loaded by a factory, a
// tree ticked on this thread, the perception service answering on the executor thread.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "node_harness.hpp"

namespace {

using kestrava_arm::bt::testing::NodeHarness;
using kestrava_arm::bt::testing::SuccessAnswer;

// Measures the node, not the terminal: the logging facade reads these on its first line.
const bool kConsoleOff = [] {
  setenv("SPDLOG_STDOUT", "false", 1);
  setenv("SPDLOG_SYSTEMD", "false", 1);
  setenv("SPDLOG_LEVEL", "info", 1);
  return true;
}();

BT::NodeStatus TickWithoutPause(BT::Tree& tree) {
  BT::NodeStatus status = tree.tickOnce();
  while (status == BT::NodeStatus::RUNNING) {
    status = tree.tickOnce();
  }
  return status;
}

// One tick of a run whose answer is outstanding. Exactly once: tickOnce would add its poll of the
// wake-up signal, whose zero timeout Linux turns into a sleep of some 50-70 us.
void BM_WaitingTick(benchmark::State& state) {
  NodeHarness harness;
  auto tree = harness.CreateTree("inf");  // no time limit
  tree.tickExactlyOnce();
  for (auto _ : state) {
    benchmark::DoNotOptimize(tree.tickExactlyOnce());
  }
}
BENCHMARK(BM_WaitingTick);

// Start, request, answer, finishing tick, against a service that answers at once.
void BM_WholeRun(benchmark::State& state) {
  NodeHarness harness;
  harness.service().AnswerAllWith(SuccessAnswer());
  auto tree = harness.CreateTree();
  for (auto _ : state) {
    if (TickWithoutPause(tree) != BT::NodeStatus::SUCCESS) {
      state.SkipWithError("run failed");
      break;
    }
  }
}
BENCHMARK(BM_WholeRun)->UseRealTime();

// Times, run after run, the way from the service's answer to the end of the run: each run is
// started outside the timing and waits until its request has reached the service; the timing
// covers the answer and `finish`, which ticks the tree until the run has ended.
template <typename Finish>
void TimeFromAnswerToEndOfRun(benchmark::State& state, Finish finish) {
  NodeHarness harness;
  auto tree = harness.CreateTree();
  const std::string answer = SuccessAnswer();
  std::size_t requests = 0;
  for (auto _ : state) {
    state.PauseTiming();
    tree.tickOnce();
    harness.service().WaitForRequest(requests);
    state.ResumeTiming();
    harness.service().Answer(requests++, answer);
    if (finish(tree) != BT::NodeStatus::SUCCESS) {
      state.SkipWithError("run failed");
      break;
    }
  }
}

// From the service's answer to the end of the run: delivery, ToiletInfoCallback on a typical
// response document, and the finishing tick.
void BM_ResponseHandling(benchmark::State& state) {
  TimeFromAnswerToEndOfRun(state, TickWithoutPause);
}
BENCHMARK(BM_ResponseHandling)->UseRealTime();

// From the service's answer to the finishing tick, for a host that sleeps 200 ms between ticks in
// Tree::sleep, as bt_host does: the tree learns of the answer when the node wakes it, or when the
// sleep ends.
void BM_AnswerToFinishingTickOfASleepingHost(benchmark::State& state) {
  TimeFromAnswerToEndOfRun(state, [](BT::Tree& tree) {
    constexpr std::chrono::milliseconds kHostTickPeriod{200};
    BT::NodeStatus status = BT::NodeStatus::RUNNING;
    while (status == BT::NodeStatus::RUNNING) {
      tree.sleep(kHostTickPeriod);
      status = tree.tickOnce();
    }
    return status;
  });
}
BENCHMARK(BM_AnswerToFinishingTickOfASleepingHost)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
