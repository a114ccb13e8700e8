// BT::Any: type-erased value with the numeric and string conversions the blackboard relies on.
#pragma once

#include <any>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <typeindex>

#include "behaviortree_cpp/contrib/expected.hpp"
#include "behaviortree_cpp/utils/demangle_util.h"

namespace BT {

namespace SafeAny {

// Internal storage for every string-like value, so that std::string, const char* and
// std::string_view all end up in the same representation.
class SimpleString {
 public:
  explicit SimpleString(std::string_view text) : text_(text) {}
  const std::string& toStdString() const { return text_; }

 private:
  std::string text_;
};

namespace details {

template <typename T>
constexpr bool isStringLike() {
  return std::is_same_v<T, std::string> || std::is_same_v<T, std::string_view> ||
         std::is_same_v<T, const char*> || std::is_same_v<T, char*>;
}

// Integers (bool and enums included) are widened to int64_t, uint64_t stays, float becomes
// double: conversions then only have three numeric sources to handle.
template <typename T>
constexpr bool storedAsInt64() {
  return (std::is_integral_v<T> && !std::is_same_v<T, uint64_t>) || std::is_enum_v<T>;
}

[[noreturn]] inline void fail(const char* message) {
  throw std::runtime_error(message);
}

template <typename TO>
constexpr double exclusiveUpperBound() {
  return std::ldexp(1.0, std::numeric_limits<TO>::digits);
}

template <typename SRC, typename TO>
TO convertInteger(SRC source) {
  if constexpr (std::is_same_v<TO, bool>) {
    if (source != 0 && source != 1) {
      fail("Implicit casting to bool is not allowed");
    }
  } else if constexpr (std::is_signed_v<SRC> && !std::is_signed_v<TO>) {
    if (source < 0) {
      fail("Value is negative and can't be converted to unsigned");
    }
    if (static_cast<uint64_t>(source) > std::numeric_limits<TO>::max()) {
      fail("Value outside the max numerical limit.");
    }
  } else if constexpr (!std::is_signed_v<SRC>) {
    if (source > static_cast<uint64_t>(std::numeric_limits<TO>::max())) {
      fail("Value outside the max numerical limit.");
    }
  } else {
    if (source > static_cast<int64_t>(std::numeric_limits<TO>::max())) {
      fail("Value outside the max numerical limit.");
    }
    if (source < static_cast<int64_t>(std::numeric_limits<TO>::lowest())) {
      fail("Value outside the lovest numerical limit.");
    }
  }
  return static_cast<TO>(source);
}

template <typename SRC, typename TO>
TO convertIntegerToFloat(SRC source) {
  // Beyond 2^53 - 1 a double no longer tells neighbouring integers apart.
  constexpr uint64_t kMaxExact = (uint64_t{1} << std::numeric_limits<double>::digits) - 1;
  uint64_t magnitude = static_cast<uint64_t>(source);
  if constexpr (std::is_signed_v<SRC>) {
    if (source < 0) {
      magnitude = uint64_t{0} - magnitude;
    }
  }
  if (magnitude > kMaxExact) {
    throw std::runtime_error(
        "Loss of precision when converting a large integer number to floating point:" +
        std::to_string(source));
  }
  return static_cast<TO>(source);
}

template <typename TO>
TO convertFloatToInteger(double source) {
  const bool in_range = source >= static_cast<double>(std::numeric_limits<TO>::lowest()) &&
                        source < exclusiveUpperBound<TO>();
  if (!in_range || std::trunc(source) != source) {
    fail("Invalid floating point to integer conversion");
  }
  return static_cast<TO>(source);
}

// Checked conversion between the three stored numeric kinds and any arithmetic type.
template <typename SRC, typename TO>
TO convertNumber(SRC source) {
  if constexpr (std::is_same_v<SRC, TO>) {
    return source;
  } else if constexpr (std::is_integral_v<SRC> && std::is_integral_v<TO>) {
    return convertInteger<SRC, TO>(source);
  } else if constexpr (std::is_integral_v<SRC>) {
    return convertIntegerToFloat<SRC, TO>(source);
  } else if constexpr (std::is_same_v<TO, bool>) {
    return source != 0;  // as in C: any non-zero value is true
  } else if constexpr (std::is_integral_v<TO>) {
    return convertFloatToInteger<TO>(source);
  } else {
    return static_cast<TO>(source);  // double to float is accepted as it comes
  }
}

}  // namespace details
}  // namespace SafeAny

class Any {
  template <typename T>
  using NotAny = std::enable_if_t<!std::is_same_v<std::decay_t<T>, Any>, int>;

  template <typename T>
  static constexpr bool implicitlyConvertible() {
    return std::is_arithmetic_v<T> || std::is_enum_v<T> || SafeAny::details::isStringLike<T>();
  }

 public:
  Any() : original_type_(typeid(void)) {}

  // An empty value that still remembers the type it is meant to hold.
  explicit Any(const std::type_index& type) : original_type_(type) {}

  Any(const char* text) : Any(std::string_view(text)) {}

  template <typename T, NotAny<T> = 0, std::enable_if_t<implicitlyConvertible<T>(), int> = 0>
  Any(const T& value) : value_(store(value)), original_type_(originalType<T>()) {}

  template <typename T, NotAny<T> = 0,
            std::enable_if_t<!implicitlyConvertible<T>() && !std::is_array_v<T>, int> = 0>
  explicit Any(const T& value) : value_(value), original_type_(typeid(T)) {}

