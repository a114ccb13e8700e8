#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "kestrava_arm_behavior_tree/action/detect_toilet_info_codes_and_keys.hpp"

// What DetectToiletInfo sends the arm perception service, what it takes from its answers and what
// a run publishes for them, in plain types and without ROS or BehaviorTree.CPP: the node, the
// programs around it, the fuzz targets and the tests share these functions, so that there is one
// statement of the contract. None of them logs.
namespace kestrava_arm::bt {

// The task settings a run finds on the blackboard (detect_toilet_info_codes_and_keys.hpp names
// the entries); nothing where an entry is absent.
struct TaskSettings {
  std::optional<std::string> toilet_data_path;
  std::optional<std::string> task_info;
  std::optional<std::string> aruco_config_path;
  std::optional<std::string> fix_trajectory_path;
  std::optional<std::string> camera_frame_id;
};

// What a task description such as "task_uid:42;task_name:bowl" says of the task.
struct TaskIdentity {
  std::size_t pairs = 0;            // how many name:value pairs it holds
  std::optional<std::string> uid;   // the value of "task_uid", when it names one
  std::optional<std::string> name;  // the value of "task_name", when it names one
};

TaskIdentity ReadTaskIdentity(const std::string& task_info);

// The request of one run and the paths it is made from.
struct PerceptionRequest {
  std::string aruco_config_path;
  std::string fix_trajectory_path;  // published on "fix_trajectory" when the answer is taken
  std::string request_yaml;         // the document sent as the request's request_yaml
};

// The request a run with these settings and this time limit sends: a YAML map of
// "aruco_config_path", "time_out" (the limit, in milliseconds) and "camera_frame_id", in this
// order. Paths left out are derived from the data directory and the task's uid and name.
PerceptionRequest WritePerceptionRequest(const TaskSettings& settings, double time_limit_ms);

// What is wrong with a request document as a service reads it (the keys above, in their order,
// holding a text, a number and a text), or nothing when it is one the node could send.
std::optional<std::string> CheckRequestDocument(const std::string& request_yaml);

struct PerceptionPose {
  std::vector<double> translation;  // at least three values
  std::vector<double> rotation;     // at least four values, a quaternion first
  std::string description;
};

// The node's verdict on one answer document.
struct PerceptionAnswer {
  // kErrorNone: taken; kErrorNoDetection: "success" false or no "arm_base_end";
  // kErrorBadResponse: refused, for `refusal`.
  int error_code = kErrorBadResponse;
  std::string refusal;
  std::optional<bool> success;  // the answer's "success", once read
  // The pose blocks read whole before the verdict was reached, each checked as its use needs:
  // the arm-base pose goes to the arm, the camera pose only to the log.
  std::optional<PerceptionPose> arm;
  std::optional<PerceptionPose> camera;
};

PerceptionAnswer ReadPerceptionAnswer(const std::string& response_yaml);

// What a run that received one answer publishes on the node's output ports, and how it ends.
struct RunOutcome {
  bool succeeded = false;                    // SUCCESS when the answer is taken, else FAILURE
  int error_code = kErrorBadResponse;        // "error_code"
  int status_code = kStatusDetectionFailed;  // "status_code"
  // "transfor_matrix", written only when taken: the arm-base translation, then its rotation.
  std::vector<double> transfor_matrix;
  std::string reason;  // why the answer is not taken; empty when it is
};

RunOutcome OutcomeOf(const PerceptionAnswer& answer);

// The outcome of a run that received this answer document.
RunOutcome JudgeAnswer(const std::string& response_yaml);

// "SUCCESS" or "FAILURE": how the run ends.
const char* EndOf(const RunOutcome& outcome);

}  // namespace kestrava_arm::bt
