// Runs logging statements in a process of its own, so that every test can give the facade a fresh
// environment. Usage:
//   log_driver script <letters>   i: LOG_INFO, e: LOG_ERROR, b: LOG_INFO of a text with braces,
//                                 f: two LOG_INFO of escaped braces and no arguments,
//                                 x: LOG_INFO of a malformed format, "format error" once caught,
//                                 t: LOG_INFO of a text among terminal escape sequences
//   log_driver threads <threads> <lines per thread>
//   log_driver journal <tag>      writes the file and lines of its two statements to stderr
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "kestrava_arm_behavior_tree/common/utils.hpp"

namespace {

// Colours as the node writes them, a hyperlink (OSC, ended by ST and by BEL), a character set
// and a cursor switch (ESC with an intermediate byte, private CSI), and a CSI cut off at the end.
const std::string kEscapedText =
    std::string(kestrava_arm::BOLD_MAGENTA) + "cost" + kestrava_arm::RESET +
    " \033]8;;http://host/a\033\\link\033]8;;\a \033(B\033[?25hplain\033[1;3";

bool RunScript(const std::string& letters) {
  for (std::size_t index = 0; index < letters.size(); ++index) {
    switch (letters[index]) {
      case 'i':
        LOG_INFO("info {}", index);
        break;
      case 'e':
        LOG_ERROR("error {}", index);
        break;
      case 'b':
        LOG_INFO("braces {}", "{} {0} {:x} }{");
        break;
      case 'f':
        LOG_INFO("opening {{");
        LOG_INFO("closing }}");
        break;
      case 'x':
        try {
          LOG_INFO(fmt::runtime("unclosed {"));
        } catch (const fmt::format_error&) {
          std::cout << "format error\n";
        }
        break;
      case 't':
        LOG_INFO("{}", kEscapedText);
        break;
      default:
        std::cerr << "unknown letter " << letters[index] << '\n';
        return false;
    }
  }
  return true;
}

void RunThreads(int threads, int lines) {
  std::vector<std::thread> workers;
  for (int thread = 0; thread < threads; ++thread) {
    workers.emplace_back([thread, lines] {
      for (int line = 0; line < lines; ++line) {
        LOG_INFO("thread {} line {}", thread, line);
      }
    });
  }
  for (std::thread& worker : workers) {
    worker.join();
  }
}

void WriteJournalProbe(const std::string& tag) {
  LOG_INFO("{} info", tag);
  const int info_line = __LINE__ - 1;
  LOG_ERROR("{} error", tag);
  const int error_line = __LINE__ - 1;
  std::cerr << __FILE__ << '\n' << info_line << '\n' << error_line << '\n';
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 2 && args[0] == "script") {
    return RunScript(args[1]) ? EXIT_SUCCESS : EXIT_FAILURE;
  }
  if (args.size() == 3 && args[0] == "threads") {
    RunThreads(std::stoi(args[1]), std::stoi(args[2]));
  } else if (args.size() == 2 && args[0] == "journal") {
    WriteJournalProbe(args[1]);
  } else {
    std::cerr << "usage: log_driver script <letters> | threads <n> <lines> | journal <tag>\n";
    return EXIT_FAILURE;
  }
  return EXIT_SUCCESS;
}
