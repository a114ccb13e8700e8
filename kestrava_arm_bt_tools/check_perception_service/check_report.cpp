#include "check_report.hpp"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <ctime>
#include <iterator>
#include <utility>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "kestrava_arm_host/report_text.hpp"

namespace kestrava_arm::check {
namespace {

using bt::JudgeAnswer;
using std::chrono::milliseconds;
using Row = std::vector<std::string>;

// The published pose of a taken answer, the reason of any other.
std::string DetailOf(const Verdict& verdict) {
  return verdict.succeeded
             ? fmt::format("transfor_matrix [{}]", fmt::join(verdict.transfor_matrix, ", "))
             : verdict.reason;
}

// Whole milliseconds, or "-" where no answer came.
std::string Milliseconds(const std::optional<milliseconds>& time) {
  return time ? std::to_string(time->count()) : "-";
}

// Columns padded to their widest cell; the last one, free text, is not. Cells are shown as
// printable text and measured in characters, so that odd bytes neither reach the terminal nor
// shift the columns.
std::string Tabulate(const std::vector<Row>& rows) {
  std::vector<std::vector<std::string>> cells;
  std::vector<std::size_t> widths;
  for (const Row& row : rows) {
    cells.emplace_back();
    std::transform(row.begin(), row.end(), std::back_inserter(cells.back()), host::PrintableText);
    widths.resize(std::max(widths.size(), row.size()));
    for (std::size_t column = 0; column + 1 < row.size(); ++column) {
      widths[column] = std::max(widths[column], host::CharacterCount(cells.back()[column]));
    }
  }
  std::string table;
  for (const std::vector<std::string>& row : cells) {
    std::string line;
    for (std::size_t column = 0; column < row.size(); ++column) {
      line += row[column];
      if (column + 1 < row.size()) {
        line.append(widths[column] - host::CharacterCount(row[column]) + 2, ' ');
      }
    }
    line.erase(line.find_last_not_of(' ') + 1);
    table += line + "\n";
  }
  return table;
}

// The nearest-rank percentile of sorted times.
milliseconds Percentile(const std::vector<milliseconds>& sorted, double fraction) {
  const auto rank =
      static_cast<std::size_t>(std::ceil(fraction * static_cast<double>(sorted.size())));
  return sorted[std::max<std::size_t>(rank, 1) - 1];
}

std::string JsonTime(const std::optional<milliseconds>& time) {
  return time ? std::to_string(time->count()) : "null";
}

std::string JsonVerdict(const Verdict& verdict, const std::string& fields) {
  return fmt::format(
      "{{{}\"end\": \"{}\", \"error_code\": {}, \"status_code\": {}, \"transfor_matrix\": [{}], "
      "\"reason\": {}}}",
      fields, EndOf(verdict), verdict.error_code, verdict.status_code,
      fmt::join(verdict.transfor_matrix, ", "), host::JsonString(verdict.reason));
}

std::string JsonDocument(const std::string& fields, const char* list_name,
                         const std::vector<std::string>& items) {
  return fmt::format("{{{}\"{}\": [\n    {}\n  ]\n}}\n", fields, list_name,
                     fmt::join(items, ",\n    "));
}

struct JunitCase {
  std::string name;
  std::vector<std::string> problems;
  milliseconds time{0};
};

std::string Seconds(milliseconds time) {
  return fmt::format("{:.3f}", std::chrono::duration<double>(time).count());
}

std::string JunitCaseXml(const char* suite, const JunitCase& test) {
  std::string xml = fmt::format(R"(    <testcase classname="{}" name="{}" time="{}")", suite,
                                host::XmlText(test.name), Seconds(test.time));
  if (test.problems.empty()) {
    return xml + "/>\n";
  }
  const std::string message = host::XmlText(fmt::format("{}", fmt::join(test.problems, "; ")));
  return xml + fmt::format(
                   ">\n      <failure message=\"{0}\" type=\"contract\">{0}</failure>\n"
                   "    </testcase>\n",
                   message);
}

// With every attribute that the common JUnit schemas require, so that any CI system reads it.
std::string Junit(const char* suite, const std::vector<JunitCase>& cases,
                  const ReportStamp& stamp) {
  const auto failures = std::count_if(cases.begin(), cases.end(),
                                      [](const JunitCase& c) { return !c.problems.empty(); });
  milliseconds time{0};
  for (const JunitCase& test : cases) {
    time += test.time;
  }
  std::string xml = fmt::format(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<testsuites tests=\"{0}\" failures=\"{1}\" errors=\"0\" time=\"{3}\">\n"
      "  <testsuite name=\"{2}\" package=\"{2}\" id=\"0\" timestamp=\"{4}\" hostname=\"{5}\" "
      "tests=\"{0}\" failures=\"{1}\" errors=\"0\" skipped=\"0\" time=\"{3}\">\n"
      "    <properties/>\n",
      cases.size(), failures, suite, Seconds(time), host::XmlText(stamp.timestamp),
      host::XmlText(stamp.hostname));
  for (const JunitCase& test : cases) {
    xml += JunitCaseXml(suite, test);
  }
  return xml + "    <system-out/>\n    <system-err/>\n  </testsuite>\n</testsuites>\n";
}

milliseconds TotalTime(const RequestResult& request) {
  milliseconds total{0};
  for (const Exchange& exchange : request.exchanges) {
    total += exchange.time;
  }
  return total;
}

}  // namespace

RequestSummary Summarise(const RequestResult& request, milliseconds time_limit) {
  RequestSummary summary;
  std::vector<std::pair<std::string, std::size_t>> distinct;
  std::vector<milliseconds> times;
  for (const Exchange& exchange : request.exchanges) {
    if (!exchange.answer) {
      ++summary.late;
      continue;
    }
    times.push_back(exchange.time);
    // The node compares whole milliseconds with its limit: an answer at the limit is in time.
    summary.late += exchange.time > time_limit ? 1 : 0;
    const auto same = std::find_if(distinct.begin(), distinct.end(), [&](const auto& seen) {
      return seen.first == *exchange.answer;
    });
    if (same == distinct.end()) {
      distinct.emplace_back(*exchange.answer, 1);
    } else {
      ++same->second;
    }
  }
  for (const auto& [answer, rounds] : distinct) {
    summary.answers.push_back({JudgeAnswer(answer), rounds});
  }
  summary.answered = times.size();
  if (!times.empty()) {
    std::sort(times.begin(), times.end());
    summary.median = times[(times.size() - 1) / 2];
    summary.p99 = Percentile(times, 0.99);
    summary.max = times.back();
  }
  return summary;
}

std::vector<std::string> ProblemsOf(const RequestResult& request, milliseconds time_limit) {
  const RequestSummary summary = Summarise(request, time_limit);
  std::vector<std::string> problems;
  for (const auto& [verdict, rounds] : summary.answers) {
    if (!verdict.succeeded) {
      problems.push_back(fmt::format("{} of {} answers refused with error_code {}: {}", rounds,
                                     request.exchanges.size(), verdict.error_code, verdict.reason));
    }
  }
  const std::size_t missing = request.exchanges.size() - summary.answered;
  if (summary.late > missing) {
    problems.push_back(
        fmt::format("{} of {} answers late: the time limit is {} ms, the slowest "
                    "took {} ms",
                    summary.late - missing, request.exchanges.size(), time_limit.count(),
                    Milliseconds(summary.max)));
  }
  if (missing > 0) {
    problems.push_back(
        fmt::format("{} of {} requests got no answer", missing, request.exchanges.size()));
  }
  return problems;
}

std::vector<std::string> ProblemsOf(const AnswerFileResult& result) {
  if (result.verdict.succeeded) {
    return {};
  }
  return {fmt::format("refused with error_code {}: {}", result.verdict.error_code,
                      result.verdict.reason)};
}

ReportStamp StampOfNow() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  std::array<char, 32> timestamp{};
  std::strftime(timestamp.data(), timestamp.size(), "%Y-%m-%dT%H:%M:%S", &utc);
  std::array<char, 256> hostname{};
  if (gethostname(hostname.data(), hostname.size() - 1) != 0) {
    return {timestamp.data(), "localhost"};
  }
  return {timestamp.data(), hostname.data()};
}

