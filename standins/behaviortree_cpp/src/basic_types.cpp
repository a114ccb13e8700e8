#include "behaviortree_cpp/basic_types.h"

#include <array>
#include <cctype>
#include <charconv>
#include <limits>

namespace BT {

namespace {

// Prefix parse, as std::from_chars does it: "12abc" is 12, " 12" and "+12" fail.
template <typename T>
bool parsePrefix(StringView text, T& value) {
  return std::from_chars(text.data(), text.data() + text.size(), value).ec == std::errc();
}

template <typename T>
T parseFloating(StringView text, const char* type_name) {
  T value{};
  if (!parsePrefix(text, value)) {
    throw RuntimeError("Can't convert string [", text, "] to ", type_name);
  }
  return value;
}

template <typename T>
T parseInteger(StringView text) {
  using Wide = std::conditional_t<std::is_signed_v<T> || sizeof(T) < 8, int64_t, uint64_t>;
  Wide wide{};
  if (!parsePrefix(text, wide)) {
    throw RuntimeError("Can't convert string [", text, "] to integer");
  }
  if constexpr (!std::is_same_v<Wide, T>) {
    if (wide < static_cast<Wide>(std::numeric_limits<T>::lowest()) ||
        wide > static_cast<Wide>(std::numeric_limits<T>::max())) {
      throw RuntimeError("Value out of bound when converting [", text, "] to integer");
    }
  }
  return static_cast<T>(wide);
}

// "a;b;c" into its elements; a trailing ';' adds nothing and an empty text gives no element.
template <typename T>
std::vector<T> parseList(StringView text) {
  std::vector<T> elements;
  while (!text.empty()) {
    const auto separator = text.find(';');
    elements.push_back(convertFromString<T>(text.substr(0, separator)));
    text = separator == StringView::npos ? StringView() : text.substr(separator + 1);
  }
  return elements;
}

constexpr std::array<const char*, 5> kStatusNames = {"IDLE", "RUNNING", "SUCCESS", "FAILURE",
                                                     "SKIPPED"};
constexpr std::array<const char*, 6> kTypeNames = {"Undefined", "Action",    "Condition",
                                                   "Control",   "Decorator", "SubTree"};
constexpr std::array<const char*, 3> kDirectionNames = {"Input", "Output", "InOut"};

const char* statusColor(NodeStatus status) {
  switch (status) {
    case NodeStatus::RUNNING:
      return "\x1b[33m";
    case NodeStatus::SUCCESS:
      return "\x1b[32m";
    case NodeStatus::FAILURE:
      return "\x1b[31m";
    default:
      return "\x1b[36m";
  }
}

// Bytes that would break a port name in XML attributes, paths or scripts.
bool isForbiddenPortChar(unsigned char c) {
  static constexpr StringView kForbidden = " \t\n\r<>&\"'/\\:*?|.";
  return c < 32 || c == 127 || kForbidden.find(static_cast<char>(c)) != StringView::npos;
}

}  // namespace

template <>
std::string convertFromString<std::string>(StringView text) {
  return std::string(text);
}

template <>
double convertFromString<double>(StringView text) {
  return parseFloating<double>(text, "double");
}

template <>
float convertFromString<float>(StringView text) {
  return parseFloating<float>(text, "float");
}

template <>
int8_t convertFromString<int8_t>(StringView text) {
  return parseInteger<int8_t>(text);
}

template <>
int16_t convertFromString<int16_t>(StringView text) {
  return parseInteger<int16_t>(text);
}

template <>
int32_t convertFromString<int32_t>(StringView text) {
  return parseInteger<int32_t>(text);
}

template <>
int64_t convertFromString<int64_t>(StringView text) {
  return parseInteger<int64_t>(text);
}

template <>
uint8_t convertFromString<uint8_t>(StringView text) {
  return parseInteger<uint8_t>(text);
}

template <>
uint16_t convertFromString<uint16_t>(StringView text) {
  return parseInteger<uint16_t>(text);
}

template <>
uint32_t convertFromString<uint32_t>(StringView text) {
  return parseInteger<uint32_t>(text);
}

template <>
uint64_t convertFromString<uint64_t>(StringView text) {
  return parseInteger<uint64_t>(text);
}

template <>
bool convertFromString<bool>(StringView text) {
  if (text == "1" || text == "true" || text == "TRUE" || text == "True") {
    return true;
  }
  if (text == "0" || text == "false" || text == "FALSE" || text == "False") {
    return false;
  }
  throw RuntimeError("convertFromString(): invalid bool conversion");
}

template <>
std::vector<double> convertFromString<std::vector<double>>(StringView text) {
  return parseList<double>(text);
}

template <>
std::vector<int> convertFromString<std::vector<int>>(StringView text) {
  return parseList<int>(text);
}

template <>
std::vector<std::string> convertFromString<std::vector<std::string>>(StringView text) {
  return parseList<std::string>(text);
}

template <>
NodeStatus convertFromString<NodeStatus>(StringView text) {
  for (size_t i = 0; i < kStatusNames.size(); ++i) {
    if (text == kStatusNames[i]) {
      return static_cast<NodeStatus>(i);
    }
  }
  throw RuntimeError("Cannot convert this to NodeStatus: ", text);
}

template <>
NodeType convertFromString<NodeType>(StringView text) {
  for (size_t i = 0; i < kTypeNames.size(); ++i) {
    if (text == kTypeNames[i]) {
      return static_cast<NodeType>(i);
    }
  }
  return NodeType::UNDEFINED;
}

template <>
std::string toStr<bool>(const bool& value) {
  return value ? "true" : "false";
}

template <>
std::string toStr<NodeStatus>(const NodeStatus& status) {
  return kStatusNames.at(static_cast<size_t>(status));
}

template <>
std::string toStr<NodeType>(const NodeType& type) {
  return kTypeNames.at(static_cast<size_t>(type));
}

template <>
std::string toStr<PortDirection>(const PortDirection& direction) {
  return kDirectionNames.at(static_cast<size_t>(direction));
}

std::string toStr(NodeStatus status, bool colored) {
  if (!colored) {
    return toStr(status);
  }
  return statusColor(status) + toStr(status) + "\x1b[0m";
}

std::ostream& operator<<(std::ostream& os, const NodeStatus& status) {
  return os << toStr(status);
}

std::ostream& operator<<(std::ostream& os, const NodeType& type) {
  return os << toStr(type);
}

std::ostream& operator<<(std::ostream& os, const PortDirection& direction) {
  return os << toStr(direction);
}

bool IsReservedAttribute(StringView name) {
  static constexpr std::array<StringView, 11> kReserved = {
      "name",   "ID",        "_autoremap", "_failureIf", "_successIf", "_skipIf",
      "_while", "_onHalted", "_onFailure", "_onSuccess", "_post"};
  for (const auto& reserved : kReserved) {
    if (name == reserved) {
      return true;
    }
  }
  return false;
}

bool IsAllowedPortName(StringView name) {
  if (name.empty() || !std::isalpha(static_cast<unsigned char>(name.front()))) {
    return false;
  }
  for (const char c : name) {
    if (isForbiddenPortChar(static_cast<unsigned char>(c))) {
      return false;
    }
  }
  return !IsReservedAttribute(name);
}

}  // namespace BT
