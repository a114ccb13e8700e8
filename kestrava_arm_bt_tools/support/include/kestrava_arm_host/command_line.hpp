#pragma once

#include <charconv>
#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace kestrava_arm::host {

// A command line the program cannot act on; the message says what is wrong with it.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct OptionDefinition {
  std::string name;        // with its dashes, e.g. "--plugin"
  std::string value_name;  // e.g. "PATH"; empty for an option that takes no value
  std::string help;
  std::function<void(const std::string& value)> apply;  // gets "" for an option without value
};

// Applies argv[1..] to the matching options; a value follows its option as the next argument or
// after '='. Parsing stops at "--ros-args": that argument and all after it belong to rclcpp and
// are returned unchanged. Throws UsageError for unknown options, missing values and whatever the
// options' apply functions reject.
std::vector<std::string> ParseCommandLine(int argc, const char* const argv[],
                                          const std::vector<OptionDefinition>& options);

// One paragraph per option, for --help.
std::string DescribeOptions(const std::vector<OptionDefinition>& options);

// A whole number of `unit` (for the error, e.g. "runs"), at least `minimum` and within Integer;
// `option` names the option in the error.
template <typename Integer>
Integer ParseWholeNumber(const std::string& option, const std::string& text,
                         const std::string& unit, Integer minimum) {
  Integer count = 0;
  const char* const end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, count);
  if (text.empty() || error != std::errc() || stop != end || count < minimum) {
    const std::string at_least = minimum > 0 ? ", at least " + std::to_string(minimum) : "";
    throw UsageError("option '" + option + "' needs a whole number of " + unit + at_least +
                     ", not '" + text + "'");
  }
  return count;
}

// A whole, non-negative number of milliseconds; `option` names the option in the error.
std::chrono::milliseconds ParseMilliseconds(const std::string& option, const std::string& text);

// The whole content of a file; throws std::runtime_error naming the file when it cannot be read.
std::string ReadTextFile(const std::string& path);

}  // namespace kestrava_arm::host
