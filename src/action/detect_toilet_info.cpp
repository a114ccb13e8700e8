#include "kestrava_arm_behavior_tree/action/detect_toilet_info.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <stdexcept>
#include <unordered_map>
#include <utility>

#include <fmt/format.h>
#include <yaml-cpp/yaml.h>

#include "behaviortree_cpp/bt_factory.h"
#include "kestrava_arm_behavior_tree/common/utils.hpp"

namespace kestrava_arm::bt {
namespace {

constexpr const char* kDefaultToiletDataPath = "/opt/kestrava/toilet_data";
constexpr const char* kDefaultCameraFrameId = "camera_06_color_optical_frame";
constexpr const char* kDefaultTaskId = "default";
constexpr std::chrono::seconds kServiceWait{1};
constexpr std::size_t kTranslationValues = 3;
constexpr std::size_t kRotationValues = 4;

// Shared by every instance of the process, so that the waiting message is logged only once.
std::atomic<bool> first_wait{true};

using ArmPerceptionCommon = DetectToiletInfo::ArmPerceptionCommon;

// A string setting from the blackboard, or `fallback` when the entry is absent or holds nothing.
std::string ReadSetting(const BT::Blackboard& blackboard, const std::string& key,
                        const std::string& fallback) {
  std::string value;
  return blackboard.get(key, value) ? value : fallback;
}

struct TaskIdentity {
  std::string uid;
  std::string name;
};

// Takes "task_uid" and "task_name" from a task description such as "task_uid:42;task_name:bowl".
TaskIdentity ParseTaskInfo(const std::string& task_info) {
  std::unordered_map<std::string, std::string> taskcfg_map;
  GetNameValues(task_info, taskcfg_map);
  LOG_INFO("DetectToiletInfo onStart, task_info: {}, taskcfg_map: {}", task_info,
           taskcfg_map.size());
  TaskIdentity task;
  if (const auto uid = taskcfg_map.find("task_uid"); uid != taskcfg_map.end()) {
    task.uid = uid->second;
    LOG_INFO("DetectToiletInfo onStart, task_uid: {}", task.uid);
  }
  if (const auto name = taskcfg_map.find("task_name"); name != taskcfg_map.end()) {
    task.name = name->second;
    LOG_INFO("DetectToiletInfo onStart, task_name: {}", task.name);
  }
  return task;
}

std::string RequestDocument(const std::string& aruco_config_path, double time_out,
                            const std::string& camera_frame_id) {
  YAML::Node request;
  request["aruco_config_path"] = aruco_config_path;
  request["time_out"] = time_out;
  request["camera_frame_id"] = camera_frame_id;
  YAML::Emitter emitter;
  emitter << request;
  return emitter.c_str();
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

struct PoseMembers {
  std::vector<double>& rotation;
  std::vector<double>& translation;
  std::string& description;
};

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
void RequireArmCanActOn(const PoseMembers& pose, const char* block_name) {
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

// Replaces each member as soon as its value is converted, then logs the pose.
void ReadPoseBlock(const YAML::Node& block, const char* block_name, const char* side, PoseUse use,
                   PoseMembers pose) {
  pose.rotation = ReadPoseValues(block, block_name, "rotation", kRotationValues);
  pose.translation = ReadPoseValues(block, block_name, "translation", kTranslationValues);
  pose.description = block["description"].as<std::string>();
  if (use == PoseUse::kPublished) {
    RequireArmCanActOn(pose, block_name);
  }
  LOG_INFO("DetectToiletInfo {} translation: {}, {}, {}; rotation: {}, {}, {}, {}", side,
           pose.translation[0], pose.translation[1], pose.translation[2], pose.rotation[0],
           pose.rotation[1], pose.rotation[2], pose.rotation[3]);
}

// The response a completed future carries; null when it carries an error instead.
std::shared_ptr<ArmPerceptionCommon::Response> ResponseOf(
    const DetectToiletInfo::ResponseFuture& future) {
  try {
    return future.get();
  } catch (...) {
    return nullptr;
  }
}

}  // namespace

DetectToiletInfo::DetectToiletInfo(const std::string& name, const BT::NodeConfig& config)
    : BT::StatefulActionNode(name, config), callback_target_(std::make_shared<CallbackTarget>()) {
  callback_target_->node = this;
  LOG_INFO("DetectToiletInfo construct...");
  if (!config.blackboard->get(kSharedNodeKey, node_)) {
    LOG_ERROR("Failed to get node from blackboard.");
    return;
  }
  LOG_INFO("Succeed to get node from blackboard.");
  std::string service_name;
  if (!config.blackboard->get(kServiceNameKey, service_name)) {
    LOG_ERROR("Failed to get arm_perception_service from blackboard.");
    return;
  }
  client_ = node_->create_client<ArmPerceptionCommon>(service_name);
  LOG_INFO("toilet detect service name: {}.", service_name);
}

DetectToiletInfo::~DetectToiletInfo() {
  {
    // Waits for a callback that is running now; later ones find no node and drop their response.
    const std::lock_guard<std::mutex> lock(callback_target_->mutex);
    callback_target_->node = nullptr;
  }
  StopAwaitingResponse();
}

BT::PortsList DetectToiletInfo::providedPorts() {
  return {BT::InputPort<double>("timeout_duration"),
          BT::OutputPort<std::vector<double>>("transfor_matrix"),
          BT::OutputPort<std::string>("fix_trajectory"), BT::OutputPort<int>("error_code"),
          BT::OutputPort<int>("status_code")};
}

BT::NodeStatus DetectToiletInfo::onStart() {
  LOG_INFO("DetectToiletInfo started");
  {
    const std::lock_guard<std::mutex> lock(handoff_mutex_);
    StopAwaitingResponse();
    response_received_ = false;
  }
  timeout_duration_ = ReadTimeLimit();

  const BT::Blackboard& blackboard = *config().blackboard;
  const std::string toilet_data_path =
      ReadSetting(blackboard, kToiletDataPathKey, kDefaultToiletDataPath);
  TaskIdentity task;
  if (std::string task_info; blackboard.get(kTaskInfoKey, task_info)) {
    task = ParseTaskInfo(task_info);
  }
  if (task.uid.empty()) {
    task.uid = kDefaultTaskId;
  }
  if (task.name.empty()) {
    task.name = kDefaultTaskId;
  }
  const std::string task_dir = toilet_data_path + "/" + task.uid + "/";

  std::string aruco_config_path = ReadSetting(blackboard, kArucoConfigPathKey, "");
  if (aruco_config_path.empty()) {
    aruco_config_path = task_dir + "aruco_detection_config.yaml";
  }
  fix_trajectory_path_ = ReadSetting(blackboard, kFixTrajectoryPathKey, "");
  if (fix_trajectory_path_.empty()) {
    fix_trajectory_path_ = task_dir + task.name + ".txt";
  }
  const std::string camera_frame_id =
      ReadSetting(blackboard, kCameraFrameIdKey, kDefaultCameraFrameId);
  LOG_INFO("arm perception aruco_config_path: {}, fix_trajectory_path: {}", aruco_config_path,
           fix_trajectory_path_);

  auto request = std::make_shared<ArmPerceptionCommon::Request>();
  request->request_yaml = RequestDocument(aruco_config_path, timeout_duration_, camera_frame_id);
  LOG_INFO("arm perception request: {}", request->request_yaml);

  if (!client_ || !client_->wait_for_service(kServiceWait)) {
    return FailServiceUnavailable();
  }
  return SendRequest(std::move(request));
}

double DetectToiletInfo::ReadTimeLimit() const {
  constexpr const char* kExpected = "expected a time limit in milliseconds, or inf for none";
  const BT::Expected<double> limit = getInput<double>("timeout_duration");
  if (!limit) {
    throw BT::RuntimeError(
        fmt::format("DetectToiletInfo: input port \"timeout_duration\" cannot be read ({}); {}",
                    limit.error(), kExpected));
  }
  // Every comparison with NaN is false: the run would wait for ever for a dead service.
  if (std::isnan(*limit)) {
    throw BT::RuntimeError(fmt::format(
        "DetectToiletInfo: input port \"timeout_duration\" is {}; {}", *limit, kExpected));
  }
  return *limit;
}

BT::NodeStatus DetectToiletInfo::FailServiceUnavailable() {
  status_code_ = kStatusServiceUnavailable;
  LOG_ERROR("ErrorCode: {}, arm perception service not available", status_code_);
  setOutput<int>("status_code", status_code_);
  return BT::NodeStatus::FAILURE;
}

BT::NodeStatus DetectToiletInfo::SendRequest(
    std::shared_ptr<ArmPerceptionCommon::Request> request) {
  // Held until the future is stored, so that even an immediate answer finds it.
  const std::lock_guard<std::mutex> lock(handoff_mutex_);
  start_time_ = std::chrono::steady_clock::now();
  auto sent = client_->async_send_request(
      std::move(request), [target = callback_target_](ResponseFuture future) {
        const std::lock_guard<std::mutex> target_lock(target->mutex);
        if (target->node == nullptr) {
          LOG_INFO("DetectToiletInfo dropped a perception response: its node no longer exists");
          return;
        }
        target->node->ToiletInfoCallback(std::move(future));
      });
  awaited_request_ = AwaitedRequest{std::move(sent.future), sent.request_id};
  return BT::NodeStatus::RUNNING;
}

// NOLINTNEXTLINE(performance-unnecessary-value-param): the client's callback signature
void DetectToiletInfo::ToiletInfoCallback(ResponseFuture future) {
  {
    const std::lock_guard<std::mutex> lock(handoff_mutex_);
    if (!AwaitsResponseTo(future)) {
      LOG_INFO("DetectToiletInfo dropped a perception response that answers no pending request");
      return;
    }
    try {
      HandleResponse(future);
    } catch (const std::exception& e) {
      LOG_ERROR("Exception in ToiletInfoCallback: {}", e.what());
      error_code_ = kErrorBadResponse;
    }
    response_received_ = true;
  }
  // A host that sleeps between ticks in Tree::sleep ticks again now, not when its sleep ends.
  emitWakeUpSignal();
}

void DetectToiletInfo::HandleResponse(const ResponseFuture& future) {
  const auto& response = future.get();
  if (!response) {
    throw std::runtime_error("empty response");
  }
  const std::string response_yaml = response->response_yaml;
  LOG_INFO("arm perception info:\n{}", response_yaml);
  const YAML::Node document = YAML::Load(response_yaml);
  if (!document["success"].as<bool>()) {
    error_code_ = kErrorNoDetection;
    return;
  }
  error_code_ = kErrorNone;
  if (const YAML::Node arm = document["arm_base_end"]; arm.IsDefined()) {
    ReadPoseBlock(arm, "arm_base_end", "arm", PoseUse::kPublished,
                  {arm_rotation_, arm_translation_, arm_description_});
  } else {
    error_code_ = kErrorNoDetection;
  }
  if (const YAML::Node cam = document["camera_end"]; cam.IsDefined()) {
    ReadPoseBlock(cam, "camera_end", "cam", PoseUse::kLogged,
                  {cam_rotation_, cam_translation_, cam_description_});
  }
}

BT::NodeStatus DetectToiletInfo::onRunning() {
  LOG_INFO("DetectToiletInfo running!");
  const std::lock_guard<std::mutex> lock(handoff_mutex_);
  if (response_received_ == true) {
    return FinishWithResponse();
  }
  if (ElapsedWholeMilliseconds() > timeout_duration_) {
    return FinishWithTimeout();
  }
  if (first_wait.exchange(false)) {
    LOG_INFO("waiting toilet clean process to complete...");
  }
  return BT::NodeStatus::RUNNING;
}

BT::NodeStatus DetectToiletInfo::FinishWithResponse() {
  response_received_.reset();
  StopAwaitingResponse();
  LOG_INFO("{}arm perception detect toilet cost {:.4f} ms{}", BOLD_MAGENTA,
           ElapsedWholeMilliseconds(), RESET);
  if (error_code_ != kErrorNone) {
    status_code_ = kStatusDetectionFailed;
    setOutput<int>("error_code", error_code_);
    setOutput<int>("status_code", status_code_);
    return BT::NodeStatus::FAILURE;
  }
  status_code_ = kStatusSucceeded;
  std::vector<double> transfor_matrix = arm_translation_;
  transfor_matrix.insert(transfor_matrix.end(), arm_rotation_.begin(), arm_rotation_.end());
  setOutput<std::vector<double>>("transfor_matrix", transfor_matrix);
  setOutput<std::string>("fix_trajectory", fix_trajectory_path_);
  setOutput<int>("error_code", error_code_);
  setOutput<int>("status_code", status_code_);
  return BT::NodeStatus::SUCCESS;
}

BT::NodeStatus DetectToiletInfo::FinishWithTimeout() {
  StopAwaitingResponse();
  status_code_ = kStatusTimeout;
  LOG_ERROR("ErrorCode: {}, toilet clean service process timeout", status_code_);
  setOutput<int>("status_code", status_code_);
  return BT::NodeStatus::FAILURE;
}

void DetectToiletInfo::onHalted() {
  LOG_INFO("DetectToiletInfo halted");
  const std::lock_guard<std::mutex> lock(handoff_mutex_);
  StopAwaitingResponse();
}

bool DetectToiletInfo::AwaitsResponseTo(const ResponseFuture& future) const {
  // The callback of a request sees the same completed response as the future its send
  // returned; a response of an earlier request carries a different one.
  return awaited_request_ && response_received_ == false &&
         awaited_request_->response.wait_for(std::chrono::seconds(0)) ==
             std::future_status::ready &&
         ResponseOf(awaited_request_->response) == ResponseOf(future);
}

void DetectToiletInfo::StopAwaitingResponse() {
  if (!awaited_request_) {
    return;
  }
  // The client keeps a request with its callback until an answer comes, which a service that
  // crashed or dropped the request never sends; once removed, a late answer calls nothing.
  client_->remove_pending_request(awaited_request_->id);
  awaited_request_.reset();
}

double DetectToiletInfo::ElapsedWholeMilliseconds() const {
  const auto elapsed = std::chrono::steady_clock::now() - start_time_;
  return static_cast<double>(
      std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

}  // namespace kestrava_arm::bt

BT_REGISTER_NODES(factory) {
  factory.registerNodeType<kestrava_arm::bt::DetectToiletInfo>("DetectToiletInfo");
}
