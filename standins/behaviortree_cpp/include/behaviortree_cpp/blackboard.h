#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "behaviortree_cpp/basic_types.h"
#include "behaviortree_cpp/exceptions.h"
#include "behaviortree_cpp/utils/safe_any.hpp"

namespace BT {

// Key/value storage shared by the nodes of a tree. Entries are typed by the first port or value
// that creates them; later writes must keep that type.
class Blackboard {
 public:
  using Ptr = std::shared_ptr<Blackboard>;

  struct Entry {
    Any value;
    TypeInfo info;
    StringConverter string_converter;
    mutable std::mutex entry_mutex;
    uint64_t sequence_id = 0;
    std::chrono::nanoseconds stamp = std::chrono::nanoseconds(0);

    explicit Entry(const TypeInfo& type_info)
        : info(type_info), string_converter(type_info.converter()) {}
  };

  static Ptr create(Ptr parent = {}) { return Ptr(new Blackboard(std::move(parent))); }

  virtual ~Blackboard() = default;
  Blackboard(const Blackboard&) = delete;
  Blackboard& operator=(const Blackboard&) = delete;

  // When enabled, keys missing here (and not starting with '_') are looked up in the parent.
  void enableAutoRemapping(bool remapping) { autoremapping_ = remapping; }

  Ptr parent() { return parent_.lock(); }

  // The blackboard at the top of the chain of parents: the tree's own, which the host made.
  Blackboard* rootBlackboard();
  const Blackboard* rootBlackboard() const;

  // Makes the key `internal` of this blackboard the key `external` of the parent, as a SubTree's
  // attribute internal="{external}" does.
  void addSubtreeRemapping(StringView internal, StringView external);

  // Here, else through a remapping or the automatic remapping to the parent. A key that starts
  // with '@' names an entry of the root blackboard.
  [[nodiscard]] std::shared_ptr<Entry> getEntry(const std::string& key) const;

  // False when the key is missing or not yet written; conversion failures throw.
  template <typename T>
  [[nodiscard]] bool get(const std::string& key, T& value) const;

  template <typename T>
  [[nodiscard]] T get(const std::string& key) const;

  template <typename T>
  void set(const std::string& key, const T& value);

  [[nodiscard]] const TypeInfo* entryInfo(const std::string& key) const;

  // Creates an empty entry of the given type, or checks the type of the existing one; where the
  // key is remapped, in the parent.
  void createEntry(const std::string& key, const TypeInfo& info);

  void unset(const std::string& key);

  // Local keys only.
  [[nodiscard]] std::vector<StringView> getKeys() const;

  // Prints one "key (type)" line per entry to stdout.
  void debugMessage() const;

 protected:
  explicit Blackboard(Ptr parent) : parent_(parent) {}

 private:
  std::shared_ptr<Entry> createEntryImpl(const std::string& key, const TypeInfo& info);
  // Throws for a remapped key of a blackboard without parent.
  [[nodiscard]] Ptr checkedParent() const;

  template <typename T>
  void overwrite(const std::string& key, Entry& entry, const T& value);

  [[noreturn]] void throwTypeChange(const std::string& key, const std::type_index& previous,
                                    const std::type_index& current) const;

  mutable std::mutex storage_mutex_;
  std::unordered_map<std::string, std::shared_ptr<Entry>> storage_;
  std::weak_ptr<Blackboard> parent_;
  std::unordered_map<std::string, std::string> internal_to_external_;
  bool autoremapping_ = false;
};

// True when the number can be stored in an entry of the given type without loss.
template <typename T>
bool isCastingSafe(const std::type_index& type, const T& value);

template <typename T>
bool Blackboard::get(const std::string& key, T& value) const {
  const auto entry = getEntry(key);
  if (!entry) {
    return false;
  }
  std::unique_lock lock(entry->entry_mutex);
  if (entry->value.empty()) {
    return false;
  }
  if constexpr (std::is_same_v<T, Any>) {
    value = entry->value;
  } else {
    value = entry->value.cast<T>();
  }
  return true;
}

template <typename T>
T Blackboard::get(const std::string& key) const {
  const auto entry = getEntry(key);
  if (!entry) {
    throw RuntimeError("Blackboard::get() error. Missing key [", key, "]");
  }
  std::unique_lock lock(entry->entry_mutex);
  if (entry->value.empty()) {
    throw RuntimeError("Blackboard::get() error. Entry [", key, "] hasn't been initialized, yet");
  }
  if constexpr (std::is_same_v<T, Any>) {
    return entry->value;
  } else {
    return entry->value.cast<T>();
  }
}

template <typename T>
void Blackboard::set(const std::string& key, const T& value) {
  if (!key.empty() && key.front() == '@') {
    rootBlackboard()->set(key.substr(1), value);
    return;
  }
  if (auto entry = getEntry(key)) {
    overwrite(key, *entry, value);
    return;
  }
  // A text alone says nothing about the intended type, so it leaves the entry untyped.
  TypeInfo info;
  if constexpr (!std::is_same_v<T, std::string>) {
    info = TypeInfo(Any(value).type(), GetAnyFromStringFunctor<T>());
  }
  const auto entry = createEntryImpl(key, info);
  std::unique_lock lock(entry->entry_mutex);
  entry->value = Any(value);
  entry->sequence_id++;
  entry->stamp = std::chrono::steady_clock::now().time_since_epoch();
}

template <typename T>
void Blackboard::overwrite(const std::string& key, Entry& entry, const T& value) {
  std::unique_lock lock(entry.entry_mutex);
  Any new_value(value);
  if (!entry.info.isStronglyTyped()) {
    entry.info = TypeInfo::Create<T>();
    entry.value = std::move(new_value);
  } else {
    const std::type_index previous_type = entry.info.type();
    if (previous_type != typeid(T) && previous_type != new_value.type()) {
      Any parsed = entry.info.parseString(value);
      if (!parsed.empty()) {
        new_value = std::move(parsed);
      } else if (!isCastingSafe(previous_type, value)) {
        debugMessage();
        throwTypeChange(key, previous_type, typeid(T));
      }
    }
    if constexpr (std::is_same_v<T, Any>) {
      entry.value = new_value;
    } else {
      new_value.copyInto(entry.value);
    }
  }
  entry.sequence_id++;
  entry.stamp = std::chrono::steady_clock::now().time_since_epoch();
}

namespace details {

template <typename TO, typename T>
bool convertsLosslessly(const T& value) {
  try {
    static_cast<void>(Any(value).cast<TO>());
    return true;
  } catch (const std::runtime_error&) {
    return false;
  }
}

template <typename T, typename... Candidates>
bool isCastingSafeTo(const std::type_index& type, const T& value) {
  bool safe = false;
  static_cast<void>((
      (type == typeid(Candidates) ? (safe = convertsLosslessly<Candidates>(value), true) : false) ||
      ...));
  return safe;
}

}  // namespace details

template <typename T>
bool isCastingSafe(const std::type_index& type, const T& value) {
  if constexpr (std::is_arithmetic_v<T>) {
    return details::isCastingSafeTo<T, bool, int8_t, int16_t, int32_t, int64_t, uint8_t, uint16_t,
                                    uint32_t, uint64_t, float, double>(type, value);
  } else {
    return false;
  }
}

}  // namespace BT
