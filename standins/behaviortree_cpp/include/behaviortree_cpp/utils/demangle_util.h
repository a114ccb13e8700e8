#pragma once

#include <cxxabi.h>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <typeindex>

namespace BT {

inline std::string demangle(const std::type_index& index) {
  if (index == typeid(std::string)) {
    return "std::string";
  }
  if (index == typeid(std::string_view)) {
    return "std::string_view";
  }
  if (index == typeid(std::chrono::seconds)) {
    return "std::chrono::seconds";
  }
  if (index == typeid(std::chrono::milliseconds)) {
    return "std::chrono::milliseconds";
  }
  if (index == typeid(std::chrono::microseconds)) {
    return "std::chrono::microseconds";
  }
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> readable(
      abi::__cxa_demangle(index.name(), nullptr, nullptr, &status), std::free);
  return readable ? std::string(readable.get()) : std::string(index.name());
}

inline std::string demangle(const std::type_info& info) {
  return demangle(std::type_index(info));
}

}  // namespace BT
