// The perception link under SROS2, over the middleware RMW_IMPLEMENTATION names: bt_host and
// simulated_perception_service as processes in their enclaves of a keystore that make-keystore.sh
// makes for this test's ROS domain, beside intruders that answer with a forged pose.

#include <chrono>
#include <filesystem>
#include <map>
#include <ostream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "kestrava_arm_testing/child_process.hpp"
#include "kestrava_arm_testing/ros_domain.hpp"
#include "secure_processes.hpp"

namespace {

using kestrava::test::AddRosArguments;
using kestrava::test::BackgroundChild;
using kestrava::test::EnvironmentFor;
using kestrava::test::kCheckEnclave;
using kestrava::test::kHostEnclave;
using kestrava::test::kNoSecurity;
using kestrava::test::kPerceptionEnclave;
using kestrava::test::Security;
using ::testing::AnyOf;
using ::testing::HasSubstr;
using ::testing::Not;

const std::string kExampleTree = KESTRAVA_EXAMPLES_DIR "/detect_toilet.xml";
const std::string kTrustedAnswer = KESTRAVA_EXAMPLES_DIR "/responses/success.yaml";
const std::string kForgedAnswer = KESTRAVA_FORGED_ANSWER;
// The example tree's LogToiletPose logs one such line per run that got a pose.
const std::string kAnyPose = "toilet at translation [";
const std::string kTrustedPose = "toilet at translation [0.42, -0.1, 0.35]";
const std::string kForgedPose = "toilet at translation [9.99, 9.99, 9.99]";
const std::string kDefaultService = "/arm_perception_common";
// Where the build can publish service events, the trusted programs publish them all: a policy
// without the permission would refuse their publishers and fail the runs.
const std::vector<std::string> kIntrospection =
    KESTRAVA_SERVICE_INTROSPECTION ? std::vector<std::string>{"--introspection", "contents"}
                                   : std::vector<std::string>{};

struct HostRuns {
  int exit_status;
  std::string output;
};

// One fresh bt_host that runs the example tree `runs` times against a service of another process.
HostRuns RunHost(const Security& security, int runs, const std::vector<std::string>& more = {},
                 const std::vector<std::string>& more_ros_args = {}) {
  std::vector<std::string> arguments{"--plugin", KESTRAVA_PLUGIN, "--tree", kExampleTree};
  arguments.insert(arguments.end(), {"--tick-period-ms", "10", "--repeat", std::to_string(runs)});
  arguments.insert(arguments.end(), more.begin(), more.end());
  AddRosArguments(security, more_ros_args, arguments);
  const auto child =
      kestrava::test::RunChild(KESTRAVA_BT_HOST, arguments, EnvironmentFor(security));
  return {kestrava::test::ExitStatusOf(child.wait_status), child.out + child.err};
}

std::vector<std::string> ServiceArguments(const std::string& answer, const Security& security,
                                          const std::vector<std::string>& more_ros_args = {},
                                          const std::string& service_name = kDefaultService,
                                          const std::vector<std::string>& more = {}) {
  std::vector<std::string> arguments{"--response", answer, "--service", service_name};
  arguments.insert(arguments.end(), more.begin(), more.end());
  AddRosArguments(security, more_ros_args, arguments);
  return arguments;
}

// Far more than a service takes to start or to be refused.
constexpr std::chrono::seconds kStartLimit{20};

bool Offers(const BackgroundChild& service, const std::string& service_name = kDefaultService) {
  return service.AwaitOutput("offering " + service_name, kStartLimit);
}

int Occurrences(const std::string& text, const std::string& part) {
  int count = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

// The rows of the host's summary: "<end> <status_code>" -> runs.
std::map<std::string, int> Outcomes(const std::string& output) {
  static const std::regex kRow(R"( +(\d+)  (\S+) +\S+ +(\S+))");
  std::map<std::string, int> outcomes;
  const std::size_t summary = output.find("summary of");
  if (summary == std::string::npos) {
    return outcomes;
  }
  std::istringstream lines(output.substr(summary));
  std::smatch row;
  for (std::string line; std::getline(lines, line);) {
    if (std::regex_match(line, row, kRow)) {
      outcomes[row[2].str() + " " + row[3].str()] += std::stoi(row[1].str());
    }
  }
  return outcomes;
}

void ExpectNoRunSucceeded(const HostRuns& host, int runs) {
  EXPECT_EQ(host.exit_status, 1) << host.output;
  EXPECT_EQ(Occurrences(host.output, kAnyPose), 0) << host.output;
  int ended = 0;
  for (const auto& [outcome, count] : Outcomes(host.output)) {
    EXPECT_THAT(outcome, AnyOf("FAILURE 102501005", "FAILURE 102501008")) << host.output;
    ended += count;
  }
  EXPECT_EQ(ended, runs) << host.output;
}

kestrava::test::ChildOutput MakeKeystore(const std::vector<std::string>& arguments,
                                         const std::vector<std::string>& environment) {
  return kestrava::test::RunChild(KESTRAVA_MAKE_KEYSTORE, arguments, environment);
}

// Each test gets a keystore of its own, made for its ROS domain by make-keystore.sh.
class PerceptionLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::vector<std::string> arguments = NameOptions();
    arguments.push_back(keystore_);
    const auto made = MakeKeystore(arguments, EnvironmentFor(kNoSecurity));
    ASSERT_EQ(kestrava::test::ExitStatusOf(made.wait_status), 0) << made.out << made.err;
  }

