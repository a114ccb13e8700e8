#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "kestrava_arm_behavior_tree/contract/perception_contract.hpp"

namespace kestrava_arm::check {

// The node's verdict on one answer: what the run that received it publishes.
using Verdict = bt::RunOutcome;

// Offline: one saved answer document.
struct AnswerFileResult {
  std::string file;
  Verdict verdict;
};

// Live: one round of a request.
struct Exchange {
  std::optional<std::string> answer;  // nothing when none came within the wait
  std::chrono::milliseconds time{0};  // from sending to the answer, in whole milliseconds
};

// Live: the rounds of one request.
struct RequestResult {
  std::string name;
  std::string request_yaml;
  std::vector<Exchange> exchanges;
};

struct LiveResults {
  std::string service_name;
  std::chrono::milliseconds time_limit{0};
  std::vector<RequestResult> requests;
};

// What the report says of a request's rounds.
struct RequestSummary {
  struct AnswerVerdict {
    Verdict verdict;
    std::size_t rounds;  // how many rounds brought this answer
  };
  std::vector<AnswerVerdict> answers;  // one per distinct answer, in the order they came
  std::size_t answered = 0;
  std::size_t late = 0;  // answers after the time limit, and rounds without one
  std::optional<std::chrono::milliseconds> median, p99, max;
};

RequestSummary Summarise(const RequestResult& request, std::chrono::milliseconds time_limit);

// What fails a request or an answer file; nothing when it passes.
std::vector<std::string> ProblemsOf(const RequestResult& request,
                                    std::chrono::milliseconds time_limit);
std::vector<std::string> ProblemsOf(const AnswerFileResult& result);

// Whether every request or answer file passed.
bool AllPassed(const LiveResults& results);
bool AllPassed(const std::vector<AnswerFileResult>& results);

// A table for people.
std::string FormatTable(const LiveResults& results);
std::string FormatTable(const std::vector<AnswerFileResult>& results);

// When and on which machine a check ran, as a JUnit report says (UTC, ISO 8601 without zone).
struct ReportStamp {
  std::string timestamp;
  std::string hostname;
};
ReportStamp StampOfNow();

// One test case per request or answer file, the problems as the failure message.
std::string FormatJunit(const LiveResults& results, const ReportStamp& stamp);
std::string FormatJunit(const std::vector<AnswerFileResult>& results, const ReportStamp& stamp);

std::string FormatJson(const LiveResults& results);
std::string FormatJson(const std::vector<AnswerFileResult>& results);

}  // namespace kestrava_arm::check
