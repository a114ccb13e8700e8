// bt_host's Groot2 options as Groot2 meets them: the live publisher asked by a client that speaks
// Groot2's protocol over ZeroMQ, and the recording read as Groot2 replays it.

#include <zmq.h>

#include <csignal>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <tinyxml2.h>
#include <unistd.h>

#include "behaviortree_cpp/loggers/groot2_protocol.h"
#include "kestrava_arm_testing/child_process.hpp"
#include "kestrava_arm_testing/ros_domain.hpp"

namespace {

using BT::NodeStatus;
using std::chrono::milliseconds;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

const std::string kExamples = KESTRAVA_EXAMPLES_DIR;
const std::string kSuccessAnswer = kExamples + "/responses/success.yaml";

// Long enough for any poll of the tests to see the node RUNNING, short enough to keep them quick.
constexpr const char* kAnswerDelayMs = "1000";
// What a host or a reply may take on a loaded machine before a test gives up on it.
constexpr milliseconds kPatience{20000};

// A port pair that no other test process uses: each holds a ROS domain of its own. Below the
// ephemeral ports (32768 on), which the kernel hands out to any socket.
unsigned Groot2Port() {
  constexpr unsigned kFirstPort = 21000;
  return kFirstPort + 2 * static_cast<unsigned>(kestrava_arm::bt::testing::IsolateRosDomain());
}

std::vector<std::string> ChildEnvironment() {
  kestrava_arm::bt::testing::IsolateRosDomain();
  return kestrava::test::LoggingEnvironment({"SPDLOG_STDOUT=true", "SPDLOG_SYSTEMD=false"});
}

std::vector<std::string> HostArguments(std::vector<std::string> options) {
  std::vector<std::string> arguments{"--plugin",         KESTRAVA_PLUGIN,
                                     "--tree",           kExamples + "/detect_toilet.xml",
                                     "--tick-period-ms", "10"};
  arguments.insert(arguments.end(), options.begin(), options.end());
  return arguments;
}

// Groot2's side of the publisher's request/reply socket.
class Groot2Client {
 public:
  explicit Groot2Client(unsigned port)
      : context_(zmq_ctx_new()), socket_(zmq_socket(context_, ZMQ_REQ)) {
    const int linger = 0;
    const int receive_timeout = static_cast<int>(kPatience.count());
    zmq_setsockopt(socket_, ZMQ_LINGER, &linger, sizeof(linger));
    zmq_setsockopt(socket_, ZMQ_RCVTIMEO, &receive_timeout, sizeof(receive_timeout));
    // Connecting needs no listener yet: the request leaves once the host has bound its port.
    const std::string address = "tcp://127.0.0.1:" + std::to_string(port);
    if (zmq_connect(socket_, address.c_str()) != 0) {
      throw std::runtime_error("zmq_connect " + address + ": " + zmq_strerror(zmq_errno()));
    }
  }
  ~Groot2Client() {
    zmq_close(socket_);
    zmq_ctx_term(context_);
  }
  Groot2Client(const Groot2Client&) = delete;
  Groot2Client& operator=(const Groot2Client&) = delete;

  // The reply's payload; throws when no reply of this request comes.
  std::string Request(BT::Monitor::RequestType type) {
    const BT::Monitor::RequestHeader request(type);
    const std::string header = BT::Monitor::SerializeHeader(request);
    if (zmq_send(socket_, header.data(), header.size(), 0) < 0) {
      throw std::runtime_error(std::string("zmq_send: ") + zmq_strerror(zmq_errno()));
    }
    const std::vector<std::string> parts = ReceiveParts();
    if (parts.size() != 2 || parts[0].size() != BT::Monitor::ReplyHeader::size()) {
      throw std::runtime_error("a reply of " + std::to_string(parts.size()) +
                               " part(s), not a header and a payload");
    }
    const BT::Monitor::ReplyHeader reply = BT::Monitor::DeserializeReplyHeader(parts[0]);
    if (reply.request != request || reply.request.protocol != BT::Monitor::kProtocolID) {
      throw std::runtime_error("the reply answers another request or protocol");
    }
    return parts[1];
  }

 private:
  std::vector<std::string> ReceiveParts() {
    std::vector<std::string> parts;
    int more = 1;
    while (more != 0) {
      zmq_msg_t part;
      zmq_msg_init(&part);
      if (zmq_msg_recv(&part, socket_, 0) < 0) {
        zmq_msg_close(&part);
        throw std::runtime_error(std::string("no reply: ") + zmq_strerror(zmq_errno()));
      }
      parts.emplace_back(static_cast<const char*>(zmq_msg_data(&part)), zmq_msg_size(&part));
      more = zmq_msg_more(&part);
      zmq_msg_close(&part);
    }
    return parts;
  }

