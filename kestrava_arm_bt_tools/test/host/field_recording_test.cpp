// The field recording's writer and reader, the verdict on a recorded exchange, and the example
// recording, which the writer makes.

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "exchange_verdict.hpp"
#include "kestrava_arm_behavior_tree/contract/perception_contract.hpp"
#include "kestrava_arm_host/command_line.hpp"
#include "kestrava_arm_host/field_recording.hpp"

namespace kestrava_arm::host {

void PrintTo(const RecordedExchange& exchange, std::ostream* out) {
  *out << RecordingLine(exchange);
}

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

std::string Recorded(const std::vector<RecordedExchange>& exchanges) {
  std::string text = RecordingHeaderLine();
  for (const RecordedExchange& exchange : exchanges) {
    text += RecordingLine(exchange);
  }
  return text;
}

RecordedExchange Exchange(std::int64_t sequence, std::optional<std::string> request,
                          std::optional<std::string> answer) {
  return {"0a1b2c3d4e5f60718293a4b5c6d7e8f9",
          sequence,
          {{kRequestSent, 1'000'000'000}, {kResponseReceived, 1'100'000'000}},
          std::move(request),
          std::move(answer)};
}

TEST(FieldRecordingTest, ReadsBackEveryByteOfItsTextsAndEveryNumber) {
  std::string all_bytes;
  for (int byte = 0; byte < 256; ++byte) {
    all_bytes += static_cast<char>(byte);
  }
  const std::vector<RecordedExchange> exchanges{
      Exchange(1, "aruco_config_path: \"/a b\\\\c\"\ntime_out: 2000\n", "success: true\r\n\t"),
      // Control characters, DEL, C1, line and paragraph separators, a byte order mark, NUL.
      Exchange(2,
               std::string("\x01\x1f\x7f\xc2\x85\xe2\x80\xa8\xe2\x80\xa9\xef\xbb\xbf", 14) +
                   std::string(1, '\0') + "\"'{}[],:#&*!|>%@`",
               "  leading and trailing blanks  "),
      // Not UTF-8: broken sequences, a surrogate, an overlong form, every byte.
      Exchange(3, std::string("\xff\xfe\xed\xa0\x80\xc0\xaf"), all_bytes),
      Exchange(4, "", ""),
      Exchange(5, std::nullopt, std::nullopt),
      {"", std::numeric_limits<std::int64_t>::min(), {}, std::nullopt, "answer"},
      {"ff",
       std::numeric_limits<std::int64_t>::max(),
       {{kRequestReceived, -5},
        {kResponseSent, std::numeric_limits<std::int64_t>::max()},
        {kRequestReceived, 0}},
       "request",
       std::nullopt},
  };
  const Recording read = ReadRecordingText(Recorded(exchanges));
  EXPECT_THAT(read.errors, IsEmpty());
  EXPECT_EQ(read.exchanges, exchanges);
}

TEST(FieldRecordingTest, WriterWritesTheHeaderAndWholeLines) {
  const std::string path = ::testing::TempDir() + "/field_recording_test.jsonl";
  const std::vector<RecordedExchange> exchanges{Exchange(1, "a", "b"), Exchange(2, "c", "")};
  {
    RecordingWriter writer(path);
    EXPECT_EQ(ReadTextFile(path), RecordingHeaderLine());
    for (const RecordedExchange& exchange : exchanges) {
      writer.Write(exchange);
    }
  }
  EXPECT_EQ(ReadTextFile(path), Recorded(exchanges));
  std::ifstream file(path);
  EXPECT_EQ(ReadRecording(file).exchanges, exchanges);
  std::filesystem::remove(path);
  EXPECT_THROW(RecordingWriter("/nonexistent-folder/recording.jsonl"), std::runtime_error);
}

struct BadLine {
  const char* name;
  std::string line;
  const char* message;
};

void PrintTo(const BadLine& bad, std::ostream* out) {
  *out << bad.name;
}

class BadLineTest : public ::testing::TestWithParam<BadLine> {};

// Between two good lines, a bad one costs only itself.
TEST_P(BadLineTest, IsAnErrorOfItsOwnLine) {
  const std::string good = RecordingLine(Exchange(1, "request", "answer"));
  const Recording read =
      ReadRecordingText(RecordingHeaderLine() + good + GetParam().line + "\n" + good);
  EXPECT_EQ(read.exchanges.size(), 2u);
  ASSERT_EQ(read.errors.size(), 1u);
  EXPECT_EQ(read.errors[0].line, 3u);
  EXPECT_THAT(read.errors[0].message, HasSubstr(GetParam().message));
}

constexpr const char* kEvents = R"("events":[{"type":"REQUEST_SENT","stamp_ns":1}])";

INSTANTIATE_TEST_SUITE_P(
    Lines, BadLineTest,
    ::testing::Values(
        BadLine{"NotJson", R"({"client_gid":"ab","sequence":1,)", "not JSON"},
        BadLine{"NotAnObject", "[1, 2]", "not a JSON object"},
        BadLine{"NoGid", std::string(R"({"sequence":1,)") + kEvents + "}",
                "\"client_gid\" is missing"},
        BadLine{"GidNotHex", std::string(R"({"client_gid":"AB","sequence":1,)") + kEvents + "}",
                "not lower-case hexadecimal"},
        BadLine{"GidANumber", std::string(R"({"client_gid":12,"sequence":1,)") + kEvents + "}",
                "\"client_gid\" is not a string"},
        BadLine{"SequenceAString",
                std::string(R"({"client_gid":"ab","sequence":"1",)") + kEvents + "}",
                "\"sequence\" is not a whole number"},
        BadLine{"SequenceAFraction",
                std::string(R"({"client_gid":"ab","sequence":1.5,)") + kEvents + "}",
                "\"sequence\" is not a whole number"},
        BadLine{
            "SequenceTooLarge",
            std::string(R"({"client_gid":"ab","sequence":9223372036854775808,)") + kEvents + "}",
            "\"sequence\" is not a whole number of 64 bits"},
        BadLine{"NoEvents", R"({"client_gid":"ab","sequence":1})", "\"events\" is missing"},
        BadLine{"EventsAnObject", R"({"client_gid":"ab","sequence":1,"events":{}})",
                "\"events\" is not an array"},
        BadLine{
            "UnknownEvent",
            R"({"client_gid":"ab","sequence":1,"events":[{"type":"REQUEST_LOST","stamp_ns":1}]})",
            "\"events[0].type\" is \"REQUEST_LOST\", none of"},
        BadLine{"StampMissing",
                R"({"client_gid":"ab","sequence":1,"events":[{"type":"REQUEST_SENT"}]})",
                "\"events[0].stamp_ns\" is missing"},
        BadLine{"RequestANumber",
                std::string(R"({"client_gid":"ab","sequence":1,)") + kEvents + R"(,"request":5})",
                "\"request\" is not a string"},
        BadLine{"AnswerTwice",
                std::string(R"({"client_gid":"ab","sequence":1,)") + kEvents +
                    R"(,"answer":"a","answer_base64":"YQ=="})",
                "both given"},
        BadLine{"BadBase64",
                std::string(R"({"client_gid":"ab","sequence":1,)") + kEvents +
                    R"(,"answer_base64":"YR=="})",
                "\"answer_base64\" is not base64"},
        BadLine{"HeaderAgain", R"({"format":"kestrava-perception-recording","version":1})",
                "\"client_gid\" is missing"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FieldRecordingTest, IgnoresEmptyLinesAndKeysItDoesNotKnow) {
  const Recording read = ReadRecordingText(
      "\n" + RecordingHeaderLine() + "  \n\r\n" +
      R"({"client_gid":"ab","sequence":7,"events":[{"type":"RESPONSE_SENT","stamp_ns":3,"node":"x"}],"request":"r","answer":null,"later":{"a":[1]}})"
      "\n");
  EXPECT_THAT(read.errors, IsEmpty());
  EXPECT_THAT(read.exchanges,
              ElementsAre(RecordedExchange{"ab", 7, {{kResponseSent, 3}}, "r", std::nullopt}));
}

struct BadRecording {
  const char* name;
  std::string text;
  std::size_t exchanges;
  std::size_t error_line;
  const char* message;
};

void PrintTo(const BadRecording& bad, std::ostream* out) {
  *out << bad.name;
}

class BadRecordingTest : public ::testing::TestWithParam<BadRecording> {};

TEST_P(BadRecordingTest, KeepsWhatItCanRead) {
  const Recording read = ReadRecordingText(GetParam().text);
  EXPECT_EQ(read.exchanges.size(), GetParam().exchanges);
  ASSERT_EQ(read.errors.size(), 1u);
  EXPECT_EQ(read.errors[0].line, GetParam().error_line);
  EXPECT_THAT(read.errors[0].message, HasSubstr(GetParam().message));
}

const std::string kGood = RecordingLine(Exchange(1, "request", "answer"));

INSTANTIATE_TEST_SUITE_P(
    Recordings, BadRecordingTest,
    ::testing::Values(
        BadRecording{"Empty", "", 0, 1, "no recording header"},
        BadRecording{"NoHeader", kGood + kGood, 1, 1, "no recording header"},
        BadRecording{"OtherFormat",
                     R"({"format":"csv","version":1})"
                     "\n" +
                         kGood,
                     1, 1, "\"format\" is not \"kestrava-perception-recording\""},
        BadRecording{"NewerVersion",
                     R"({"format":"kestrava-perception-recording","version":2})"
                     "\n" +
                         kGood,
                     1, 1, "version 2, this reader knows version 1 only"},
        // What a crash while writing leaves: the last line without its line feed, even where
        // what was written happens to be a whole object.
        BadRecording{"CutShort", RecordingHeaderLine() + kGood + kGood.substr(0, 30), 1, 3,
                     "cut short"},
        BadRecording{"CutAtTheLineFeed",
                     RecordingHeaderLine() + kGood + kGood.substr(0, kGood.size() - 1), 1, 3,
                     "cut short"},
        BadRecording{"HeaderCutShort", RecordingHeaderLine().substr(0, 20), 0, 1, "cut short"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kestrava_arm::host

namespace kestrava_arm::check {
namespace {

using host::RecordedExchange;
using ::testing::HasSubstr;
using ::testing::Optional;

constexpr std::int64_t kMs = 1'000'000;
const std::string kTaken =
    "success: true\narm_base_end: {translation: [0.42, -0.1, 0.35], rotation: [0, 0, 0.7071068, "
    "0.7071068], description: \"bowl\"}\n";

std::string Request(const std::string& time_out) {
  return "aruco_config_path: /data/aruco.yaml\ntime_out: " + time_out + "\ncamera_frame_id: camera";
}

RecordedExchange Timed(std::vector<host::RecordedEvent> events, std::optional<std::string> request,
                       std::optional<std::string> answer) {
  return {"ab", 1, std::move(events), std::move(request), std::move(answer)};
}

TEST(JudgeExchangeTest, AnAnswerAtTheLimitIsInTimeAndOneMillisecondLaterIsNot) {
  // 2000.9 ms is 2000 whole milliseconds, as the node counts.
  const auto at_limit = JudgeExchange(
      Timed({{host::kRequestSent, 0}, {host::kResponseReceived, 2000 * kMs + 900'000}},
            Request("2000"), kTaken));
  EXPECT_FALSE(at_limit.timed_out);
  EXPECT_TRUE(at_limit.outcome.succeeded);
  EXPECT_EQ(at_limit.latency, std::chrono::milliseconds(2000));
  EXPECT_EQ(at_limit.task, "/data/aruco.yaml");
  EXPECT_THAT(at_limit.time_limit_ms, Optional(2000.0));

  const auto late = JudgeExchange(Timed(
      {{host::kRequestSent, 0}, {host::kResponseReceived, 2001 * kMs}}, Request("2000"), kTaken));
  EXPECT_TRUE(late.timed_out);
  EXPECT_FALSE(late.outcome.succeeded);
  EXPECT_EQ(late.outcome.status_code, bt::kStatusTimeout);
  EXPECT_EQ(late.outcome.reason, "answered after 2001 ms, past the request's time_out of 2000 ms");
  EXPECT_THAT(ExchangeLine({}, late), HasSubstr("FAILURE  error_code=- status_code=102501008"));
}

TEST(JudgeExchangeTest, TakesTheClientsLatencyOverTheServicesAndTheServicesWithoutIt) {
  const std::vector<host::RecordedEvent> both{{host::kRequestSent, 0},
                                              {host::kRequestReceived, 100 * kMs},
                                              {host::kResponseSent, 1900 * kMs},
                                              {host::kResponseReceived, 2500 * kMs}};
  EXPECT_EQ(JudgeExchange(Timed(both, Request("2000"), kTaken)).latency,
            std::chrono::milliseconds(2500));
  const auto service_side =
      JudgeExchange(Timed({both[1], both[2], both[3]}, Request("2000"), kTaken));
  EXPECT_EQ(service_side.latency, std::chrono::milliseconds(1800));
  EXPECT_FALSE(service_side.timed_out);
}

TEST(JudgeExchangeTest, NoAnswerTimesOutWithOrWithoutAKnownLimit) {
  const auto none = JudgeExchange(Timed({{host::kRequestSent, 0}}, Request("1500.5"), {}));
  EXPECT_TRUE(none.timed_out);
  EXPECT_EQ(none.outcome.status_code, bt::kStatusTimeout);
  EXPECT_EQ(none.outcome.reason, "no answer within the request's time_out of 1500.5 ms");
  EXPECT_EQ(none.latency, std::nullopt);

  const auto unknown_limit = JudgeExchange(Timed({{host::kRequestSent, 0}}, std::nullopt, {}));
  EXPECT_TRUE(unknown_limit.timed_out);
  EXPECT_THAT(unknown_limit.outcome.reason, HasSubstr("time_out is unknown"));
}

TEST(JudgeExchangeTest, WithoutAReadableLimitNoAnswerIsLate) {
  for (const std::optional<std::string>& request :
       {std::optional<std::string>(), std::optional<std::string>("[not, a, map"),
        std::optional<std::string>(Request(".nan")), std::optional<std::string>(Request("soon"))}) {
    const auto verdict = JudgeExchange(
        Timed({{host::kRequestSent, 0}, {host::kResponseReceived, 60'000 * kMs}}, request, kTaken));
    EXPECT_EQ(verdict.time_limit_ms, std::nullopt);
    EXPECT_FALSE(verdict.timed_out);
    EXPECT_TRUE(verdict.outcome.succeeded);
  }
}

TEST(JudgeExchangeTest, AnAnswerInTimeIsJudgedAsTheNodeWould) {
  const std::string refused = "success: false\n";
  const auto verdict = JudgeExchange(Timed(
      {{host::kRequestSent, 0}, {host::kResponseReceived, 5 * kMs}}, Request("2000"), refused));
  const bt::RunOutcome expected = bt::JudgeAnswer(refused);
  EXPECT_EQ(verdict.outcome.error_code, expected.error_code);
  EXPECT_EQ(verdict.outcome.status_code, expected.status_code);
  EXPECT_EQ(verdict.outcome.reason, expected.reason);
}

TEST(JudgeExchangeTest, AnAnswerWithoutContentsIsUnknownAndNotTaken) {
  const auto verdict = JudgeExchange(
      Timed({{host::kRequestSent, 0}, {host::kResponseReceived, 5 * kMs}}, Request("2000"), {}));
  EXPECT_TRUE(verdict.answer_unrecorded);
  EXPECT_FALSE(verdict.timed_out);
  EXPECT_STREQ(EndOf(verdict), "UNKNOWN");
  ExchangeTally tally;
  tally.Add(verdict);
  EXPECT_FALSE(tally.AllTaken());
  EXPECT_THAT(TallySummary(tally), HasSubstr("1 unknown"));
}

TEST(ExchangeLineTest, SaysWhenWhatHowLongAndHowItEnded) {
  const RecordedExchange exchange = Timed(
      {{host::kRequestSent, 1772442900123456789}, {host::kResponseReceived, 1772442900158456789}},
      Request("2000"), "success: false\n");
  EXPECT_EQ(ExchangeLine(exchange, JudgeExchange(exchange)),
            "2026-03-02T09:15:00.123Z  /data/aruco.yaml  35 ms  FAILURE  error_code=102300001 "
            "status_code=102300001  " +
                bt::JudgeAnswer("success: false\n").reason);
}

// The example recording is what the writer makes of the requests that the node sends with
// bt_host's defaults and examples/detect_only.xml, and of the example answers; with
// KESTRAVA_WRITE_EXAMPLE_RECORDING=1 the test writes it anew.
TEST(ExampleRecordingTest, IsWhatTheWriterMakes) {
  const std::string request = bt::WritePerceptionRequest({}, 2000).request_yaml;
  const std::string gid = "010f7a3c9e2b4d8100000000000015a3";
  constexpr std::int64_t kStart = 1772442900'000'000'000;  // 2026-03-02T09:15:00Z
  const std::vector<std::optional<std::string>> answers{
      "success: true\narm_base_end: {translation: [0.42, -0.1, 0.35], rotation: [0.0, 0.0, "
      "0.7071068, 0.7071068], description: \"toilet bowl centre in arm_base_link\"}\n"
      "camera_end: {translation: [0.05, 0.12, 0.61], rotation: [0.5, -0.5, 0.5, 0.5], "
      "description: \"toilet bowl centre in camera_06_color_optical_frame\"}\n",
      "success: false\narm_base_end: {translation: [0.0, 0.0, 0.0], rotation: [0.0, 0.0, 0.0, "
      "1.0], description: \"no marker visible\"}\n",
      "success: true\narm_base_end: {translation: [0.42, -0.1, 0.35], rotation: [0.0, 0.0, "
      "0.7071068\n",
      "success: true\narm_base_end: {translation: [.nan, -0.1, 0.35], rotation: [0.0, 0.0, 0.0, "
      "0.0], description: \"toilet bowl centre in arm_base_link\"}\n",
      std::nullopt};
  const std::int64_t latencies_ms[] = {184, 203, 95, 151, 0};
  std::string expected = host::RecordingHeaderLine();
  for (std::size_t i = 0; i < answers.size(); ++i) {
    const std::int64_t sent = kStart + static_cast<std::int64_t>(i) * 3'000 * kMs;
    RecordedExchange exchange{gid,
                              static_cast<std::int64_t>(i + 1),
                              {{host::kRequestSent, sent}, {host::kRequestReceived, sent + kMs}},
                              request,
                              answers[i]};
    if (answers[i]) {
      const std::int64_t answered = sent + latencies_ms[i] * kMs;
      exchange.events.push_back({host::kResponseSent, answered - kMs});
      exchange.events.push_back({host::kResponseReceived, answered});
    }
    expected += host::RecordingLine(exchange);
  }
  const std::string path = std::string(KESTRAVA_EXAMPLES_DIR) + "/recordings/detect_only.jsonl";
  if (std::getenv("KESTRAVA_WRITE_EXAMPLE_RECORDING") != nullptr) {
    std::ofstream(path, std::ios::binary) << expected;
  }
  EXPECT_EQ(host::ReadTextFile(path), expected)
      << "to write it anew: KESTRAVA_WRITE_EXAMPLE_RECORDING=1 field_recording_test";
}

}  // namespace
}  // namespace kestrava_arm::check
