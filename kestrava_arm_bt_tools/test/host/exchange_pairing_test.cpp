// The watch's pairing of service events into exchanges, without ROS: each exchange once, whether
// one side or both publish, complete as soon as it can be and no sooner, in the order the
// requests were made, and an unanswered request reported after its own limit.

#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "exchange_pairing.hpp"

namespace kestrava_arm::check {
namespace {

using std::chrono::milliseconds;
using Clock = ExchangePairer::Clock;

constexpr milliseconds kDefaultLimit{2000};
constexpr milliseconds kSettle{250};

const std::string kRequest =
    "aruco_config_path: /data/aruco.yaml\ntime_out: 500\ncamera_frame_id: camera\n";
const std::string kAnswer = "success: false\n";

ServiceEvent Event(const char* type, std::int64_t sequence, const std::string& gid = "0a1b") {
  ServiceEvent event;
  event.event.type = type;
  event.event.stamp_ns = sequence * 1000;
  event.client_gid = gid;
  event.sequence = sequence;
  const std::string kind(type);
  if (kind.rfind("REQUEST", 0) == 0) {
    event.request_yaml = kRequest;
  } else {
    event.answer_yaml = kAnswer;
  }
  return event;
}

std::vector<std::string> TypesOf(const host::RecordedExchange& exchange) {
  std::vector<std::string> types;
  for (const host::RecordedEvent& event : exchange.events) {
    types.push_back(event.type);
  }
  return types;
}

TEST(ExchangePairingTest, BothSidesMakeOneExchangeCompleteAtTheLastAnswerEvent) {
  ExchangePairer pairer(kDefaultLimit, kSettle);
  const Clock::time_point start = Clock::now();
  EXPECT_TRUE(pairer.Add(Event("REQUEST_SENT", 7), start).empty());
  EXPECT_TRUE(pairer.Add(Event("REQUEST_RECEIVED", 7), start).empty());
  // Another client's exchange of the same sequence number is another exchange.
  EXPECT_TRUE(pairer.Add(Event("REQUEST_SENT", 7, "ffff"), start).empty());
  EXPECT_TRUE(pairer.Add(Event("RESPONSE_SENT", 7), start).empty());
  const auto complete = pairer.Add(Event("RESPONSE_RECEIVED", 7), start);
  ASSERT_EQ(complete.size(), 1U) << "all four events of the exchange are in";
  const host::RecordedExchange* exchange = &complete.front();
  EXPECT_EQ(exchange->client_gid, "0a1b");
  EXPECT_EQ(exchange->sequence, 7);
  EXPECT_EQ(TypesOf(*exchange), (std::vector<std::string>{"REQUEST_SENT", "REQUEST_RECEIVED",
                                                          "RESPONSE_SENT", "RESPONSE_RECEIVED"}));
  EXPECT_EQ(exchange->request_yaml, kRequest);
  EXPECT_EQ(exchange->answer_yaml, kAnswer);
  // A straggler of the completed exchange counts for nothing.
  EXPECT_TRUE(pairer.Add(Event("RESPONSE_RECEIVED", 7), start).empty());
  EXPECT_EQ(pairer.TakeDue(start + milliseconds(10000)).size(), 1U)
      << "the other client's request, unanswered";
}

// As both middlewares do: the client names itself by one gid, the service it by another.
TEST(ExchangePairingTest, TheSidesGidsArePairedByAnExchangeSeenFromBothInEitherOrder) {
  ExchangePairer pairer(kDefaultLimit, kSettle);
  const Clock::time_point start = Clock::now();
  // The service's events may come first: the client publishes its request event after sending.
  pairer.Add(Event("REQUEST_RECEIVED", 1, "5e"), start);
  pairer.Add(Event("REQUEST_SENT", 1, "c1"), start);
  pairer.Add(Event("RESPONSE_SENT", 1, "5e"), start);
  const auto first = pairer.Add(Event("RESPONSE_RECEIVED", 1, "c1"), start);
  ASSERT_EQ(first.size(), 1U) << "the four events of one exchange";
  EXPECT_EQ(first[0].client_gid, "c1");
  EXPECT_EQ(first[0].events.size(), 4U);

  pairer.Add(Event("REQUEST_SENT", 2, "c1"), start);
  pairer.Add(Event("REQUEST_RECEIVED", 2, "5e"), start);
  pairer.Add(Event("RESPONSE_RECEIVED", 2, "c1"), start);
  const auto second = pairer.Add(Event("RESPONSE_SENT", 2, "5e"), start);
  ASSERT_EQ(second.size(), 1U);
  EXPECT_EQ(second[0].client_gid, "c1");

  // Two new clients with the same sequence number: the request tells them apart.
  ServiceEvent other_request = Event("REQUEST_SENT", 1, "c2");
  other_request.request_yaml = "time_out: 100\n";
  pairer.Add(other_request, start);
  pairer.Add(Event("REQUEST_SENT", 1, "c3"), start);
  pairer.Add(Event("REQUEST_RECEIVED", 1, "77"), start);
  pairer.Add(Event("RESPONSE_RECEIVED", 1, "c3"), start);
  const auto third = pairer.Add(Event("RESPONSE_SENT", 1, "77"), start);
  EXPECT_TRUE(third.empty()) << "held back behind c2's request";
  const auto due = pairer.TakeDue(start + milliseconds(100) + kSettle);
  ASSERT_EQ(due.size(), 2U);
  EXPECT_EQ(due[0].client_gid, "c2");
  EXPECT_EQ(due[0].events.size(), 1U);
  EXPECT_EQ(due[1].client_gid, "c3");
  EXPECT_EQ(due[1].events.size(), 4U);
}

// The watch starts while a host is being discovered: the first exchange completes with the
// service's events alone, and the client's come after.
TEST(ExchangePairingTest, TheLateEventsOfASideOfACompleteExchangeCountForNothing) {
  ExchangePairer pairer(kDefaultLimit, kSettle);
  const Clock::time_point start = Clock::now();
  pairer.Add(Event("REQUEST_RECEIVED", 1, "5e"), start);
  pairer.Add(Event("RESPONSE_SENT", 1, "5e"), start);
  ASSERT_EQ(pairer.TakeDue(start + kSettle).size(), 1U);
  // A request the client's events missed too, which its limit ends unanswered.
  pairer.Add(Event("REQUEST_RECEIVED", 2, "5e"), start);
  ASSERT_EQ(pairer.TakeDue(start + milliseconds(500) + kSettle).size(), 1U);

  EXPECT_TRUE(pairer.Add(Event("REQUEST_SENT", 1, "c1"), start).empty());
  EXPECT_TRUE(pairer.Add(Event("RESPONSE_RECEIVED", 1, "c1"), start).empty());
  EXPECT_TRUE(pairer.Add(Event("RESPONSE_SENT", 2, "5e"), start).empty());
  EXPECT_TRUE(pairer.TakeDue(start + kDefaultLimit * 2).empty()) << "each counted once";

  pairer.Add(Event("REQUEST_SENT", 3, "c1"), start);
  pairer.Add(Event("REQUEST_RECEIVED", 3, "5e"), start);
  pairer.Add(Event("RESPONSE_SENT", 3, "5e"), start);
  EXPECT_EQ(pairer.Add(Event("RESPONSE_RECEIVED", 3, "c1"), start).size(), 1U)
      << "the sides' gids were paired by the first exchange";
}

TEST(ExchangePairingTest, OneSideOnlyCompletesOnceTheOtherSideHadTimeToSpeak) {
  ExchangePairer pairer(kDefaultLimit, kSettle);
  const Clock::time_point start = Clock::now();
  EXPECT_TRUE(pairer.Add(Event("REQUEST_SENT", 1), start).empty());
  EXPECT_TRUE(pairer.Add(Event("RESPONSE_RECEIVED", 1), start + milliseconds(20)).empty());
  EXPECT_TRUE(pairer.TakeDue(start + milliseconds(20) + kSettle - milliseconds(1)).empty());
  const auto due = pairer.TakeDue(start + milliseconds(20) + kSettle);
  ASSERT_EQ(due.size(), 1U);
  EXPECT_EQ(TypesOf(due[0]), (std::vector<std::string>{"REQUEST_SENT", "RESPONSE_RECEIVED"}));
  EXPECT_TRUE(pairer.TakeDue(start + milliseconds(5000)).empty()) << "reported once";
}

TEST(ExchangePairingTest, AnUnansweredRequestIsDueAfterItsOwnLimitAndItsLateAnswerIsDropped) {
  ExchangePairer pairer(kDefaultLimit, kSettle);
  const Clock::time_point start = Clock::now();
  pairer.Add(Event("REQUEST_SENT", 1), start);  // states time_out: 500
  ServiceEvent metadata_only = Event("REQUEST_SENT", 2);
  metadata_only.request_yaml.reset();  // waits the default limit
  pairer.Add(metadata_only, start);

  EXPECT_TRUE(pairer.TakeDue(start + milliseconds(500) + kSettle - milliseconds(1)).empty());
  const auto first = pairer.TakeDue(start + milliseconds(500) + kSettle);
  ASSERT_EQ(first.size(), 1U);
  EXPECT_EQ(first[0].sequence, 1);
  EXPECT_FALSE(first[0].answer_yaml);
  EXPECT_TRUE(pairer.Add(Event("RESPONSE_RECEIVED", 1), start + milliseconds(900)).empty());

  const auto second = pairer.TakeDue(start + kDefaultLimit + kSettle);
  ASSERT_EQ(second.size(), 1U);
  EXPECT_EQ(second[0].sequence, 2);
}

TEST(ExchangePairingTest, ExchangesComeInTheOrderTheyBeganAndStopKeepsOnlyAnswered) {
  ExchangePairer pairer(kDefaultLimit, kSettle);
  const Clock::time_point start = Clock::now();
  // Keys sort otherwise than the exchanges began; the first waits for its limit while the
  // second completes at once.
  pairer.Add(Event("REQUEST_SENT", 9, "ff"), start);
  pairer.Add(Event("REQUEST_SENT", 1, "00"), start + milliseconds(1));
  pairer.Add(Event("RESPONSE_SENT", 1, "00"), start + milliseconds(2));
  EXPECT_TRUE(pairer.Add(Event("RESPONSE_RECEIVED", 1, "00"), start + milliseconds(3)).empty())
      << "held back behind the earlier request";
  const auto due = pairer.TakeDue(start + milliseconds(500) + kSettle);
  ASSERT_EQ(due.size(), 2U);
  EXPECT_EQ(due[0].sequence, 9);
  EXPECT_FALSE(due[0].answer_yaml);
  EXPECT_EQ(due[1].sequence, 1);

  pairer.Add(Event("REQUEST_SENT", 3), start);
  pairer.Add(Event("REQUEST_SENT", 4), start);
  pairer.Add(Event("RESPONSE_RECEIVED", 4), start);
  const auto [answered, awaiting] = pairer.TakeAnsweredAtStop();
  ASSERT_EQ(answered.size(), 1U);
  EXPECT_EQ(answered[0].sequence, 4);
  EXPECT_EQ(awaiting, 1U);
}

}  // namespace
}  // namespace kestrava_arm::check