  // make-keystore.sh's options for the node and service names; none: the programs' own.
  virtual std::vector<std::string> NameOptions() const { return {}; }

  Security Host() const { return {keystore_, kHostEnclave}; }
  Security Perception() const { return {keystore_, kPerceptionEnclave}; }
  Security Check() const { return {keystore_, kCheckEnclave}; }

  kestrava::test::TemporaryFolder folder_;
  const std::string keystore_ = (folder_.path() / "keystore").string();
};

TEST_F(PerceptionLinkTest, TenFreshSecureHostsEachGetTheTrustedPose) {
  BackgroundChild service(
      KESTRAVA_PERCEPTION_SERVICE,
      ServiceArguments(kTrustedAnswer, Perception(), {}, kDefaultService, kIntrospection),
      EnvironmentFor(Perception()));
  ASSERT_TRUE(Offers(service)) << service.Output();
  for (int host = 1; host <= 10; ++host) {
    const HostRuns run = RunHost(Host(), 1, kIntrospection);
    EXPECT_EQ(run.exit_status, 0) << "host " << host << ":\n" << run.output;
    EXPECT_EQ(Occurrences(run.output, kTrustedPose), 1) << "host " << host << ":\n" << run.output;
  }
}

TEST_F(PerceptionLinkTest, BesideTheTrustedServiceAnIntruderIsHeardOnlyWithoutSecurity) {
  BackgroundChild trusted(KESTRAVA_PERCEPTION_SERVICE,
                          ServiceArguments(kTrustedAnswer, Perception()),
                          EnvironmentFor(Perception()));
  BackgroundChild intruder(KESTRAVA_PERCEPTION_SERVICE,
                           ServiceArguments(kForgedAnswer, kNoSecurity),
                           EnvironmentFor(kNoSecurity));
  ASSERT_TRUE(Offers(trusted)) << trusted.Output();
  ASSERT_TRUE(Offers(intruder)) << intruder.Output();

  // A host without security sees the intruder alone: the trusted service is hidden from it.
  const HostRuns unsecured = RunHost(kNoSecurity, 5);
  EXPECT_EQ(Occurrences(unsecured.output, kForgedPose), 5) << unsecured.output;

  const HostRuns secured = RunHost(Host(), 20);
  EXPECT_EQ(secured.exit_status, 0) << secured.output;
  EXPECT_EQ(Occurrences(secured.output, kTrustedPose), 20) << secured.output;
  EXPECT_EQ(Occurrences(secured.output, kAnyPose), 20) << secured.output;
}

TEST_F(PerceptionLinkTest, AnIntruderAloneIsNeverHeardBySecureHosts) {
  BackgroundChild intruder(KESTRAVA_PERCEPTION_SERVICE,
                           ServiceArguments(kForgedAnswer, kNoSecurity),
                           EnvironmentFor(kNoSecurity));
  ASSERT_TRUE(Offers(intruder)) << intruder.Output();
  const HostRuns unsecured = RunHost(kNoSecurity, 1);
  ASSERT_EQ(Occurrences(unsecured.output, kForgedPose), 1) << unsecured.output;

  ExpectNoRunSucceeded(RunHost(Host(), 3), 3);
}

TEST_F(PerceptionLinkTest, AnEnclaveNotAllowedToServeIsRefusedTheService) {
  // The host's enclave and node name: its permissions allow everything this node does but
  // answering the perception service.
  BackgroundChild intruder(KESTRAVA_PERCEPTION_SERVICE,
                           ServiceArguments(kForgedAnswer, Host(), {"-r", "__node:=bt_host"}),
                           EnvironmentFor(Host()));
  ASSERT_TRUE(intruder.AwaitOutput("cannot offer /arm_perception_common", kStartLimit))
      << intruder.Output();
  EXPECT_EQ(intruder.Wait(), 3) << intruder.Output();
  EXPECT_THAT(intruder.Output(), HasSubstr("enclave " + kHostEnclave));

  ExpectNoRunSucceeded(RunHost(Host(), 3), 3);
}

