#include "check_report.hpp"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <utility>

#include <fmt/format.h>
#include <fmt/ranges.h>

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

// Columns padded to their widest cell; the last one, free text, is not.
std::string Tabulate(const std::vector<Row>& rows) {
  std::vector<std::size_t> widths;
  for (const Row& row : rows) {
    widths.resize(std::max(widths.size(), row.size()));
    for (std::size_t column = 0; column + 1 < row.size(); ++column) {
      widths[column] = std::max(widths[column], row[column].size());
    }
  }
  std::string table;
  for (const Row& row : rows) {
    std::string line;
    for (std::size_t column = 0; column < row.size(); ++column) {
      line += column + 1 < row.size() ? fmt::format("{:<{}}  ", row[column], widths[column])
                                      : row[column];
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

std::string XmlEscaped(const std::string& text) {
  std::string escaped;
  for (const char c : text) {
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      case '\'':
        escaped += "&apos;";
        break;
      default:
        // XML 1.0 has no way to write other control characters.
        escaped +=
            static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r' ? '?' : c;
    }
  }
  return escaped;
}

std::string JsonString(const std::string& text) {
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      quoted += fmt::format(R"(\u{:04x})", static_cast<unsigned>(c));
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

std::string JsonTime(const std::optional<milliseconds>& time) {
  return time ? std::to_string(time->count()) : "null";
}

std::string JsonVerdict(const Verdict& verdict, const std::string& fields) {
  return fmt::format(
      "{{{}\"end\": \"{}\", \"error_code\": {}, \"status_code\": {}, \"transfor_matrix\": [{}], "
      "\"reason\": {}}}",
      fields, EndOf(verdict), verdict.error_code, verdict.status_code,
      fmt::join(verdict.transfor_matrix, ", "), JsonString(verdict.reason));
}

std::string JsonDocument(const std::string& fields, const char* list_name,
                         const std::vector<std::string>& items) {
  return fmt::format("{{{}\"{}\": [\n    {}\n  ]\n}}\n", fields, list_name,
                     fmt::join(items, ",\n    "));
}

struct JunitCase {
  std::string name;
  std::vector<std::string> problems;
};

std::string Junit(const char* suite, const std::vector<JunitCase>& cases) {
  const auto failures = std::count_if(cases.begin(), cases.end(),
                                      [](const JunitCase& c) { return !c.problems.empty(); });
  std::string xml = fmt::format(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<testsuites tests=\"{0}\" failures=\"{1}\">\n"
      "  <testsuite name=\"{2}\" tests=\"{0}\" failures=\"{1}\" errors=\"0\" skipped=\"0\">\n",
      cases.size(), failures, suite);
  for (const JunitCase& test : cases) {
    xml += fmt::format(R"(    <testcase classname="{}" name="{}")", suite, XmlEscaped(test.name));
    if (test.problems.empty()) {
      xml += "/>\n";
      continue;
    }
    const std::string message = XmlEscaped(fmt::format("{}", fmt::join(test.problems, "; ")));
    xml += fmt::format(">\n      <failure message=\"{}\">{}</failure>\n    </testcase>\n", message,
                       message);
  }
  return xml + "  </testsuite>\n</testsuites>\n";
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

std::string FormatJunit(const LiveResults& results) {
  std::vector<JunitCase> cases;
  cases.reserve(results.requests.size());
  for (const RequestResult& request : results.requests) {
    cases.push_back({request.name, ProblemsOf(request, results.time_limit)});
  }
  return Junit("check_perception_service.requests", cases);
}

std::string FormatJunit(const std::vector<AnswerFileResult>& results) {
  std::vector<JunitCase> cases;
  cases.reserve(results.size());
  for (const AnswerFileResult& result : results) {
    cases.push_back({result.file, ProblemsOf(result)});
  }
  return Junit("check_perception_service.answers", cases);
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
        JsonString(request.name), JsonString(request.request_yaml), request.exchanges.size(),
        summary.answered, summary.late, JsonTime(summary.median), JsonTime(summary.p99),
        JsonTime(summary.max), summary.answers.size() > 1,
        ProblemsOf(request, results.time_limit).empty(), fmt::join(answers, ", ")));
  }
  return JsonDocument(
      fmt::format("\n  \"service\": {}, \"time_limit_ms\": {}, \"passed\": {},\n  ",
                  JsonString(results.service_name), results.time_limit.count(), AllPassed(results)),
      "requests", requests);
}

std::string FormatJson(const std::vector<AnswerFileResult>& results) {
  std::vector<std::string> answers;
  answers.reserve(results.size());
  for (const AnswerFileResult& result : results) {
    answers.push_back(
        JsonVerdict(result.verdict, fmt::format("\"file\": {}, ", JsonString(result.file))));
  }
  return JsonDocument(fmt::format("\n  \"passed\": {},\n  ", AllPassed(results)), "answers",
                      answers);
}

}  // namespace kestrava_arm::check
