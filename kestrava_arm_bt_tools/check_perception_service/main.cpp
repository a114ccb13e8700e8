// check_perception_service: tells the perception team whether DetectToiletInfo takes the answers
// of their service, live or from saved answer documents. See --help.

#include <exception>
#include <fstream>
#include <iostream>

#include "check_options.hpp"
#include "check_report.hpp"
#include "exit_status.hpp"
#include "kestrava_arm_host/command_line.hpp"
#include "live_check.hpp"

namespace {

using namespace kestrava_arm::check;

int Fail(int exit_status, const std::string& message) {
  std::cerr << "check_perception_service: " << message << std::endl;
  return exit_status;
}

void WriteReportFile(const std::string& path, const std::string& text) {
  if (path.empty()) {
    return;
  }
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << text;
  file.close();
  if (!file) {
    throw SetupError("cannot write '" + path + "'");
  }
}

template <typename Results>
int Report(const Results& results, const CheckOptions& options) {
  std::cout << FormatTable(results) << std::flush;
  WriteReportFile(options.junit_file, FormatJunit(results));
  WriteReportFile(options.json_file, FormatJson(results));
  return AllPassed(results) ? kExitAllTaken : kExitRefused;
}

int CheckAnswerFiles(const CheckOptions& options) {
  std::vector<AnswerFileResult> results;
  for (const std::string& file : options.answer_files) {
    results.push_back(
        {file, kestrava_arm::bt::JudgeAnswer(kestrava_arm::host::ReadTextFile(file))});
  }
  return Report(results, options);
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
    return options.answer_files.empty() ? Report(RunLiveCheck(argc, argv, options), options)
                                        : CheckAnswerFiles(options);
  } catch (const std::exception& error) {
    return Fail(kExitSetup, error.what());
  }
}
