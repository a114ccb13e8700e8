// The facade's statement against a bare spdlog call with the same sinks, pattern and message.
// The facade reads its configuration from the environment, e.g.
//   SPDLOG_STDOUT=false SPDLOG_SYSTEMD=false SPDLOG_LEVEL=info bench_logging
//   SPDLOG_STDOUT=true SPDLOG_SYSTEMD=false SPDLOG_LEVEL=info bench_logging
//       --benchmark_out=results.json >/dev/null
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include <spdlog/sinks/ansicolor_sink.h>

#include "kestrava_arm_behavior_tree/common/utils.hpp"

namespace {

bool ConsoleWanted() {
  const char* value = std::getenv("SPDLOG_STDOUT");
  return value == nullptr || std::strcmp(value, "false") != 0;
}

std::shared_ptr<spdlog::logger> MakeBareLogger() {
  std::vector<spdlog::sink_ptr> sinks;
  if (ConsoleWanted()) {
    sinks.push_back(std::make_shared<spdlog::sinks::ansicolor_stdout_sink_mt>());
  }
  auto logger = std::make_shared<spdlog::logger>("bare", sinks.begin(), sinks.end());
  logger->set_pattern("%v");
  return logger;
}

void BM_LogInfo(benchmark::State& state) {
  const std::string task = "task_uid";
  for (auto _ : state) {
    LOG_INFO("waiting for response of {} {}", task, 42);
  }
}
BENCHMARK(BM_LogInfo);

void BM_BareSpdlog(benchmark::State& state) {
  const std::shared_ptr<spdlog::logger> logger = MakeBareLogger();
  const std::string task = "task_uid";
  for (auto _ : state) {
    logger->log(spdlog::source_loc{__FILE__, __LINE__, static_cast<const char*>(__func__)},
                spdlog::level::info, "waiting for response of {} {}", task, 42);
  }
}
BENCHMARK(BM_BareSpdlog);

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
