// Any task settings and time limit, given to the request writer alone: the request must be a
// YAML document that reads back as exactly "aruco_config_path", "time_out" and "camera_frame_id",
// in this order, holding the values the settings imply, and that the request check accepts; the
// fixed-trajectory path must be the one the settings imply, and the task description must split
// as name:value pairs do.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include <fmt/format.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <yaml-cpp/yaml.h>

#include "fuzz_checks.hpp"
#include "kestrava_arm_behavior_tree/common/string_helpers.hpp"
#include "kestrava_arm_behavior_tree/contract/perception_contract.hpp"

namespace {

using namespace kestrava_arm::bt::fuzzing;
using NameValues = std::unordered_map<std::string, std::string>;

using kestrava_arm::bt::TaskSettings;

constexpr std::size_t kMaxSettingLength = 256;

struct Settings {
  double time_limit = 0;
  TaskSettings task;
};

using Setting = std::optional<std::string> TaskSettings::*;
constexpr Setting kSettings[] = {
    &TaskSettings::toilet_data_path, &TaskSettings::task_info, &TaskSettings::aruco_config_path,
    &TaskSettings::fix_trajectory_path, &TaskSettings::camera_frame_id};

// The length of the UTF-8 sequence at `at` when it is well formed and encodes a character, not
// one of Unicode's noncharacters (which yaml-cpp 0.7 replaces by U+FFFD in quoted values); 0
// otherwise.
std::size_t Utf8SequenceAt(const std::string& text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  const std::size_t length = lead < 0x80   ? 1
                             : lead < 0xC2 ? 0
                             : lead < 0xE0 ? 2
                             : lead < 0xF0 ? 3
                             : lead < 0xF5 ? 4
                                           : 0;
  if (length == 0 || at + length > text.size()) {
    return 0;
  }
  char32_t code_point = length == 1 ? lead : lead & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) {
      return 0;
    }
    code_point = (code_point << 6) | (byte(at + i) & 0x3F);
  }
  constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  const bool well_formed = code_point >= kSmallest[length] && code_point <= 0x10FFFF &&
                           !(code_point >= 0xD800 && code_point <= 0xDFFF);
  const bool noncharacter =
      (code_point >= 0xFDD0 && code_point <= 0xFDEF) || (code_point & 0xFFFE) == 0xFFFE;
  return well_formed && !noncharacter ? length : 0;
}

// YAML is Unicode text: bytes that are no UTF-8 cannot travel in the request, so the settings
// a host can send are UTF-8 text; any other byte becomes a '?'.
std::string AsUtf8(std::string text) {
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = Utf8SequenceAt(text, at);
    if (length == 0) {
      text[at++] = '?';
    } else {
      at += length;
    }
  }
  return text;
}

Settings ConsumeSettings(FuzzedDataProvider& input) {
  Settings settings;
  const auto bits = input.ConsumeIntegral<std::uint64_t>();
  std::memcpy(&settings.time_limit, &bits, sizeof bits);  // every double, NaN and infinities too
  for (const Setting setting : kSettings) {
    if (input.ConsumeBool()) {
      settings.task.*setting = AsUtf8(input.ConsumeRandomLengthString(kMaxSettingLength));
    }
  }
  // A known limit of yaml-cpp 0.7, outside the node: its emitter writes a value that ends in a
  // carriage return unquoted, and its reader takes that CR and the line end after it for one
  // line break. Only the first line can end so; kept out so that the fuzzer looks further.
  if (auto& aruco = settings.task.aruco_config_path) {
    while (!aruco->empty() && aruco->back() == '\r') {
      aruco->pop_back();
    }
  }
  return settings;
}

// The trimming and splitting rules, restated character by character.
bool IsBlank(char c) {
  return c == ' ' || c == '\n' || c == '\r' || c == '\t';
}

std::string Trimmed(std::string text) {
  while (!text.empty() && IsBlank(text.back())) {
    text.pop_back();
  }
  std::size_t first = 0;
  while (first < text.size() && IsBlank(text[first])) {
    ++first;
  }
  return text.substr(first);
}

