#include "kestrava_arm_host/command_line.hpp"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace kestrava_arm::host {
namespace {

const OptionSpec& FindSpec(const std::vector<OptionSpec>& specs, const std::string& name) {
  const auto spec = std::find_if(specs.begin(), specs.end(), [&name](const OptionSpec& candidate) {
    return candidate.name == name;
  });
  if (spec == specs.end()) {
    throw UsageError(name.rfind("--", 0) == 0 ? "unknown option '" + name + "'"
                                              : "unexpected argument '" + name + "'");
  }
  return *spec;
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
                                          const std::vector<OptionSpec>& specs) {
  for (int index = 1; index < argc; ++index) {
    const std::string argument = argv[index];
    if (argument == "--ros-args") {
      return {argv + index, argv + argc};
    }
    const std::size_t equals = argument.find('=');
    const OptionSpec& spec = FindSpec(specs, argument.substr(0, equals));
    if (spec.value_name.empty()) {
      if (equals != std::string::npos) {
        throw UsageError("option '" + spec.name + "' takes no value");
      }
      spec.apply("");
    } else if (equals != std::string::npos) {
      spec.apply(argument.substr(equals + 1));
    } else if (index + 1 < argc) {
      spec.apply(argv[++index]);
    } else {
      throw UsageError("option '" + spec.name + "' needs a value (" + spec.value_name + ")");
    }
  }
  return {};
}

std::string DescribeOptions(const std::vector<OptionSpec>& specs) {
  std::ostringstream text;
  for (const OptionSpec& spec : specs) {
    text << "  " << spec.name << (spec.value_name.empty() ? "" : " " + spec.value_name) << "\n"
         << WrapText(spec.help, "      ");
  }
  return text.str();
}

std::chrono::milliseconds ParseMilliseconds(const std::string& option, const std::string& text) {
  std::chrono::milliseconds::rep count = 0;
  const char* const end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, count);
  if (text.empty() || error != std::errc() || stop != end || count < 0) {
    throw UsageError("option '" + option + "' needs a whole number of milliseconds, not '" + text +
                     "'");
  }
  return std::chrono::milliseconds(count);
}

std::string ReadTextFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!std::filesystem::is_regular_file(path) || !file) {
    throw std::runtime_error("cannot read '" + path + "'");
  }
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

}  // namespace kestrava_arm::host