bool AllPassed(const LiveResults& results) {
  return std::all_of(results.requests.begin(), results.requests.end(),
                     [&](const RequestResult& request) {
                       return ProblemsOf(request, results.time_limit).empty();
                     });
}

bool AllPassed(const std::vector<AnswerFileResult>& results) {
  return std::all_of(results.begin(), results.end(),
                     [](const AnswerFileResult& result) { return result.verdict.succeeded; });
}

std::string FormatTable(const LiveResults& results) {
  std::vector<Row> rows{{"REQUEST", "END", "ERROR_CODE", "STATUS_CODE", "ROUNDS", "ANSWERED",
                         "LATE", "MEDIAN_MS", "P99_MS", "MAX_MS", "POSE OR REASON"}};
  for (const RequestResult& request : results.requests) {
    const RequestSummary summary = Summarise(request, results.time_limit);
    const Row timing{fmt::format("{}/{}", summary.answered, request.exchanges.size()),
                     std::to_string(summary.late), Milliseconds(summary.median),
                     Milliseconds(summary.p99), Milliseconds(summary.max)};
    if (summary.answers.empty()) {
      Row row{request.name, "-", "-", "-", "-"};
      row.insert(row.end(), timing.begin(), timing.end());
      row.emplace_back("no answer");
      rows.push_back(std::move(row));
    }
    // A request whose answers differed between rounds gets a row for each answer; the first
    // one carries the request's times.
    for (std::size_t i = 0; i < summary.answers.size(); ++i) {
      const auto& [verdict, rounds] = summary.answers[i];
      Row row{i == 0 ? request.name : "", EndOf(verdict), std::to_string(verdict.error_code),
              std::to_string(verdict.status_code), std::to_string(rounds)};
      const Row times = i == 0 ? timing : Row(timing.size());
      row.insert(row.end(), times.begin(), times.end());
      row.push_back(DetailOf(verdict));
      rows.push_back(std::move(row));
    }
  }
  return fmt::format("{}: {} request(s), time limit {} ms\n", results.service_name,
                     results.requests.size(), results.time_limit.count()) +
         Tabulate(rows);
}