  // The type the value was created with (e.g. unsigned int).
  const std::type_index& type() const noexcept { return original_type_; }
  // The type it is stored as (e.g. long).
  std::type_index castedType() const noexcept { return value_.type(); }

  bool empty() const noexcept { return !value_.has_value(); }
  bool isNumber() const { return isIntegral() || value_.type() == typeid(double); }
  bool isIntegral() const {
    return value_.type() == typeid(int64_t) || value_.type() == typeid(uint64_t);
  }
  bool isString() const { return value_.type() == typeid(SafeAny::SimpleString); }

  template <typename T>
  bool isType() const {
    return original_type_ == typeid(T);
  }

  // Conversion failures are reported as errors; range violations and an empty value throw.
  template <typename T>
  nonstd::expected<T, std::string> tryCast() const;

  template <typename T>
  [[nodiscard]] T cast() const {
    auto result = tryCast<T>();
    if (!result) {
      throw std::runtime_error(result.error());
    }
    return std::move(result).value();
  }

  // Pointer to the stored representation, nullptr if it is not exactly T.
  template <typename T>
  T* castPtr() {
    return std::any_cast<T>(&value_);
  }
  template <typename T>
  const T* castPtr() const {
    return std::any_cast<T>(&value_);
  }

  // Overwrites dst with this value, keeping dst's stored representation for numbers.
  void copyInto(Any& dst) const;

 private:
  template <typename T>
  static std::any store(const T& value) {
    using namespace SafeAny::details;
    if constexpr (isStringLike<T>()) {
      return SafeAny::SimpleString(std::string_view(value));
    } else if constexpr (storedAsInt64<T>()) {
      return static_cast<int64_t>(value);
    } else if constexpr (std::is_floating_point_v<T>) {
      return static_cast<double>(value);
    } else {
      return value;
    }
  }

  template <typename T>
  static std::type_index originalType() {
    if constexpr (SafeAny::details::isStringLike<T>()) {
      return typeid(std::string);
    } else {
      return typeid(T);
    }
  }

  template <typename T>
  std::string errorMsg() const {
    return "[Any::convert]: no known safe conversion between [" + demangle(original_type_) +
           "] and [" + demangle(typeid(T)) + "]";
  }

  template <typename T>
  nonstd::expected<T, std::string> toNumber() const;
  template <typename T>
  nonstd::expected<T, std::string> stringToNumber() const;
  nonstd::expected<std::string, std::string> toString() const;

  std::any value_;
  std::type_index original_type_;
};

template <typename T>
nonstd::expected<T, std::string> Any::toNumber() const {
  using SafeAny::details::convertNumber;
  if (const auto* value = castPtr<int64_t>()) {
    return convertNumber<int64_t, T>(*value);
  }
  if (const auto* value = castPtr<uint64_t>()) {
    return convertNumber<uint64_t, T>(*value);
  }
  if (const auto* value = castPtr<double>()) {
    return convertNumber<double, T>(*value);
  }
  return nonstd::make_unexpected(errorMsg<T>());
}

template <typename T>
nonstd::expected<T, std::string> Any::stringToNumber() const {
  const std::string& text = castPtr<SafeAny::SimpleString>()->toStdString();
  T number{};
  const auto result = std::from_chars(text.data(), text.data() + text.size(), number);
  if (result.ec != std::errc()) {
    return nonstd::make_unexpected("Any failed string to number conversion");
  }
  return number;
}

inline nonstd::expected<std::string, std::string> Any::toString() const {
  if (const auto* text = castPtr<SafeAny::SimpleString>()) {
    return text->toStdString();
  }
  if (const auto* value = castPtr<int64_t>()) {
    return std::to_string(*value);
  }
  if (const auto* value = castPtr<uint64_t>()) {
    return std::to_string(*value);
  }
  if (const auto* value = castPtr<double>()) {
    return std::to_string(*value);
  }
  return nonstd::make_unexpected(errorMsg<std::string>());
}

template <typename T>
nonstd::expected<T, std::string> Any::tryCast() const {
  static_assert(!std::is_reference_v<T>, "Any::cast uses value semantic");
  if (empty()) {
    throw std::runtime_error("Any::cast failed because it is empty");
  }
  if (const auto* exact = castPtr<T>()) {
    return *exact;
  }
  if constexpr (std::is_enum_v<T>) {
    if (isNumber()) {
      return static_cast<T>(toNumber<int>().value());
    }
    if (isString()) {
      if (auto number = stringToNumber<int64_t>()) {
        return static_cast<T>(number.value());
      }
    }
    return nonstd::make_unexpected("Any::cast failed to cast to enum type");
  } else if constexpr (std::is_same_v<T, std::string>) {
    return toString();
  } else if constexpr (std::is_arithmetic_v<T>) {
    if constexpr (!std::is_same_v<T, bool>) {
      if (isString()) {
        return stringToNumber<T>();
      }
    }
    return toNumber<T>();
  } else {
    return nonstd::make_unexpected(errorMsg<T>());
  }
}

inline void Any::copyInto(Any& dst) const {
  if (dst.empty()) {
    dst = *this;
    return;
  }
  if (dst.castedType() == castedType() || (isString() && dst.isString())) {
    dst.value_ = value_;
    return;
  }
  if (!isNumber() || !dst.isNumber()) {
    throw std::runtime_error("Any::copyInto fails");
  }
  if (dst.castedType() == typeid(int64_t)) {
    dst.value_ = cast<int64_t>();
  } else if (dst.castedType() == typeid(uint64_t)) {
    dst.value_ = cast<uint64_t>();
  } else {
    dst.value_ = cast<double>();
  }
}

}  // namespace BT
