#pragma once

#include <functional>
#include <iostream>
#include <string>
#include <string_view>
#include <type_traits>
#include <typeindex>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

#include "behaviortree_cpp/contrib/expected.hpp"
#include "behaviortree_cpp/exceptions.h"
#include "behaviortree_cpp/utils/demangle_util.h"
#include "behaviortree_cpp/utils/safe_any.hpp"

namespace BT {

enum class NodeType { UNDEFINED = 0, ACTION, CONDITION, CONTROL, DECORATOR, SUBTREE };

enum class NodeStatus { IDLE = 0, RUNNING = 1, SUCCESS = 2, FAILURE = 3, SKIPPED = 4 };

enum class PortDirection { INPUT, OUTPUT, INOUT };

inline bool isStatusActive(const NodeStatus& status) {
  return status != NodeStatus::IDLE && status != NodeStatus::SKIPPED;
}

inline bool isStatusCompleted(const NodeStatus& status) {
  return status == NodeStatus::SUCCESS || status == NodeStatus::FAILURE;
}

using StringView = std::string_view;
using KeyValueVector = std::vector<std::pair<std::string, std::string>>;

template <typename T>
using Expected = nonstd::expected<T, std::string>;

// Success is a default-constructed Result; failure carries the error text.
using Result = Expected<std::monostate>;

// Marks a port or entry that accepts values of any type.
struct AnyTypeAllowed {};

// ---------------------------------------------------------------------------
// String conversion

template <typename T>
[[nodiscard]] T convertFromString(StringView) {
  const auto type_name = demangle(typeid(T));
  std::cerr << "You (maybe indirectly) called BT::convertFromString() for type [" << type_name
            << "], but I can't find the template specialization.\n"
            << std::endl;
  throw LogicError(
      "You didn't implement the template specialization of convertFromString for this type: ",
      type_name);
}

template <>
[[nodiscard]] std::string convertFromString<std::string>(StringView text);
template <>
[[nodiscard]] double convertFromString<double>(StringView text);
template <>
[[nodiscard]] float convertFromString<float>(StringView text);
template <>
[[nodiscard]] int8_t convertFromString<int8_t>(StringView text);
template <>
[[nodiscard]] int16_t convertFromString<int16_t>(StringView text);
template <>
[[nodiscard]] int32_t convertFromString<int32_t>(StringView text);
template <>
[[nodiscard]] int64_t convertFromString<int64_t>(StringView text);
template <>
[[nodiscard]] uint8_t convertFromString<uint8_t>(StringView text);
template <>
[[nodiscard]] uint16_t convertFromString<uint16_t>(StringView text);
template <>
[[nodiscard]] uint32_t convertFromString<uint32_t>(StringView text);
template <>
[[nodiscard]] uint64_t convertFromString<uint64_t>(StringView text);
template <>
[[nodiscard]] bool convertFromString<bool>(StringView text);
template <>
[[nodiscard]] std::vector<double> convertFromString<std::vector<double>>(StringView text);
template <>
[[nodiscard]] std::vector<int> convertFromString<std::vector<int>>(StringView text);
template <>
[[nodiscard]] std::vector<std::string> convertFromString<std::vector<std::string>>(StringView text);
template <>
[[nodiscard]] NodeStatus convertFromString<NodeStatus>(StringView text);
template <>
[[nodiscard]] NodeType convertFromString<NodeType>(StringView text);

template <typename T>
[[nodiscard]] std::string toStr(const T& value) {
  if constexpr (std::is_constructible_v<std::string, T>) {
    return static_cast<std::string>(value);
  } else if constexpr (std::is_arithmetic_v<T>) {
    return std::to_string(value);
  } else {
    throw LogicError("Function BT::toStr<T>() not specialized for type [", demangle(typeid(T)),
                     "]");
  }
}

template <>
[[nodiscard]] std::string toStr<bool>(const bool& value);
template <>
[[nodiscard]] std::string toStr<NodeStatus>(const NodeStatus& status);
template <>
[[nodiscard]] std::string toStr<NodeType>(const NodeType& type);
template <>
[[nodiscard]] std::string toStr<PortDirection>(const PortDirection& direction);

// With `colored`, the name is wrapped in ANSI colour codes for terminals.
[[nodiscard]] std::string toStr(NodeStatus status, bool colored);

std::ostream& operator<<(std::ostream& os, const NodeStatus& status);
std::ostream& operator<<(std::ostream& os, const NodeType& type);
std::ostream& operator<<(std::ostream& os, const PortDirection& direction);

// Parses the text of a port or blackboard entry into a value of the port's type.
using StringConverter = std::function<Any(StringView)>;

template <typename T>
[[nodiscard]] StringConverter GetAnyFromStringFunctor() {
  if constexpr (std::is_constructible_v<StringView, T>) {
    return [](StringView text) { return Any(text); };
  } else if constexpr (std::is_same_v<T, AnyTypeAllowed> || std::is_same_v<T, Any> ||
                       std::is_enum_v<T> || std::is_void_v<T>) {
    return {};
  } else {
    return [](StringView text) { return Any(convertFromString<T>(text)); };
  }
}

// ---------------------------------------------------------------------------
// Ports

[[nodiscard]] bool IsAllowedPortName(StringView name);
[[nodiscard]] bool IsReservedAttribute(StringView name);

class TypeInfo {
 public:
  template <typename T>
  static TypeInfo Create() {
    return TypeInfo(typeid(T), GetAnyFromStringFunctor<T>());
  }