  void* context_;
  void* socket_;
};

// The unique id (`_uid`) of the first element of this name in a tree's XML, as the publisher and
// the recorder write it.
std::optional<std::uint16_t> NodeUid(const std::string& tree_xml, const char* element_name) {
  tinyxml2::XMLDocument document;
  if (document.Parse(tree_xml.c_str()) != tinyxml2::XML_SUCCESS) {
    return std::nullopt;
  }
  std::vector<const tinyxml2::XMLElement*> pending{document.RootElement()};
  while (!pending.empty()) {
    const tinyxml2::XMLElement* element = pending.back();
    pending.pop_back();
    if (element == nullptr) {
      continue;
    }
    if (std::strcmp(element->Name(), element_name) == 0) {
      return static_cast<std::uint16_t>(element->UnsignedAttribute("_uid"));
    }
    pending.push_back(element->NextSiblingElement());
    pending.push_back(element->FirstChildElement());
  }
  return std::nullopt;
}

// The status buffer of a STATUS reply: (uid, status) for every node of the tree.
std::map<std::uint16_t, int> NodeStatuses(const std::string& buffer) {
  constexpr std::size_t kEntrySize = sizeof(std::uint16_t) + sizeof(std::uint8_t);
  std::map<std::uint16_t, int> statuses;
  for (std::size_t at = 0; at + kEntrySize <= buffer.size(); at += kEntrySize) {
    std::uint16_t uid = 0;
    std::memcpy(&uid, buffer.data() + at, sizeof(uid));
    statuses[uid] = static_cast<std::uint8_t>(buffer[at + sizeof(uid)]);
  }
  return statuses;
}

// Asks for the statuses until the node shows `status` (or, once the tree has put it back to
// rest, that it came from it). Statuses can only be polled: the publisher pushes none.
bool AwaitNodeStatus(Groot2Client& client, std::uint16_t uid, NodeStatus status) {
  constexpr milliseconds kPollInterval{10};
  constexpr int kIdleFrom = 10;  // the publisher's code for IDLE after another status
  const auto until = std::chrono::steady_clock::now() + kPatience;
  while (std::chrono::steady_clock::now() < until) {
    const int shown = NodeStatuses(client.Request(BT::Monitor::STATUS))[uid];
    if (shown == static_cast<int>(status) || shown == kIdleFrom + static_cast<int>(status)) {
      return true;
    }
    std::this_thread::sleep_for(kPollInterval);
  }
  return false;
}

struct Transition {
  std::uint16_t uid;
  NodeStatus status;
};

struct Recording {
  std::string tree_xml;
  std::vector<Transition> transitions;
};

// Reads a .btlog as Groot2 does: magic and protocol, the tree's XML after its length, the first
// timestamp, then 9 bytes per transition (6 of time, 2 of node uid, 1 of status). Throws when the
// file does not have this shape, a transition cut short included.
Recording ReadRecording(const std::string& path) {
  const std::string bytes = kestrava::test::ReadWholeFile(path);
  const std::string magic = std::string("BTCPP4-FileLogger2") + '\x01';
  constexpr std::size_t kTimestampSize = 8;
  constexpr std::size_t kTransitionSize = 9;
  std::int32_t xml_size = 0;
  if (bytes.compare(0, magic.size(), magic) != 0 ||
      bytes.size() < magic.size() + sizeof(xml_size)) {
    throw std::runtime_error(path + " does not start as a recording");
  }
  std::memcpy(&xml_size, bytes.data() + magic.size(), sizeof(xml_size));
  const std::size_t transitions_at = magic.size() + sizeof(xml_size) + xml_size + kTimestampSize;
  if (xml_size < 0 || bytes.size() < transitions_at ||
      (bytes.size() - transitions_at) % kTransitionSize != 0) {
    throw std::runtime_error(path + " is cut short");
  }
  Recording recording{bytes.substr(magic.size() + sizeof(xml_size), xml_size), {}};
  for (std::size_t at = transitions_at; at < bytes.size(); at += kTransitionSize) {
    std::uint16_t uid = 0;
    std::memcpy(&uid, bytes.data() + at + 6, sizeof(uid));
    recording.transitions.push_back({uid, static_cast<NodeStatus>(bytes[at + 8])});
  }
  return recording;
}

std::vector<NodeStatus> StatusesOf(const Recording& recording, const char* element_name) {
  const auto uid = NodeUid(recording.tree_xml, element_name);
  std::vector<NodeStatus> statuses;
  for (const Transition& transition : recording.transitions) {
    if (uid && transition.uid == *uid) {
      statuses.push_back(transition.status);
    }
  }
  return statuses;
}

// A recording is whole when it ends as every run ends: with the tree's root back at rest.
void ExpectWhole(const Recording& recording) {
  const auto root = NodeUid(recording.tree_xml, "Sequence");
  ASSERT_TRUE(root) << recording.tree_xml;
  ASSERT_FALSE(recording.transitions.empty());
  EXPECT_EQ(recording.transitions.back().uid, *root);
  EXPECT_EQ(recording.transitions.back().status, NodeStatus::IDLE);
}

// Where the perception service runs: in the host, or as a process of its own.
struct Setup {
  const char* name;
  bool own_process;
};

void PrintTo(const Setup& setup, std::ostream* out) {
  *out << setup.name;
}

// The simulated service in a process of its own, answering late.
std::unique_ptr<kestrava::test::BackgroundChild> StartServiceProcess() {
  return std::make_unique<kestrava::test::BackgroundChild>(
      KESTRAVA_SIMULATED_SERVICE,
      std::vector<std::string>{"--response", kSuccessAnswer, "--reply-delay-ms", kAnswerDelayMs},
      ChildEnvironment());
}

std::vector<std::string> ServiceOptions(const Setup& setup) {
  if (setup.own_process) {
    // Discovery of another process may take seconds; the node must find the service at once.
    return {"--wait-for-service-ms", std::to_string(kPatience.count())};
  }
  return {"--simulate", kSuccessAnswer, "--reply-delay-ms", kAnswerDelayMs};
}

class Groot2WatchTest : public ::testing::TestWithParam<Setup> {};

// Groot2 attached to a host that runs the tree twice, with a long pause in between: it sees the
// tree, the node running, then the node's end; the recording of the same host holds the run.
TEST_P(Groot2WatchTest, ShowsTheTreeAndTheNodeDuringAndAfterARunAndRecordsIt) {
  const kestrava::test::TemporaryFolder folder;
  const std::string recording_file = (folder.path() / "run.btlog").string();
  const auto service = GetParam().own_process ? StartServiceProcess() : nullptr;
  std::vector<std::string> options = ServiceOptions(GetParam());
  for (const char* option : {"--repeat", "2", "--pause-ms", "600000"}) {
    options.emplace_back(option);
  }
  options.insert(options.end(),
                 {"--groot2-port", std::to_string(Groot2Port()), "--record", recording_file});
  kestrava::test::BackgroundChild host(KESTRAVA_BT_HOST, HostArguments(options),
                                       ChildEnvironment());

  Groot2Client client(Groot2Port());
  const std::string tree_xml = client.Request(BT::Monitor::FULLTREE);
  const auto node = NodeUid(tree_xml, "DetectToiletInfo");
  ASSERT_TRUE(node) << tree_xml;
  EXPECT_THAT(tree_xml, HasSubstr("name=\"detect_toilet\""));
  EXPECT_TRUE(AwaitNodeStatus(client, *node, NodeStatus::RUNNING)) << host.Output();
  EXPECT_TRUE(AwaitNodeStatus(client, *node, NodeStatus::SUCCESS)) << host.Output();

  // The host pauses before its second run; Ctrl-C ends it there.
  EXPECT_EQ(host.Stop(SIGINT), 6) << host.Output();
  const Recording recording = ReadRecording(recording_file);
  EXPECT_EQ(recording.tree_xml, tree_xml);
  EXPECT_THAT(StatusesOf(recording, "DetectToiletInfo"),
              ElementsAre(NodeStatus::RUNNING, NodeStatus::SUCCESS, NodeStatus::IDLE));
  ExpectWhole(recording);
}

std::vector<Setup> Setups() {
  std::vector<Setup> setups{{"ServiceInTheHost", false}};
  if (std::string(KESTRAVA_SIMULATED_SERVICE).empty()) {
    return setups;
  }
  setups.push_back({"ServiceInItsOwnProcess", true});
  return setups;
}

INSTANTIATE_TEST_SUITE_P(Setups, Groot2WatchTest, ::testing::ValuesIn(Setups()),
                         [](const auto& info) { return std::string(info.param.name); });

// A listening socket on a port, for as long as the object lives.
class PortTaken {
 public:
  explicit PortTaken(unsigned port) : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(fd_, 1) != 0) {
      throw std::runtime_error("cannot take port " + std::to_string(port));
    }
  }
  ~PortTaken() { close(fd_); }
  PortTaken(const PortTaken&) = delete;
  PortTaken& operator=(const PortTaken&) = delete;

 private:
  int fd_;
};

