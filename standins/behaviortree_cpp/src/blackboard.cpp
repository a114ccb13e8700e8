#include "behaviortree_cpp/blackboard.h"

#include <iostream>
#include <utility>

namespace BT {

namespace {

bool isRootKey(const std::string& key) {
  return !key.empty() && key.front() == '@';
}

// Private keys stay in their SubTree even with automatic remapping.
bool isPrivateKey(const std::string& key) {
  return !key.empty() && key.front() == '_';
}

}  // namespace

Blackboard* Blackboard::rootBlackboard() {
  return const_cast<Blackboard*>(std::as_const(*this).rootBlackboard());
}

const Blackboard* Blackboard::rootBlackboard() const {
  const Blackboard* root = this;
  for (auto parent = parent_.lock(); parent; parent = parent->parent_.lock()) {
    root = parent.get();
  }
  return root;
}

void Blackboard::addSubtreeRemapping(StringView internal, StringView external) {
  internal_to_external_.emplace(std::string(internal), std::string(external));
}

std::shared_ptr<Blackboard::Entry> Blackboard::getEntry(const std::string& key) const {
  if (isRootKey(key)) {
    return rootBlackboard()->getEntry(key.substr(1));
  }
  {
    std::lock_guard lock(storage_mutex_);
    const auto it = storage_.find(key);
    if (it != storage_.end()) {
      return it->second;
    }
  }
  const auto parent = parent_.lock();
  if (!parent) {
    return nullptr;
  }
  const auto remapped = internal_to_external_.find(key);
  if (remapped != internal_to_external_.end()) {
    return parent->getEntry(remapped->second);
  }
  if (autoremapping_ && !isPrivateKey(key)) {
    return parent->getEntry(key);
  }
  return nullptr;
}

const TypeInfo* Blackboard::entryInfo(const std::string& key) const {
  const auto entry = getEntry(key);
  return entry ? &entry->info : nullptr;
}

void Blackboard::createEntry(const std::string& key, const TypeInfo& info) {
  if (!isRootKey(key)) {
    createEntryImpl(key, info);
    return;
  }
  if (key.find('@', 1) != std::string::npos) {
    throw LogicError("Character '@' used multiple times in the key");
  }
  rootBlackboard()->createEntryImpl(key.substr(1), info);
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
  const auto remapped = internal_to_external_.find(key);
  if (remapped != internal_to_external_.end()) {
    return checkedParent()->createEntryImpl(remapped->second, info);
  }
  if (autoremapping_ && !isPrivateKey(key)) {
    return checkedParent()->createEntryImpl(key, info);
  }
  auto entry = std::make_shared<Entry>(info);
  entry->value = Any(info.type());
  storage_.emplace(key, entry);
  return entry;
}

Blackboard::Ptr Blackboard::checkedParent() const {
  if (auto parent = parent_.lock()) {
    return parent;
  }
  throw RuntimeError("Missing parent blackboard");
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
