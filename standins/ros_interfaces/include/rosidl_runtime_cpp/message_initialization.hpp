#pragma once

#include <memory>

namespace rosidl_runtime_cpp {

// How a generated message constructor fills its fields.
enum class MessageInitialization {
  ALL,            // IDL defaults, everything else zero
  SKIP,           // leave numbers uninitialised
  ZERO,           // zero everything, ignoring IDL defaults
  DEFAULTS_ONLY,  // only the fields with IDL defaults
};

}  // namespace rosidl_runtime_cpp

namespace rosidl_standin {

// The pointer aliases every generated message type carries.
template <class Message>
struct MessagePointers {
  using RawPtr = Message*;
  using ConstRawPtr = const Message*;
  using SharedPtr = std::shared_ptr<Message>;
  using ConstSharedPtr = std::shared_ptr<const Message>;
  using UniquePtr = std::unique_ptr<Message>;
  using ConstUniquePtr = std::unique_ptr<const Message>;
  using WeakPtr = std::weak_ptr<Message>;
  using ConstWeakPtr = std::weak_ptr<const Message>;
};

}  // namespace rosidl_standin
