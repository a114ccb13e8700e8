// The facade's statements against bare spdlog calls with the same sinks, pattern and message, and
// the task description splitter. The facade reads its configuration once, from the environment;
// the benchmark names carry the sinks it selected ("no_sinks" or "console"):
//   SPDLOG_STDOUT=false SPDLOG_SYSTEMD=false SPDLOG_LEVEL=info bench_logging
//   SPDLOG_STDOUT=true SPDLOG_SYSTEMD=false SPDLOG_LEVEL=info bench_logging
//       --benchmark_out=results.json >/dev/null
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <unordered_map>

#include "logging_statements.hpp"

namespace {

using kestrava::bench::BareText;
using kestrava::bench::BareTwoArgs;
using kestrava::bench::FacadeText;
using kestrava::bench::FacadeTwoArgs;
using kestrava::bench::MakeBareLogger;
using kestrava::bench::SinkName;

const std::string kTask = "task_uid";

void BM_LogInfoText(benchmark::State& state) {
  for (auto _ : state) {
    FacadeText();
  }
}

void BM_BareSpdlogText(benchmark::State& state) {
  const std::shared_ptr<spdlog::logger> logger = MakeBareLogger();
  for (auto _ : state) {
    BareText(*logger);
  }
}

void BM_LogInfoTwoArgs(benchmark::State& state) {
  for (auto _ : state) {
    FacadeTwoArgs(kTask);
  }
}

void BM_BareSpdlogTwoArgs(benchmark::State& state) {
  const std::shared_ptr<spdlog::logger> logger = MakeBareLogger();
  for (auto _ : state) {
    BareTwoArgs(*logger, kTask);
  }
}

// Named at run time, so that every result says which sinks it was measured with.
const bool kLoggingRegistered = [] {
  const std::string suffix = std::string("/") + SinkName();
  benchmark::RegisterBenchmark(("BM_LogInfo/text" + suffix).c_str(), BM_LogInfoText);
  benchmark::RegisterBenchmark(("BM_BareSpdlog/text" + suffix).c_str(), BM_BareSpdlogText);
  benchmark::RegisterBenchmark(("BM_LogInfo/two_args" + suffix).c_str(), BM_LogInfoTwoArgs);
  benchmark::RegisterBenchmark(("BM_BareSpdlog/two_args" + suffix).c_str(), BM_BareSpdlogTwoArgs);
  return true;
}();

void BM_GetNameValues(benchmark::State& state) {
  const std::string task_info =
      "task_uid: 20240611-0042; task_name: clean_toilet; toilet_id: wc_03; area: bathroom_2; "
      "mode: deep";
  for (auto _ : state) {
    std::unordered_map<std::string, std::string> name_values;
    benchmark::DoNotOptimize(kestrava_arm::bt::GetNameValues(task_info, name_values));
  }
}
BENCHMARK(BM_GetNameValues);

}  // namespace
