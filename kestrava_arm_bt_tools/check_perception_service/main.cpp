// check_perception_service: tells the perception team whether DetectToiletInfo takes the answers
// of their service, live, from saved answer documents or by watching a running system. See
// --help.

#include <exception>
#include <iostream>
#include <optional>

#include "check_options.hpp"
#include "check_report.hpp"
#include "exchange_verdict.hpp"
#include "exit_status.hpp"
#include "field_watch.hpp"
#include "kestrava_arm_host/command_line.hpp"
#include "kestrava_arm_host/field_recording.hpp"
#include "kestrava_arm_host/report_file.hpp"
#include "kestrava_arm_host/report_text.hpp"
#include "live_check.hpp"

namespace {

using namespace kestrava_arm::check;
using kestrava_arm::host::ReportFile;

int Fail(int exit_status, const std::string& message) {
  std::cerr << "check_perception_service: " << message << std::endl;
  return exit_status;
}

// The report files the options ask for, opened before the check starts.
struct ReportFiles {
  std::optional<ReportFile> junit;
  std::optional<ReportFile> json;
};

std::optional<ReportFile> OpenIfAsked(const std::string& path) {
  if (path.empty()) {
    return std::nullopt;
  }
  return std::optional<ReportFile>(std::in_place, path);
}

ReportFiles OpenReportFiles(const CheckOptions& options) {
  return {OpenIfAsked(options.junit_file), OpenIfAsked(options.json_file)};
}

template <typename Results>
int Report(const Results& results, const ReportStamp& stamp, ReportFiles& files) {
  std::cout << FormatTable(results) << std::flush;
  if (files.junit) {
    files.junit->Write(FormatJunit(results, stamp));
  }
  if (files.json) {
    files.json->Write(FormatJson(results));
  }
  return AllPassed(results) ? kExitAllTaken : kExitRefused;
}

std::vector<AnswerFileResult> JudgeAnswerFiles(const CheckOptions& options) {
  std::vector<AnswerFileResult> results;
  for (const std::string& file : options.answer_files) {
    results.push_back(
        {file, kestrava_arm::bt::JudgeAnswer(kestrava_arm::host::ReadTextFile(file))});
  }
  return results;
}

// Every exchange of a recording, one line each, then the summary; the lines that cannot be read
// on stderr, as FILE:LINE: message.
int JudgeRecording(const std::string& path, ReportFiles& files) {
  using kestrava_arm::host::ReadRecordingText;
  const kestrava_arm::host::Recording recording =
      ReadRecordingText(kestrava_arm::host::ReadTextFile(path));
  for (const auto& error : recording.errors) {
    std::cerr << kestrava_arm::host::PrintableText(path + ":" + std::to_string(error.line) + ": " +
                                                   error.message)
              << "\n";
  }
  ExchangeTally tally;
  tally.unreadable_lines = recording.errors.size();
  std::vector<JudgedExchange> judged;
  for (const auto& exchange : recording.exchanges) {
    judged.push_back({exchange, JudgeExchange(exchange)});
    tally.Add(judged.back().verdict);
    std::cout << ExchangeLine(exchange, judged.back().verdict) << "\n";
  }
  std::cout << TallySummary(tally) << std::flush;
  if (files.json) {
    files.json->Write(ExchangesJson(judged, tally));
  }
  if (!recording.errors.empty()) {
    return kExitSetup;
  }
  return tally.AllTaken() ? kExitAllTaken : kExitRefused;
}

int Check(int argc, const char* const argv[], const CheckOptions& options) {
  if (options.watch) {
    return RunFieldWatch(argc, argv, options);
  }
  ReportFiles files = OpenReportFiles(options);
  if (!options.recording_file.empty()) {
    return JudgeRecording(options.recording_file, files);
  }
  const ReportStamp stamp = StampOfNow();
  return options.answer_files.empty() ? Report(RunLiveCheck(argc, argv, options), stamp, files)
                                      : Report(JudgeAnswerFiles(options), stamp, files);
}

}  // namespace

int main(int argc, char* argv[]) {
  CheckOptions options;
  try {
    options = ParseCheckOptions(argc, argv);
  } catch (const kestrava_arm::host::UsageError& error) {
    return Fail(kExitUsage, std::string(error.what()) + " (see check_perception_service --help)");
  }
  if (options.help) {
    std::cout << CheckUsage();
    return kExitAllTaken;
  }
  try {
    return Check(argc, argv, options);
  } catch (const kestrava_arm::host::UsageError& error) {
    return Fail(kExitUsage, error.what());
  } catch (const std::exception& error) {
    return Fail(kExitSetup, error.what());
  }
}