TEST(Groot2PortTest, APortInUseIsASetupErrorAndNothingRuns) {
  const PortTaken taken(Groot2Port() + 1);
  const auto child = kestrava::test::RunChild(
      KESTRAVA_BT_HOST,
      HostArguments({"--simulate", kSuccessAnswer, "--groot2-port", std::to_string(Groot2Port())}),
      ChildEnvironment());
  EXPECT_EQ(kestrava::test::ExitStatusOf(child.wait_status), 3) << child.out << child.err;
  EXPECT_THAT(child.err, HasSubstr("bt_host: cannot publish the tree to Groot2 on ports " +
                                   std::to_string(Groot2Port()) + " and " +
                                   std::to_string(Groot2Port() + 1) + ": Address already in use"));
  EXPECT_THAT(child.out, Not(HasSubstr("result:")));
}

// How a recorded run ends, and what the recording must then hold of the node.
struct RecordedEnd {
  const char* name;
  std::vector<std::string> options;
  bool interrupt_while_running;  // Ctrl-C once the node is recorded RUNNING
  int exit_status;
  std::vector<NodeStatus> node_statuses;
};

void PrintTo(const RecordedEnd& end, std::ostream* out) {
  *out << end.name;
}

// Waits until the recording shows the node RUNNING; the recorder writes as the tree runs.
bool AwaitRecordedRunning(const std::string& path, kestrava::test::BackgroundChild& host) {
  constexpr milliseconds kPollInterval{10};
  const auto until = std::chrono::steady_clock::now() + kPatience;
  while (std::chrono::steady_clock::now() < until) {
    try {
      const std::vector<NodeStatus> statuses = StatusesOf(ReadRecording(path), "DetectToiletInfo");
      if (!statuses.empty() && statuses.front() == NodeStatus::RUNNING) {
        return true;
      }
    } catch (const std::runtime_error&) {
      // Not there yet, or caught between two writes.
    }
    if (host.AwaitOutput("result:", kPollInterval)) {
      return false;
    }
  }
  return false;
}

