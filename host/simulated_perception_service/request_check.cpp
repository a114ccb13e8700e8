#include "kestrava_arm_host/request_check.hpp"

#include <array>
#include <vector>

#include <fmt/format.h>
#include <fmt/ranges.h>
#include <yaml-cpp/yaml.h>

namespace kestrava_arm::host {
namespace {

const std::vector<std::string> kRequestKeys{"aruco_config_path", "time_out", "camera_frame_id"};

bool IsText(const YAML::Node& value) {
  return value.IsScalar();
}

bool IsNumber(const YAML::Node& value) {
  double number = 0.0;
  return value.IsScalar() && YAML::convert<double>::decode(value, number);
}

std::vector<std::string> KeysInOrder(const YAML::Node& map) {
  std::vector<std::string> keys;
  for (const auto& entry : map) {
    keys.push_back(entry.first.Scalar());
  }
  return keys;
}

std::optional<std::string> CheckValueTypes(const YAML::Node& request) {
  struct Expectation {
    const char* key;
    bool (*holds)(const YAML::Node&);
    const char* kind;
  };
  const std::array<Expectation, 3> expectations{{{"aruco_config_path", IsText, "a text"},
                                                 {"time_out", IsNumber, "a number"},
                                                 {"camera_frame_id", IsText, "a text"}}};
  for (const Expectation& expected : expectations) {
    if (!expected.holds(request[expected.key])) {
      return fmt::format("\"{}\" is not {}", expected.key, expected.kind);
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> CheckRequestDocument(const std::string& request_yaml) {
  YAML::Node request;
  try {
    request = YAML::Load(request_yaml);
  } catch (const YAML::Exception& error) {
    return fmt::format("not a YAML document: {}", error.what());
  }
  if (!request.IsMap()) {
    return std::string("not a YAML map");
  }
  const std::vector<std::string> keys = KeysInOrder(request);
  if (keys != kRequestKeys) {
    return fmt::format("keys are [{}], expected [{}] in this order", fmt::join(keys, ", "),
                       fmt::join(kRequestKeys, ", "));
  }
  return CheckValueTypes(request);
}

}  // namespace kestrava_arm::host
