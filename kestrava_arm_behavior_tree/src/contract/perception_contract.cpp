#include "kestrava_arm_behavior_tree/contract/perception_contract.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <stdexcept>
#include <unordered_map>

#include <fmt/format.h>
#include <fmt/ranges.h>
#include <yaml-cpp/yaml.h>

#include "kestrava_arm_behavior_tree/common/string_helpers.hpp"

namespace kestrava_arm::bt {
namespace {

constexpr const char* kDefaultToiletDataPath = "/opt/kestrava/toilet_data";
constexpr const char* kDefaultCameraFrameId = "camera_06_color_optical_frame";
constexpr const char* kDefaultTaskId = "default";
constexpr std::size_t kTranslationValues = 3;
constexpr std::size_t kRotationValues = 4;

constexpr std::array<const char*, 3> kRequestKeys{"aruco_config_path", "time_out",
                                                  "camera_frame_id"};

std::string IdOrDefault(const std::optional<std::string>& id) {
  return id && !id->empty() ? *id : kDefaultTaskId;
}

// A path setting that is absent or empty gives way to the derived path.
std::string PathOrDerived(const std::optional<std::string>& path, const std::string& derived) {
  return path && !path->empty() ? *path : derived;
}

std::string RequestDocument(const std::string& aruco_config_path, double time_out,
                            const std::string& camera_frame_id) {
  YAML::Node request;
  request[kRequestKeys[0]] = aruco_config_path;
  request[kRequestKeys[1]] = time_out;
  request[kRequestKeys[2]] = camera_frame_id;
  YAML::Emitter emitter;
  emitter << request;
  return emitter.c_str();
}

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
  const std::array<Expectation, 3> expectations{{{kRequestKeys[0], IsText, "a text"},
                                                 {kRequestKeys[1], IsNumber, "a number"},
                                                 {kRequestKeys[2], IsText, "a text"}}};
  for (const Expectation& expected : expectations) {
    if (!expected.holds(request[expected.key])) {
      return fmt::format("\"{}\" is not {}", expected.key, expected.kind);
    }
  }
  return std::nullopt;
}

// A list of numbers of a pose block; fewer than `min_count` values make the answer malformed.
std::vector<double> ReadPoseValues(const YAML::Node& block, const char* block_name, const char* key,
                                   std::size_t min_count) {
  auto values = block[key].as<std::vector<double>>();
  if (values.size() < min_count) {
    throw std::runtime_error(fmt::format("{}: \"{}\" has {} values, at least {} expected",
                                         block_name, key, values.size(), min_count));
  }
  return values;
}

void RequireFiniteValues(const std::vector<double>& values, const char* block_name,
                         const char* key) {
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (!std::isfinite(values[i])) {
      throw std::runtime_error(fmt::format("{}: \"{}\" value {} is {}, a finite number expected",
                                           block_name, key, i, values[i]));
    }
  }
}

// The arm is sent every value of the pose: one that is not finite, or a quaternion of four
// zeros, which cannot be normalised to a rotation, makes the answer malformed.
void RequireArmCanActOn(const PerceptionPose& pose, const char* block_name) {
  RequireFiniteValues(pose.translation, block_name, "translation");
  RequireFiniteValues(pose.rotation, block_name, "rotation");
  const auto quaternion_end = pose.rotation.begin() + kRotationValues;
  if (std::all_of(pose.rotation.begin(), quaternion_end, [](double v) { return v == 0.0; })) {
    throw std::runtime_error(fmt::format(
        "{}: \"rotation\" values 0 to {} are all zero, a quaternion of non-zero length expected",
        block_name, kRotationValues - 1));
  }
}

// What a pose block is read for: only a published pose must be one the arm can act on.
enum class PoseUse { kLogged, kPublished };

// The keys are read in the order rotation, translation, description: the first one that fails
// names the refusal.
PerceptionPose ReadPoseBlock(const YAML::Node& block, const char* block_name, PoseUse use) {
  PerceptionPose pose;
  pose.rotation = ReadPoseValues(block, block_name, "rotation", kRotationValues);
  pose.translation = ReadPoseValues(block, block_name, "translation", kTranslationValues);
  pose.description = block["description"].as<std::string>();
  if (use == PoseUse::kPublished) {
    RequireArmCanActOn(pose, block_name);
  }
  return pose;
}