class RecordingTest : public ::testing::TestWithParam<RecordedEnd> {};

TEST_P(RecordingTest, IsWholeHowEverTheHostEnds) {
  const RecordedEnd& end = GetParam();
  const kestrava::test::TemporaryFolder folder;
  const std::string recording_file = (folder.path() / "run.btlog").string();
  std::vector<std::string> options = end.options;
  options.insert(options.end(), {"--record", recording_file});
  kestrava::test::BackgroundChild host(KESTRAVA_BT_HOST, HostArguments(options),
                                       ChildEnvironment());
  if (end.interrupt_while_running) {
    ASSERT_TRUE(AwaitRecordedRunning(recording_file, host)) << host.Output();
    kill(host.pid(), SIGINT);
  }
  EXPECT_EQ(host.Wait(), end.exit_status) << host.Output();

  const Recording recording = ReadRecording(recording_file);
  EXPECT_EQ(StatusesOf(recording, "DetectToiletInfo"), end.node_statuses);
  ExpectWhole(recording);
}

// An answer that comes long after the host has ended, with more options.
std::vector<std::string> LateAnswer(std::vector<std::string> more) {
  std::vector<std::string> options{"--simulate", kSuccessAnswer, "--reply-delay-ms", "600000"};
  options.insert(options.end(), more.begin(), more.end());
  return options;
}

std::vector<NodeStatus> Runs(int count, NodeStatus end) {
  std::vector<NodeStatus> statuses;
  for (int run = 0; run < count; ++run) {
    statuses.insert(statuses.end(), {NodeStatus::RUNNING, end, NodeStatus::IDLE});
  }
  return statuses;
}

INSTANTIATE_TEST_SUITE_P(
    Ends, RecordingTest,
    ::testing::Values(
        RecordedEnd{
            "Success", {"--simulate", kSuccessAnswer}, false, 0, Runs(1, NodeStatus::SUCCESS)},
        RecordedEnd{"Failure",
                    {"--simulate", kExamples + "/responses/not_found.yaml"},
                    false,
                    1,
                    Runs(1, NodeStatus::FAILURE)},
        RecordedEnd{"Repeat",
                    {"--simulate", kSuccessAnswer, "--repeat", "3"},
                    false,
                    0,
                    Runs(3, NodeStatus::SUCCESS)},
        RecordedEnd{"Deadline",
                    LateAnswer({"--deadline-ms", "300"}),
                    false,
                    5,
                    {NodeStatus::RUNNING, NodeStatus::IDLE}},
        RecordedEnd{"CtrlC", LateAnswer({}), true, 6, {NodeStatus::RUNNING, NodeStatus::IDLE}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
