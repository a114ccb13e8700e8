#include "kestrava_arm_behavior_tree/common/string_helpers.hpp"

namespace kestrava_arm::bt {
namespace {

constexpr const char* kWhiteSpace = " \n\r\t";

}  // namespace

std::string TrimStr(const std::string& text) {
  const std::size_t first = text.find_first_not_of(kWhiteSpace);
  if (first == std::string::npos) {
    return {};
  }
  const std::size_t last = text.find_last_not_of(kWhiteSpace);
  return text.substr(first, last - first + 1);
}

std::int32_t GetNameValues(const std::string& text,
                           std::unordered_map<std::string, std::string>& name_values) {
  std::size_t position = 0;
  while (position < text.size()) {
    std::size_t end = text.find(';', position);
    if (end == std::string::npos) {
      end = text.size();
    }
    const std::string entry = text.substr(position, end - position);
    const std::size_t colon = entry.find(':');
    if (colon != std::string::npos) {
      name_values[TrimStr(entry.substr(0, colon))] = TrimStr(entry.substr(colon + 1));
    }
    position = end + 1;
  }
  return static_cast<std::int32_t>(name_values.size());
}

}  // namespace kestrava_arm::bt
