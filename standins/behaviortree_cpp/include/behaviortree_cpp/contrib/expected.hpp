// Minimal value-or-error type with the interface of nonstd::expected that the trees use: enough
// for Expected<T> and Result, nothing more.
#pragma once

#include <exception>
#include <type_traits>
#include <utility>
#include <variant>

namespace nonstd {
namespace expected_lite {

template <typename E>
class unexpected_type {
 public:
  explicit unexpected_type(E error) : error_(std::move(error)) {}
  const E& value() const& { return error_; }
  E&& value() && { return std::move(error_); }

 private:
  E error_;
};

template <typename E>
unexpected_type<std::decay_t<E>> make_unexpected(E&& error) {
  return unexpected_type<std::decay_t<E>>(std::forward<E>(error));
}

// Error texts decay to std::string so that make_unexpected("text") fits Expected<T>.
template <std::size_t N>
unexpected_type<std::string> make_unexpected(const char (&error)[N]) {
  return unexpected_type<std::string>(error);
}

template <typename E>
class bad_expected_access;

template <>
class bad_expected_access<void> : public std::exception {
 public:
  const char* what() const noexcept override { return "bad_expected_access"; }
};

template <typename E>
class bad_expected_access : public bad_expected_access<void> {
 public:
  explicit bad_expected_access(E error) : error_(std::move(error)) {}
  const E& error() const& { return error_; }

 private:
  E error_;
};

template <typename T, typename E>
class expected {
 public:
  using value_type = T;
  using error_type = E;

  expected() : storage_(std::in_place_index<0>) {}

  template <typename U = T,
            typename = std::enable_if_t<std::is_constructible_v<T, U&&> &&
                                        !std::is_same_v<std::decay_t<U>, expected> &&
                                        !std::is_same_v<std::decay_t<U>, unexpected_type<E>>>>
  expected(U&& value) : storage_(std::in_place_index<0>, std::forward<U>(value)) {}

  template <typename G, typename = std::enable_if_t<std::is_constructible_v<E, const G&>>>
  expected(const unexpected_type<G>& error) : storage_(std::in_place_index<1>, error.value()) {}

  template <typename G, typename = std::enable_if_t<std::is_constructible_v<E, G&&>>>
  expected(unexpected_type<G>&& error)
      : storage_(std::in_place_index<1>, std::move(error).value()) {}

  bool has_value() const noexcept { return storage_.index() == 0; }
  explicit operator bool() const noexcept { return has_value(); }

  T& value() & {
    throwIfError();
    return std::get<0>(storage_);
  }
  const T& value() const& {
    throwIfError();
    return std::get<0>(storage_);
  }
  T&& value() && {
    throwIfError();
    return std::get<0>(std::move(storage_));
  }

  template <typename U>
  T value_or(U&& fallback) const& {
    return has_value() ? std::get<0>(storage_) : static_cast<T>(std::forward<U>(fallback));
  }

  const E& error() const& { return std::get<1>(storage_); }
  E& error() & { return std::get<1>(storage_); }

  // Unchecked access, as in the original: dereferencing an error is the caller's fault.
  T& operator*() & { return *std::get_if<0>(&storage_); }
  const T& operator*() const& { return *std::get_if<0>(&storage_); }
  T* operator->() { return std::get_if<0>(&storage_); }
  const T* operator->() const { return std::get_if<0>(&storage_); }

 private:
  void throwIfError() const {
    if (!has_value()) {
      throw bad_expected_access<E>(error());
    }
  }

  // Indexed alternatives, so that T and E may be the same type.
  std::variant<T, E> storage_;
};

}  // namespace expected_lite

using expected_lite::bad_expected_access;
using expected_lite::expected;
using expected_lite::make_unexpected;
using expected_lite::unexpected_type;

}  // namespace nonstd