TEST_F(PerceptionLinkTest, MakeKeystoreReplacesAKeystoreOnlyWhenForced) {
  const auto authority = std::filesystem::path(keystore_) / "public" / "ca.cert.pem";
  const std::string first_authority = kestrava::test::ReadWholeFile(authority);

  const auto refused = MakeKeystore({keystore_}, EnvironmentFor(kNoSecurity));
  EXPECT_EQ(kestrava::test::ExitStatusOf(refused.wait_status), 1);
  EXPECT_THAT(refused.err, HasSubstr("already holds a keystore; --force replaces it"));
  EXPECT_EQ(kestrava::test::ReadWholeFile(authority), first_authority);

  const auto forced = MakeKeystore({"--force", keystore_}, EnvironmentFor(kNoSecurity));
  EXPECT_EQ(kestrava::test::ExitStatusOf(forced.wait_status), 0) << forced.err;
  EXPECT_THAT(kestrava::test::ReadWholeFile(authority), Not(first_authority));
}

// The names a robot gives them: host and service nodes of its own in a namespace, and a service
// name of its own.
const std::string kRobotService = "/robot1/toilet_perception_common";

class RenamedPerceptionLinkTest : public PerceptionLinkTest {
 protected:
  std::vector<std::string> NameOptions() const override {
    return {"--host",    "/robot1/toilet_host", "--perception", "/robot1/toilet_perception",
            "--service", kRobotService};
  }
};

TEST_F(RenamedPerceptionLinkTest, HostAndCheckUseTheServiceThatNoOtherEnclaveMayOffer) {
  BackgroundChild service(
      KESTRAVA_PERCEPTION_SERVICE,
      ServiceArguments(kTrustedAnswer, Perception(),
                       {"-r", "__ns:=/robot1", "-r", "__node:=toilet_perception"}, kRobotService,
                       kIntrospection),
      EnvironmentFor(Perception()));
  ASSERT_TRUE(Offers(service, kRobotService)) << service.Output();

  // The check's enclave: valid, and allowed to call the service but not to offer it.
  BackgroundChild intruder(
      KESTRAVA_PERCEPTION_SERVICE,
      ServiceArguments(kForgedAnswer, Check(), {"-r", "__node:=check_perception_service"},
                       kRobotService),
      EnvironmentFor(Check()));
  ASSERT_TRUE(intruder.AwaitOutput("cannot offer " + kRobotService, kStartLimit))
      << intruder.Output();
  EXPECT_EQ(intruder.Wait(), 3) << intruder.Output();

  std::vector<std::string> host_options{"--service", kRobotService};
  host_options.insert(host_options.end(), kIntrospection.begin(), kIntrospection.end());
  const HostRuns host =
      RunHost(Host(), 3, host_options, {"-r", "__ns:=/robot1", "-r", "__node:=toilet_host"});
  EXPECT_EQ(host.exit_status, 0) << host.output;
  EXPECT_EQ(Occurrences(host.output, kTrustedPose), 3) << host.output;
  EXPECT_EQ(Occurrences(host.output, kAnyPose), 3) << host.output;

  std::vector<std::string> check_arguments{"--service", kRobotService, "--rounds", "2"};
  AddRosArguments(Check(), {}, check_arguments);
  const auto check =
      kestrava::test::RunChild(KESTRAVA_CHECK_PROGRAM, check_arguments, EnvironmentFor(Check()));
  EXPECT_EQ(kestrava::test::ExitStatusOf(check.wait_status), 0) << check.out << check.err;
}

struct BrokenSetup {
  const char* name;
  const char* keystore;  // a folder of the test's
  std::string enclave;
};

void PrintTo(const BrokenSetup& setup, std::ostream* out) {
  *out << setup.name;
}

// Names a keystore that the test makes for another ROS domain than its own.
constexpr const char* kKeystoreOfAnotherDomain = "keystore_of_another_domain";

class BrokenSetupTest : public PerceptionLinkTest,
                        public ::testing::WithParamInterface<BrokenSetup> {};

TEST_P(BrokenSetupTest, EndsTheHostWithASetupErrorNamingEnclaveAndKeystore) {
  const std::string keystore = (folder_.path() / GetParam().keystore).string();
  if (GetParam().keystore == std::string(kKeystoreOfAnotherDomain)) {
    const int domain = kestrava_arm::bt::testing::IsolateRosDomain();
    const auto made = MakeKeystore({keystore}, EnvironmentFor(kNoSecurity, domain + 1));
    ASSERT_EQ(kestrava::test::ExitStatusOf(made.wait_status), 0) << made.err;
  }
  const HostRuns run = RunHost({keystore, GetParam().enclave}, 1);
  EXPECT_EQ(run.exit_status, 3) << run.output;
  EXPECT_THAT(run.output, HasSubstr("enclave " + GetParam().enclave + ", keystore " + keystore));
  EXPECT_THAT(run.output, Not(HasSubstr("summary of")));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BrokenSetupTest,
    ::testing::Values(BrokenSetup{"MissingKeystore", "no_keystore", kHostEnclave},
                      BrokenSetup{"EnclaveNotInTheKeystore", "keystore", "/kestrava/intruder"},
                      BrokenSetup{"KeystoreOfAnotherDomain", kKeystoreOfAnotherDomain,
                                  kHostEnclave}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
