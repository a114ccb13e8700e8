#include "kestrava_arm_host/command_line.hpp"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace kestrava_arm::host {
namespace {

const OptionDefinition& FindOption(const std::vector<OptionDefinition>& options,
                                   const std::string& name) {
  const auto option =
      std::find_if(options.begin(), options.end(),
                   [&name](const OptionDefinition& candidate) { return candidate.name == name; });
  if (option == options.end()) {
    throw UsageError(name.rfind("--", 0) == 0 ? "unknown option '" + name + "'"
                                              : "unexpected argument '" + name + "'");
  }
  return *option;
}

// Breaks the text between words into indented lines of at most 80 columns.
std::string WrapText(const std::string& text, const std::string& indent) {
  constexpr std::size_t kWidth = 80;
  std::istringstream words(text);
  std::string wrapped;
  std::string line = indent;
  std::string word;
  while (words >> word) {
    if (line.size() > indent.size() && line.size() + 1 + word.size() > kWidth) {
      wrapped += line + "\n";
      line = indent;
    }
    line += (line.size() > indent.size() ? " " : "") + word;
  }
  return wrapped + line + "\n";
}

}  // namespace

std::vector<std::string> ParseCommandLine(int argc, const char* const argv[],
                                          const std::vector<OptionDefinition>& options) {
  for (int index = 1; index < argc; ++index) {
    const std::string argument = argv[index];
    if (argument == "--ros-args") {
      return {argv + index, argv + argc};
    }
    const std::size_t equals = argument.find('=');
    const OptionDefinition& option = FindOption(options, argument.substr(0, equals));
    if (option.value_name.empty()) {
      if (equals != std::string::npos) {
        throw UsageError("option '" + option.name + "' takes no value");
      }
      option.apply("");
    } else if (equals != std::string::npos) {
      option.apply(argument.substr(equals + 1));
    } else if (index + 1 < argc) {
      option.apply(argv[++index]);
    } else {
      throw UsageError("option '" + option.name + "' needs a value (" + option.value_name + ")");
    }
  }
  return {};
}

std::string DescribeOptions(const std::vector<OptionDefinition>& options) {
  std::ostringstream text;
  for (const OptionDefinition& option : options) {
    text << "  " << option.name << (option.value_name.empty() ? "" : " " + option.value_name)
         << "\n"
         << WrapText(option.help, "      ");
  }
  return text.str();
}

std::chrono::milliseconds ParseMilliseconds(const std::string& option, const std::string& text) {
  return std::chrono::milliseconds(
      ParseWholeNumber<std::chrono::milliseconds::rep>(option, text, "milliseconds", 0));
}

std::string ReadTextFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!std::filesystem::is_regular_file(path) || !file) {
    throw std::runtime_error("cannot read '" + path + "'");
  }
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

}  // namespace kestrava_arm::host
