#pragma once

#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>

#include "behaviortree_cpp/bt_factory.h"

namespace bt_test {

// "<exception kind>: <what()>" for what `action` throws, "none" if it returns; the kind pins
// the dynamic type callers can catch, the text pins the message.
inline std::string thrownText(const std::function<void()>& action) {
  try {
    action();
  } catch (const BT::NodeExecutionError& error) {
    return std::string("NodeExecutionError: ") + error.what();
  } catch (const BT::LogicError& error) {
    return std::string("LogicError: ") + error.what();
  } catch (const BT::RuntimeError& error) {
    return std::string("RuntimeError: ") + error.what();
  } catch (const BT::BehaviorTreeException& error) {
    return std::string("BehaviorTreeException: ") + error.what();
  } catch (const std::filesystem::filesystem_error& error) {
    return std::string("std::filesystem::filesystem_error: ") + error.what();
  } catch (const std::runtime_error& error) {
    return std::string("std::runtime_error: ") + error.what();
  } catch (const std::exception& error) {
    return std::string("std::exception: ") + error.what();
  }
  return "none";
}

// A document with one tree whose only child of a Sequence is `node`.
inline std::string treeXml(const std::string& node) {
  return "<root BTCPP_format=\"4\"><BehaviorTree ID=\"T\"><Sequence>" + node +
         "</Sequence></BehaviorTree></root>";
}

}  // namespace bt_test