NameValues ExpectedNameValues(const std::string& text) {
  NameValues pairs;
  std::string entry;
  const auto take_entry = [&] {
    if (const auto colon = entry.find(':'); colon != std::string::npos) {
      pairs[Trimmed(entry.substr(0, colon))] = Trimmed(entry.substr(colon + 1));
    }
    entry.clear();
  };
  for (const char c : text) {
    if (c == ';') {
      take_entry();
    } else {
      entry += c;
    }
  }
  take_entry();
  return pairs;
}

void CheckHelpers(const std::string& text) {
  if (kestrava_arm::bt::TrimStr(text) != Trimmed(text)) {
    Fail(fmt::format("TrimStr({:?}) gave {:?}", text, kestrava_arm::bt::TrimStr(text)));
  }
  NameValues pairs;
  const auto count = kestrava_arm::bt::GetNameValues(text, pairs);
  if (pairs != ExpectedNameValues(text) || count < 0 ||
      static_cast<std::size_t>(count) != pairs.size()) {
    Fail(fmt::format("GetNameValues({:?}) gave {} entries, counted {}", text, pairs.size(), count));
  }
}

struct ExpectedRun {
  std::string aruco_config_path;
  std::string camera_frame_id;
  std::string fix_trajectory;
};

std::string ValueOrDefault(const std::optional<std::string>& value, const std::string& fallback) {
  return value && !value->empty() ? *value : fallback;
}

ExpectedRun ExpectedFrom(const TaskSettings& settings) {
  const std::string data_path = settings.toilet_data_path.value_or("/opt/kestrava/toilet_data");
  const NameValues task = ExpectedNameValues(settings.task_info.value_or(""));
  const auto identifier = [&](const char* name) {
    const auto found = task.find(name);
    return found == task.end() || found->second.empty() ? std::string("default") : found->second;
  };
  const std::string task_dir = data_path + "/" + identifier("task_uid") + "/";
  return {
      ValueOrDefault(settings.aruco_config_path, task_dir + "aruco_detection_config.yaml"),
      settings.camera_frame_id.value_or("camera_06_color_optical_frame"),
      ValueOrDefault(settings.fix_trajectory_path, task_dir + identifier("task_name") + ".txt")};
}

bool SameDouble(double a, double b) {
  return (std::isnan(a) && std::isnan(b)) || (a == b && std::signbit(a) == std::signbit(b));
}

void CheckRequest(const std::string& request_yaml, const Settings& settings,
                  const ExpectedRun& expected) {
  try {
    const YAML::Node request = YAML::Load(request_yaml);
    std::vector<std::string> keys;
    for (const auto& entry : request) {
      keys.push_back(entry.first.as<std::string>());
    }
    const std::vector<std::string> expected_keys{"aruco_config_path", "time_out",
                                                 "camera_frame_id"};
    if (keys != expected_keys ||
        request["aruco_config_path"].as<std::string>() != expected.aruco_config_path ||
        !SameDouble(request["time_out"].as<double>(), settings.time_limit) ||
        request["camera_frame_id"].as<std::string>() != expected.camera_frame_id) {
      Fail(fmt::format("request {:?} does not hold [{:?}, {}, {:?}]", request_yaml,
                       expected.aruco_config_path, settings.time_limit, expected.camera_frame_id));
    }
  } catch (const YAML::Exception& e) {
    Fail(fmt::format("request {:?} does not read back: {}", request_yaml, e.what()));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const Settings settings = ConsumeSettings(input);
  for (const Setting setting : kSettings) {
    CheckHelpers((settings.task.*setting).value_or(""));
  }
  const ExpectedRun expected = ExpectedFrom(settings.task);
  const kestrava_arm::bt::PerceptionRequest request =
      kestrava_arm::bt::WritePerceptionRequest(settings.task, settings.time_limit);
  CheckRequest(request.request_yaml, settings, expected);
  if (const auto complaint = kestrava_arm::bt::CheckRequestDocument(request.request_yaml)) {
    Fail(fmt::format("the request check refuses {:?}: {}", request.request_yaml, *complaint));
  }
  if (request.aruco_config_path != expected.aruco_config_path ||
      request.fix_trajectory_path != expected.fix_trajectory) {
    Fail(fmt::format("paths {:?} and {:?}, expected {:?} and {:?}", request.aruco_config_path,
                     request.fix_trajectory_path, expected.aruco_config_path,
                     expected.fix_trajectory));
  }
  return 0;
}
