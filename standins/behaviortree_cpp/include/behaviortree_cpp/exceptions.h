#pragma once

#include <exception>
#include <string>
#include <string_view>

namespace BT {

// Deliberately derived from std::exception only: callers that catch std::runtime_error or
// std::logic_error must not see these.
class BehaviorTreeException : public std::exception {
 public:
  template <typename... Pieces>
  explicit BehaviorTreeException(const Pieces&... pieces) {
    (message_.append(std::string_view(pieces)), ...);
  }

  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

// Errors that a correct program never triggers.
class LogicError : public BehaviorTreeException {
 public:
  using BehaviorTreeException::BehaviorTreeException;
};

// Errors that depend on input or environment.
class RuntimeError : public BehaviorTreeException {
 public:
  using BehaviorTreeException::BehaviorTreeException;
};

struct TickBacktraceEntry {
  std::string node_name;
  std::string node_path;
  std::string registration_name;
};

// What escapes a node's tick(), tagged with the node it came from.
class NodeExecutionError : public RuntimeError {
 public:
  NodeExecutionError(TickBacktraceEntry failed_node, const std::string& original_message)
      : RuntimeError("Exception in node '", failed_node.node_path, "' [",
                     failed_node.registration_name, "]: ", original_message),
        failed_node_(std::move(failed_node)),
        original_message_(original_message) {}

  const TickBacktraceEntry& failedNode() const { return failed_node_; }
  const std::string& originalMessage() const { return original_message_; }

 private:
  TickBacktraceEntry failed_node_;
  std::string original_message_;
};

}  // namespace BT
