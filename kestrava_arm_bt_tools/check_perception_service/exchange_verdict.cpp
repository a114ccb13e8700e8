#include "exchange_verdict.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <ctime>

#include <fmt/format.h>
#include <fmt/ranges.h>
#include <yaml-cpp/yaml.h>

#include "kestrava_arm_host/report_text.hpp"

namespace kestrava_arm::check {
namespace {

using host::RecordedExchange;
using std::chrono::milliseconds;

// What the verdict needs of the request: its limit and its task.
struct RequestFacts {
  std::optional<double> time_limit_ms;
  std::string task;
};

RequestFacts ReadRequest(const std::optional<std::string>& request_yaml) {
  RequestFacts facts;
  if (!request_yaml) {
    return facts;
  }
  try {
    const YAML::Node request = YAML::Load(*request_yaml);
    if (!request.IsMap()) {
      return facts;
    }
    if (const YAML::Node path = request["aruco_config_path"]; path && path.IsScalar()) {
      facts.task = path.Scalar();
    }
    if (const YAML::Node limit = request["time_out"]; limit && limit.IsScalar()) {
      const double value = limit.as<double>();
      if (std::isfinite(value)) {
        facts.time_limit_ms = value;
      }
    }
  } catch (const YAML::Exception&) {
    // An unreadable request names no limit and no task.
  }
  return facts;
}

std::optional<milliseconds> LatencyOf(const RecordedExchange& exchange) {
  auto time = host::TimeBetween(exchange, host::kRequestSent, host::kResponseReceived);
  if (!time) {
    time = host::TimeBetween(exchange, host::kRequestReceived, host::kResponseSent);
  }
  if (!time) {
    return std::nullopt;
  }
  return std::chrono::duration_cast<milliseconds>(*time);
}

// "2000", "1500.5": as few digits as tell the number.
std::string Limit(double time_limit_ms) {
  return fmt::format("{}", time_limit_ms);
}

bt::RunOutcome TimedOut(std::string reason) {
  bt::RunOutcome outcome;
  outcome.succeeded = false;
  outcome.error_code = 0;
  outcome.status_code = bt::kStatusTimeout;
  outcome.reason = std::move(reason);
  return outcome;
}

// When the request was made: the client's stamp, else the service's, else the first event's.
std::optional<std::int64_t> RequestStamp(const RecordedExchange& exchange) {
  if (auto stamp = host::StampOf(exchange, host::kRequestSent)) {
    return stamp;
  }
  if (auto stamp = host::StampOf(exchange, host::kRequestReceived)) {
    return stamp;
  }
  if (!exchange.events.empty()) {
    return exchange.events.front().stamp_ns;
  }
  return std::nullopt;
}

std::optional<std::string> Iso8601(const std::optional<std::int64_t>& stamp_ns) {
  if (!stamp_ns) {
    return std::nullopt;
  }
  constexpr std::int64_t kPerSecond = 1'000'000'000;
  constexpr std::int64_t kPerMillisecond = 1'000'000;
  // Floored, so that a stamp before the epoch still has its milliseconds in [0, 999].
  std::int64_t seconds = *stamp_ns / kPerSecond;
  std::int64_t rest = *stamp_ns % kPerSecond;
  if (rest < 0) {
    rest += kPerSecond;
    --seconds;
  }
  const auto time = static_cast<std::time_t>(seconds);
  std::tm utc{};
  std::array<char, 64> text{};
  if (gmtime_r(&time, &utc) == nullptr ||
      std::strftime(text.data(), text.size(), "%Y-%m-%dT%H:%M:%S", &utc) == 0) {
    return std::nullopt;
  }
  return fmt::format("{}.{:03}Z", text.data(), rest / kPerMillisecond);
}

std::string ErrorCodeText(const ExchangeVerdict& verdict) {
  return verdict.timed_out || verdict.answer_unrecorded
             ? "-"
             : std::to_string(verdict.outcome.error_code);
}

std::string StatusCodeText(const ExchangeVerdict& verdict) {
  return verdict.answer_unrecorded ? "-" : std::to_string(verdict.outcome.status_code);
}

std::string JsonCode(const std::string& text) {
  return text == "-" ? "null" : text;
}

}  // namespace

ExchangeVerdict JudgeExchange(const RecordedExchange& exchange) {
  ExchangeVerdict verdict;
  const RequestFacts request = ReadRequest(exchange.request_yaml);
  verdict.task = request.task;
  verdict.time_limit_ms = request.time_limit_ms;
  const bool answered = host::Answered(exchange);
  verdict.latency = answered ? LatencyOf(exchange) : std::nullopt;
  const auto limit = verdict.time_limit_ms;
  if (!answered) {
    verdict.timed_out = true;
    verdict.outcome = TimedOut(
        limit ? fmt::format("no answer within the request's time_out of {} ms", Limit(*limit))
              : std::string("no answer recorded (the request's time_out is unknown)"));
    return verdict;
  }
  // As the node: late when more whole milliseconds than the limit have passed.
  if (limit && verdict.latency && static_cast<double>(verdict.latency->count()) > *limit) {
    verdict.timed_out = true;
    verdict.outcome =
        TimedOut(fmt::format("answered after {} ms, past the request's time_out of {} ms",
                             verdict.latency->count(), Limit(*limit)));
    return verdict;
  }
  if (!exchange.answer_yaml) {
    verdict.answer_unrecorded = true;
    verdict.outcome.succeeded = false;
    verdict.outcome.error_code = 0;
    verdict.outcome.status_code = 0;
    verdict.outcome.reason =
        "answered, but the recording holds no contents of the answer (service introspection "
        "\"metadata\"): how the run ends is unknown";
    return verdict;
  }
  verdict.outcome = bt::JudgeAnswer(*exchange.answer_yaml);
  return verdict;
}

const char* EndOf(const ExchangeVerdict& verdict) {
  return verdict.answer_unrecorded ? "UNKNOWN" : bt::EndOf(verdict.outcome);
}

std::string ExchangeLine(const RecordedExchange& exchange, const ExchangeVerdict& verdict) {
  std::string line = fmt::format(
      "{}  {}  {}  {}  error_code={} status_code={}", Iso8601(RequestStamp(exchange)).value_or("-"),
      verdict.task.empty() ? "-" : verdict.task,
      verdict.latency ? fmt::format("{} ms", verdict.latency->count()) : "-", EndOf(verdict),
      ErrorCodeText(verdict), StatusCodeText(verdict));
  if (!verdict.outcome.reason.empty()) {
    line += "  " + verdict.outcome.reason;
  }
  return host::PrintableText(line);
}

std::string ExchangeJson(const RecordedExchange& exchange, const ExchangeVerdict& verdict) {
  const auto time = Iso8601(RequestStamp(exchange));
  return fmt::format(
      "{{\"request_time\": {}, \"client_gid\": {}, \"sequence\": {}, \"task\": {}, "
      "\"latency_ms\": {}, \"time_limit_ms\": {}, \"timed_out\": {}, \"answer_recorded\": {}, "
      "\"end\": \"{}\", \"error_code\": {}, \"status_code\": {}, \"transfor_matrix\": [{}], "
      "\"reason\": {}}}",
      time ? host::JsonString(*time) : "null", host::JsonString(exchange.client_gid),
      exchange.sequence, host::JsonString(verdict.task),
      verdict.latency ? std::to_string(verdict.latency->count()) : "null",
      verdict.time_limit_ms ? Limit(*verdict.time_limit_ms) : "null", verdict.timed_out,
      exchange.answer_yaml.has_value(), EndOf(verdict), JsonCode(ErrorCodeText(verdict)),
      JsonCode(StatusCodeText(verdict)), fmt::join(verdict.outcome.transfor_matrix, ", "),
      host::JsonString(verdict.outcome.reason));
}

void ExchangeTally::Add(const ExchangeVerdict& verdict) {
  ++exchanges;
  taken += verdict.outcome.succeeded ? 1 : 0;
  timed_out += verdict.timed_out ? 1 : 0;
  unknown += verdict.answer_unrecorded ? 1 : 0;
  Ending ending{EndOf(verdict), ErrorCodeText(verdict), StatusCodeText(verdict), 1};
  const auto same = std::find_if(endings.begin(), endings.end(), [&](const Ending& seen) {
    return seen.end == ending.end && seen.error_code == ending.error_code &&
           seen.status_code == ending.status_code;
  });
  if (same == endings.end()) {
    endings.push_back(std::move(ending));
  } else {
    ++same->runs;
  }
}

std::string TallySummary(const ExchangeTally& tally) {
  const std::size_t refused = tally.exchanges - tally.taken - tally.timed_out - tally.unknown;
  std::string summary = fmt::format("{} exchange(s): {} taken, {} refused, {} timed out",
                                    tally.exchanges, tally.taken, refused, tally.timed_out);
  if (tally.unknown > 0) {
    summary += fmt::format(", {} unknown (answer not recorded)", tally.unknown);
  }
  if (tally.unreadable_lines > 0) {
    summary += fmt::format("; {} line(s) unreadable", tally.unreadable_lines);
  }
  summary += "\n";
  for (const ExchangeTally::Ending& ending : tally.endings) {
    summary += fmt::format("  {:>5}  {:<7}  error_code={} status_code={}\n", ending.runs,
                           ending.end, ending.error_code, ending.status_code);
  }
  return summary;
}

std::string ExchangesJson(const std::vector<JudgedExchange>& judged, const ExchangeTally& tally) {
  std::vector<std::string> verdicts;
  verdicts.reserve(judged.size());
  for (const JudgedExchange& item : judged) {
    verdicts.push_back(ExchangeJson(item.exchange, item.verdict));
  }
  return fmt::format(
      "{{\n  \"passed\": {}, \"exchanges\": {}, \"taken\": {}, \"timed_out\": {}, "
      "\"unknown\": {}, \"unreadable_lines\": {},\n  \"verdicts\": [{}{}{}]\n}}\n",
      tally.AllTaken() && tally.unreadable_lines == 0, tally.exchanges, tally.taken,
      tally.timed_out, tally.unknown, tally.unreadable_lines, verdicts.empty() ? "" : "\n    ",
      fmt::join(verdicts, ",\n    "), verdicts.empty() ? "" : "\n  ");
}

}  // namespace kestrava_arm::check
