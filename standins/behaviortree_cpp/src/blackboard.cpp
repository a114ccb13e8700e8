#include "behaviortree_cpp/blackboard.h"

#include <iostream>

namespace BT {

std::shared_ptr<Blackboard::Entry> Blackboard::getEntry(const std::string& key) const {
  {
    std::lock_guard lock(storage_mutex_);
    const auto it = storage_.find(key);
    if (it != storage_.end()) {
      return it->second;
    }
  }
  const auto parent = parent_.lock();
  if (parent && autoremapping_ && key.rfind('_', 0) != 0) {
    return parent->getEntry(key);
  }
  return nullptr;
}

const TypeInfo* Blackboard::entryInfo(const std::string& key) const {
  const auto entry = getEntry(key);
  return entry ? &entry->info : nullptr;
}

void Blackboard::createEntry(const std::string& key, const TypeInfo& info) {
  createEntryImpl(key, info);
}

std::shared_ptr<Blackboard::Entry> Blackboard::createEntryImpl(const std::string& key,
                                                               const TypeInfo& info) {
  std::lock_guard lock(storage_mutex_);
  const auto it = storage_.find(key);
  if (it != storage_.end()) {
    const TypeInfo& previous = it->second->info;
    if (previous.type() != info.type() && previous.isStronglyTyped() && info.isStronglyTyped()) {
      throw LogicError("Blackboard entry [", key,
                       "]: once declared, the type of a port shall not change. Previously "
                       "declared type [",
                       demangle(previous.type()), "], current type [", demangle(info.type()), "]");
    }
    return it->second;
  }
  auto entry = std::make_shared<Entry>(info);
  entry->value = Any(info.type());
  storage_.emplace(key, entry);
  return entry;
}

void Blackboard::unset(const std::string& key) {
  std::lock_guard lock(storage_mutex_);
  storage_.erase(key);
}

std::vector<StringView> Blackboard::getKeys() const {
  std::lock_guard lock(storage_mutex_);
  std::vector<StringView> keys;
  keys.reserve(storage_.size());
  for (const auto& [key, entry] : storage_) {
    keys.emplace_back(key);
  }
  return keys;
}

void Blackboard::debugMessage() const {
  std::lock_guard lock(storage_mutex_);
  for (const auto& [key, entry] : storage_) {
    std::cout << key << " (" << demangle(entry->info.type()) << ")" << std::endl;
  }
}

void Blackboard::throwTypeChange(const std::string& key, const std::type_index& previous,
                                 const std::type_index& current) const {
  throw LogicError("Blackboard::set(", key,
                   "): once declared, the type of a port shall not change. Previously declared "
                   "type [",
                   demangle(previous), "], current type [", demangle(current), "]");
}

}  // namespace BT
