// Runs logging statements for counting their instructions under callgrind:
//   count_logging facade|bare text|two_args <statements>
// One statement first builds the facade or the bare logger; the counted ones run inside
// RunStatements, the function that callgrind collects:
//   valgrind --tool=callgrind --toggle-collect='*RunStatements*' count_logging facade text 10000
// Instructions per statement: the "Collected" figure divided by <statements>.
#include <cstdlib>
#include <functional>
#include <iostream>
#include <memory>
#include <string>

#include "logging_statements.hpp"

namespace {

using kestrava::bench::BareText;
using kestrava::bench::BareTwoArgs;
using kestrava::bench::FacadeText;
using kestrava::bench::FacadeTwoArgs;
using kestrava::bench::MakeBareLogger;

[[gnu::noinline]] void RunStatements(const std::function<void()>& statement, long count) {
  for (long i = 0; i < count; ++i) {
    statement();
  }
}

std::function<void()> ChooseStatement(const std::string& kind, const std::string& message) {
  static const std::string task = "task_uid";
  if (kind == "facade") {
    if (message == "text") {
      return FacadeText;
    }
    return [] { FacadeTwoArgs(task); };
  }
  std::shared_ptr<spdlog::logger> logger = MakeBareLogger();
  if (message == "text") {
    return [logger] { BareText(*logger); };
  }
  return [logger] { BareTwoArgs(*logger, task); };
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 || (std::string(argv[1]) != "facade" && std::string(argv[1]) != "bare") ||
      (std::string(argv[2]) != "text" && std::string(argv[2]) != "two_args")) {
    std::cerr << "usage: count_logging facade|bare text|two_args <statements>\n";
    return EXIT_FAILURE;
  }
  const std::function<void()> statement = ChooseStatement(argv[1], argv[2]);
  statement();
  RunStatements(statement, std::stol(argv[3]));
  return EXIT_SUCCESS;
}