// Fills `answer` block by block, so that a refusal keeps the blocks read before it.
void ReadAnswerInto(const std::string& response_yaml, PerceptionAnswer& answer) {
  const YAML::Node document = YAML::Load(response_yaml);
  answer.success = document["success"].as<bool>();
  if (!*answer.success) {
    answer.error_code = kErrorNoDetection;
    return;
  }
  answer.error_code = kErrorNone;
  if (const YAML::Node arm = document["arm_base_end"]; arm.IsDefined()) {
    answer.arm = ReadPoseBlock(arm, "arm_base_end", PoseUse::kPublished);
  } else {
    answer.error_code = kErrorNoDetection;
  }
  if (const YAML::Node cam = document["camera_end"]; cam.IsDefined()) {
    answer.camera = ReadPoseBlock(cam, "camera_end", PoseUse::kLogged);
  }
}

// An answer without a detection has a reason of its own; a refused one, what its reader found.
std::string ReasonForRefusing(const PerceptionAnswer& answer) {
  if (answer.error_code == kErrorNoDetection) {
    return answer.success == false ? R"("success" is false: the service detected nothing)"
                                   : R"("success" is true but "arm_base_end" is missing)";
  }
  return answer.refusal;
}

}  // namespace

TaskIdentity ReadTaskIdentity(const std::string& task_info) {
  std::unordered_map<std::string, std::string> taskcfg_map;
  GetNameValues(task_info, taskcfg_map);
  TaskIdentity task;
  task.pairs = taskcfg_map.size();
  if (const auto uid = taskcfg_map.find("task_uid"); uid != taskcfg_map.end()) {
    task.uid = uid->second;
  }
  if (const auto name = taskcfg_map.find("task_name"); name != taskcfg_map.end()) {
    task.name = name->second;
  }
  return task;
}

PerceptionRequest WritePerceptionRequest(const TaskSettings& settings, double time_limit_ms) {
  const TaskIdentity task =
      settings.task_info ? ReadTaskIdentity(*settings.task_info) : TaskIdentity{};
  const std::string task_dir = settings.toilet_data_path.value_or(kDefaultToiletDataPath) + "/" +
                               IdOrDefault(task.uid) + "/";
  PerceptionRequest request;
  request.aruco_config_path =
      PathOrDerived(settings.aruco_config_path, task_dir + "aruco_detection_config.yaml");
  request.fix_trajectory_path =
      PathOrDerived(settings.fix_trajectory_path, task_dir + IdOrDefault(task.name) + ".txt");
  // Unlike the paths, an empty camera frame id is sent as it is.
  request.request_yaml = RequestDocument(request.aruco_config_path, time_limit_ms,
                                         settings.camera_frame_id.value_or(kDefaultCameraFrameId));
  return request;
}

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
  if (!std::equal(keys.begin(), keys.end(), kRequestKeys.begin(), kRequestKeys.end())) {
    return fmt::format("keys are [{}], expected [{}] in this order", fmt::join(keys, ", "),
                       fmt::join(kRequestKeys, ", "));
  }
  return CheckValueTypes(request);
}

PerceptionAnswer ReadPerceptionAnswer(const std::string& response_yaml) {
  PerceptionAnswer answer;
  try {
    ReadAnswerInto(response_yaml, answer);
  } catch (const std::exception& error) {
    answer.error_code = kErrorBadResponse;
    answer.refusal = error.what();
  }
  return answer;
}

RunOutcome OutcomeOf(const PerceptionAnswer& answer) {
  RunOutcome outcome;
  outcome.error_code = answer.error_code;
  outcome.succeeded = answer.error_code == kErrorNone;
  outcome.status_code = outcome.succeeded ? kStatusSucceeded : kStatusDetectionFailed;
  if (outcome.succeeded) {
    outcome.transfor_matrix = answer.arm->translation;
    outcome.transfor_matrix.insert(outcome.transfor_matrix.end(), answer.arm->rotation.begin(),
                                   answer.arm->rotation.end());
  } else {
    outcome.reason = ReasonForRefusing(answer);
  }
  return outcome;
}

RunOutcome JudgeAnswer(const std::string& response_yaml) {
  return OutcomeOf(ReadPerceptionAnswer(response_yaml));
}

const char* EndOf(const RunOutcome& outcome) {
  return outcome.succeeded ? "SUCCESS" : "FAILURE";
}

}  // namespace kestrava_arm::bt