std::string FormatTable(const std::vector<AnswerFileResult>& results) {
  std::vector<Row> rows{{"ANSWER FILE", "END", "ERROR_CODE", "STATUS_CODE", "POSE OR REASON"}};
  for (const AnswerFileResult& result : results) {
    rows.push_back({result.file, EndOf(result.verdict), std::to_string(result.verdict.error_code),
                    std::to_string(result.verdict.status_code), DetailOf(result.verdict)});
  }
  return Tabulate(rows);
}

std::string FormatJunit(const LiveResults& results, const ReportStamp& stamp) {
  std::vector<JunitCase> cases;
  cases.reserve(results.requests.size());
  for (const RequestResult& request : results.requests) {
    cases.push_back({request.name, ProblemsOf(request, results.time_limit), TotalTime(request)});
  }
  return Junit("check_perception_service.requests", cases, stamp);
}

std::string FormatJunit(const std::vector<AnswerFileResult>& results, const ReportStamp& stamp) {
  std::vector<JunitCase> cases;
  cases.reserve(results.size());
  for (const AnswerFileResult& result : results) {
    cases.push_back({result.file, ProblemsOf(result), milliseconds(0)});
  }
  return Junit("check_perception_service.answers", cases, stamp);
}

std::string FormatJson(const LiveResults& results) {
  std::vector<std::string> requests;
  requests.reserve(results.requests.size());
  for (const RequestResult& request : results.requests) {
    const RequestSummary summary = Summarise(request, results.time_limit);
    std::vector<std::string> answers;
    for (const auto& [verdict, rounds] : summary.answers) {
      answers.push_back(JsonVerdict(verdict, fmt::format("\"rounds\": {}, ", rounds)));
    }
    requests.push_back(fmt::format(
        "{{\"name\": {}, \"request\": {}, \"rounds\": {}, \"answered\": {}, \"late\": {}, "
        "\"median_ms\": {}, \"p99_ms\": {}, \"max_ms\": {}, \"answers_differ\": {}, "
        "\"passed\": {}, \"answers\": [{}]}}",
        host::JsonString(request.name), host::JsonString(request.request_yaml),
        request.exchanges.size(), summary.answered, summary.late, JsonTime(summary.median),
        JsonTime(summary.p99), JsonTime(summary.max), summary.answers.size() > 1,
        ProblemsOf(request, results.time_limit).empty(), fmt::join(answers, ", ")));
  }
  return JsonDocument(fmt::format("\n  \"service\": {}, \"time_limit_ms\": {}, \"passed\": {},\n  ",
                                  host::JsonString(results.service_name),
                                  results.time_limit.count(), AllPassed(results)),
                      "requests", requests);
}

std::string FormatJson(const std::vector<AnswerFileResult>& results) {
  std::vector<std::string> answers;
  answers.reserve(results.size());
  for (const AnswerFileResult& result : results) {
    answers.push_back(
        JsonVerdict(result.verdict, fmt::format("\"file\": {}, ", host::JsonString(result.file))));
  }
  return JsonDocument(fmt::format("\n  \"passed\": {},\n  ", AllPassed(results)), "answers",
                      answers);
}

}  // namespace kestrava_arm::check
