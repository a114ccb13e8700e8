#include "kestrava_arm_behavior_tree/action/detect_toilet_info.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <exception>
#include <optional>
#include <string_view>
#include <utility>

#include <fmt/format.h>

#include "behaviortree_cpp/bt_factory.h"
#include "kestrava_arm_behavior_tree/common/service_introspection.hpp"
#include "kestrava_arm_behavior_tree/common/utils.hpp"

namespace kestrava_arm::bt {
namespace {

constexpr std::chrono::seconds kServiceWait{1};

// Shared by every instance of the process, so that the waiting message is logged only once.
std::atomic<bool> first_wait{true};

using ArmPerceptionCommon = DetectToiletInfo::ArmPerceptionCommon;

enum class EntryPlace { kNowhere, kOwnBlackboard, kRootBlackboard };

// The node's own blackboard first, so that a local entry or a SubTree's remapping wins; then the
// root blackboard, where the host put its entries and which a SubTree that remaps nothing hides.
template <typename T>
EntryPlace ReadEntry(const BT::Blackboard& blackboard, const char* key, T& value) {
  if (blackboard.get(key, value)) {
    return EntryPlace::kOwnBlackboard;
  }
  const BT::Blackboard* root = blackboard.rootBlackboard();
  if (root != &blackboard && root->get(key, value)) {
    return EntryPlace::kRootBlackboard;
  }
  return EntryPlace::kNowhere;
}

bool InSubTree(const BT::Blackboard& blackboard) {
  return blackboard.rootBlackboard() != &blackboard;
}

// Where the shared node came from, said only when it is not the host's entry of a flat tree.
std::string SharedNodeOrigin(const char* key, EntryPlace place) {
  if (std::string_view(key) == kSharedNodeKey && place == EntryPlace::kOwnBlackboard) {
    return "";
  }
  return fmt::format(" (entry {} of the {} blackboard)", key,
                     place == EntryPlace::kOwnBlackboard ? "node's" : "root");
}

// What a SubTree's node adds to a missing entry's error: where it looked.
std::string WhereLookedFor(const BT::Blackboard& blackboard, const std::string& keys) {
  if (!InSubTree(blackboard)) {
    return "";
  }
  return fmt::format(" Looked for {} on the SubTree's blackboard and on the root blackboard.",
                     keys);
}

// A string setting from the blackboard; nothing when the entry is absent or holds nothing.
std::optional<std::string> ReadSetting(const BT::Blackboard& blackboard, const char* key) {
  std::string value;
  if (ReadEntry(blackboard, key, value) != EntryPlace::kNowhere) {
    return value;
  }
  return std::nullopt;
}

// The refusal of the introspection entry: the node then has no client, so that every run ends
// as the service-unavailable status says, never silently without the events asked for.
void RefuseIntrospection(const std::string& text, const std::string& reason) {
  LOG_ERROR("Refused blackboard entry {} \"{}\": {}; every run fails with {}.", kIntrospectionKey,
            text, reason, kStatusServiceUnavailable);
}

// The service events the host asked for: none when the entry is absent; nothing, with the reason
// logged, for a text that names no mode or a mode this build cannot do.
std::optional<IntrospectionMode> ReadIntrospection(const BT::Blackboard& blackboard) {
  std::string text;
  if (ReadEntry(blackboard, kIntrospectionKey, text) == EntryPlace::kNowhere) {
    return IntrospectionMode::kOff;
  }
  const std::optional<IntrospectionMode> mode = ParseIntrospectionMode(text);
  if (!mode) {
    RefuseIntrospection(text, "expected off, metadata or contents");
    return std::nullopt;
  }
  const std::optional<std::string> unsupported = IntrospectionUnsupported();
  if (*mode != IntrospectionMode::kOff && unsupported) {
    RefuseIntrospection(text, *unsupported);
    return std::nullopt;
  }
  return mode;
}

// False, with the reason logged, when the middleware refuses the events' publisher (an SROS2
// policy without the permission, say).
bool PublishServiceEvents(rclcpp::Client<ArmPerceptionCommon>& client, rclcpp::Node& node,
                          IntrospectionMode mode) {
  const char* const name = IntrospectionModeName(mode);
  try {
    ConfigureIntrospection(client, node, mode);
  } catch (const std::exception& error) {
    RefuseIntrospection(name, error.what());
    return false;
  }
  LOG_INFO("DetectToiletInfo publishes the {} of its service events on {}/_service_event.", name,
           client.get_service_name());
  return true;
}

void LogTaskIdentity(const std::string& task_info) {
  const TaskIdentity task = ReadTaskIdentity(task_info);
  LOG_INFO("DetectToiletInfo onStart, task_info: {}, taskcfg_map: {}", task_info, task.pairs);
  if (task.uid) {
    LOG_INFO("DetectToiletInfo onStart, task_uid: {}", *task.uid);
  }
  if (task.name) {
    LOG_INFO("DetectToiletInfo onStart, task_name: {}", *task.name);
  }
}

// The settings in the order a run has always read them, the task description logged as soon as
// it is read.
TaskSettings ReadTaskSettings(const BT::Blackboard& blackboard) {
  TaskSettings settings;
  settings.toilet_data_path = ReadSetting(blackboard, kToiletDataPathKey);
  settings.task_info = ReadSetting(blackboard, kTaskInfoKey);
  if (settings.task_info) {
    LogTaskIdentity(*settings.task_info);
  }
  settings.aruco_config_path = ReadSetting(blackboard, kArucoConfigPathKey);
  settings.fix_trajectory_path = ReadSetting(blackboard, kFixTrajectoryPathKey);
  settings.camera_frame_id = ReadSetting(blackboard, kCameraFrameIdKey);
  return settings;
}

void LogPose(const PerceptionPose& pose, const char* side) {
  LOG_INFO("DetectToiletInfo {} translation: {}, {}, {}; rotation: {}, {}, {}, {}", side,
           pose.translation[0], pose.translation[1], pose.translation[2], pose.rotation[0],
           pose.rotation[1], pose.rotation[2], pose.rotation[3]);
}

PerceptionAnswer RefusedAnswer(std::string reason) {
  PerceptionAnswer answer;
  answer.refusal = std::move(reason);
  return answer;
}

// The verdict on the response a future carries, with the lines the node has always logged while
// it read one: the document, then each pose block read whole, arm before camera.
PerceptionAnswer ReadResponse(const DetectToiletInfo::ResponseFuture& future) {
  std::shared_ptr<ArmPerceptionCommon::Response> response;
  try {
    response = future.get();
  } catch (const std::exception& error) {
    return RefusedAnswer(error.what());
  }
  if (!response) {
    return RefusedAnswer("empty response");
  }
  LOG_INFO("arm perception info:\n{}", response->response_yaml);
  PerceptionAnswer answer = ReadPerceptionAnswer(response->response_yaml);
  if (answer.arm) {
    LogPose(*answer.arm, "arm");
  }
  if (answer.camera) {
    LogPose(*answer.camera, "cam");
  }
  return answer;
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
  const BT::Blackboard& blackboard = *config.blackboard;
  if (!ReadSharedNode(blackboard)) {
    LOG_ERROR(
        "Failed to get node from blackboard.{}",
        WhereLookedFor(blackboard, fmt::format("{} and {}", kSharedNodeKey, kExecutorNodeKey)));
    return;
  }
  std::string service_name;
  if (ReadEntry(blackboard, kServiceNameKey, service_name) == EntryPlace::kNowhere) {
    LOG_ERROR("Failed to get arm_perception_service from blackboard.{}",
              WhereLookedFor(blackboard, "it"));
    return;
  }
  const std::optional<IntrospectionMode> introspection = ReadIntrospection(blackboard);
  if (!introspection) {
    return;
  }
  client_ = node_->create_client<ArmPerceptionCommon>(service_name);
  LOG_INFO("toilet detect service name: {}.", service_name);
  // Off costs nothing: no call at all, as before introspection existed.
  if (*introspection != IntrospectionMode::kOff &&
      !PublishServiceEvents(*client_, *node_, *introspection)) {
    client_.reset();
  }
}

bool DetectToiletInfo::ReadSharedNode(const BT::Blackboard& blackboard) {
  const std::array<const char*, 2> keys = {kSharedNodeKey, kExecutorNodeKey};
  return std::any_of(keys.begin(), keys.end(), [&](const char* key) {
    const EntryPlace place = ReadEntry(blackboard, key, node_);
    if (place == EntryPlace::kNowhere) {
      return false;
    }
    LOG_INFO("Succeed to get node from blackboard{}.", SharedNodeOrigin(key, place));
    return true;
  });
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

  const PerceptionRequest perception_request =
      WritePerceptionRequest(ReadTaskSettings(*config().blackboard), timeout_duration_);
  fix_trajectory_path_ = perception_request.fix_trajectory_path;
  LOG_INFO("arm perception aruco_config_path: {}, fix_trajectory_path: {}",
           perception_request.aruco_config_path, fix_trajectory_path_);

  auto request = std::make_shared<ArmPerceptionCommon::Request>();
  request->request_yaml = perception_request.request_yaml;
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
  LOG_ERROR("ErrorCode: {}, arm perception service not available", kStatusServiceUnavailable);
  setOutput<int>("status_code", kStatusServiceUnavailable);
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
    const PerceptionAnswer answer = ReadResponse(future);
    if (answer.error_code == kErrorBadResponse) {
      LOG_ERROR("Exception in ToiletInfoCallback: {}", answer.refusal);
    }
    outcome_ = OutcomeOf(answer);
    response_received_ = true;
  }
  // A host that sleeps between ticks in Tree::sleep ticks again now, not when its sleep ends.
  emitWakeUpSignal();
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
  if (!outcome_.succeeded) {
    setOutput<int>("error_code", outcome_.error_code);
    setOutput<int>("status_code", outcome_.status_code);
    return BT::NodeStatus::FAILURE;
  }
  setOutput<std::vector<double>>("transfor_matrix", outcome_.transfor_matrix);
  setOutput<std::string>("fix_trajectory", fix_trajectory_path_);
  setOutput<int>("error_code", outcome_.error_code);
  setOutput<int>("status_code", outcome_.status_code);
  return BT::NodeStatus::SUCCESS;
}

BT::NodeStatus DetectToiletInfo::FinishWithTimeout() {
  StopAwaitingResponse();
  LOG_ERROR("ErrorCode: {}, toilet clean service process timeout", kStatusTimeout);
  setOutput<int>("status_code", kStatusTimeout);
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