  TypeInfo() : type_(typeid(AnyTypeAllowed)), type_name_("AnyTypeAllowed") {}
  TypeInfo(std::type_index type, StringConverter converter)
      : type_(type), converter_(std::move(converter)), type_name_(demangle(type)) {}

  const std::type_index& type() const { return type_; }
  const std::string& typeName() const { return type_name_; }
  const StringConverter& converter() const { return converter_; }

  // False for ports and entries that accept any type.
  bool isStronglyTyped() const { return type_ != typeid(AnyTypeAllowed) && type_ != typeid(Any); }

  // Runs the converter on string-like values; an empty Any for anything else.
  template <typename T>
  Any parseString(const T& text) const {
    if constexpr (std::is_constructible_v<StringView, T>) {
      return converter_ ? converter_(StringView(text)) : Any();
    } else {
      return {};
    }
  }

 private:
  std::type_index type_;
  StringConverter converter_;
  std::string type_name_;
};

class PortInfo : public TypeInfo {
 public:
  PortInfo(PortDirection direction = PortDirection::INOUT) : direction_(direction) {}
  PortInfo(PortDirection direction, std::type_index type, StringConverter converter)
      : TypeInfo(type, std::move(converter)), direction_(direction) {}

  PortDirection direction() const { return direction_; }
  const std::string& description() const { return description_; }
  void setDescription(StringView description) { description_ = std::string(description); }

  template <typename T>
  void setDefaultValue(const T& default_value) {
    default_value_ = Any(default_value);
    try {
      default_value_str_ = toStr(default_value);
    } catch (LogicError&) {
      // Types without a text form keep only the value.
    }
  }
  const Any& defaultValue() const { return default_value_; }
  const std::string& defaultValueString() const { return default_value_str_; }

 private:
  PortDirection direction_;
  std::string description_;
  Any default_value_;
  std::string default_value_str_;
};

using PortsList = std::unordered_map<std::string, PortInfo>;

template <typename T = AnyTypeAllowed>
[[nodiscard]] std::pair<std::string, PortInfo> CreatePort(PortDirection direction, StringView name,
                                                          StringView description = {}) {
  if (!IsAllowedPortName(name)) {
    throw RuntimeError(
        "The name of a port must not be `name` or `ID` and must start with an alphabetic "
        "character. Underscore is reserved.");
  }
  std::pair<std::string, PortInfo> port{std::string(name), PortInfo(direction)};
  if constexpr (!std::is_void_v<T>) {
    port.second = PortInfo(direction, typeid(T), GetAnyFromStringFunctor<T>());
  }
  if (!description.empty()) {
    port.second.setDescription(description);
  }
  return port;
}

template <typename T = AnyTypeAllowed>
[[nodiscard]] std::pair<std::string, PortInfo> InputPort(StringView name,
                                                         StringView description = {}) {
  return CreatePort<T>(PortDirection::INPUT, name, description);
}

template <typename T = AnyTypeAllowed>
[[nodiscard]] std::pair<std::string, PortInfo> OutputPort(StringView name,
                                                          StringView description = {}) {
  return CreatePort<T>(PortDirection::OUTPUT, name, description);
}

template <typename T = AnyTypeAllowed>
[[nodiscard]] std::pair<std::string, PortInfo> BidirectionalPort(StringView name,
                                                                 StringView description = {}) {
  return CreatePort<T>(PortDirection::INOUT, name, description);
}

// The default may be a T or a text (a literal or a "{key}" reference).
template <typename T = AnyTypeAllowed, typename DefaultT = T>
[[nodiscard]] std::pair<std::string, PortInfo> InputPort(StringView name,
                                                         const DefaultT& default_value,
                                                         StringView description) {
  auto port = CreatePort<T>(PortDirection::INPUT, name, description);
  port.second.setDefaultValue(default_value);
  return port;
}

template <typename T, typename = void>
struct has_static_method_providedPorts : std::false_type {};

template <typename T>
struct has_static_method_providedPorts<
    T, std::enable_if_t<std::is_same_v<decltype(T::providedPorts()), PortsList>>> : std::true_type {
};

template <typename T, typename = void>
struct has_static_method_metadata : std::false_type {};

template <typename T>
struct has_static_method_metadata<
    T, std::enable_if_t<std::is_same_v<decltype(T::metadata()), KeyValueVector>>> : std::true_type {
};

template <typename T>
[[nodiscard]] PortsList getProvidedPorts() {
  if constexpr (has_static_method_providedPorts<T>::value) {
    return T::providedPorts();
  } else {
    return {};
  }
}

}  // namespace BT
