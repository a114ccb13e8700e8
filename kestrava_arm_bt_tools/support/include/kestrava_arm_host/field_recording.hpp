#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrava_arm::host {

// A recording of the perception link as its service events showed it: one exchange per line, so
// that a recording cut short by a crash loses at most its last, unfinished line. doc/watching-
// the-field.md describes the format.

// One event of an exchange: its type as service_msgs/ServiceEventInfo names it ("REQUEST_SENT",
// "REQUEST_RECEIVED", "RESPONSE_SENT", "RESPONSE_RECEIVED") and its stamp, in nanoseconds since
// the epoch.
struct RecordedEvent {
  std::string type;
  std::int64_t stamp_ns = 0;

  friend bool operator==(const RecordedEvent& a, const RecordedEvent& b) {
    return a.type == b.type && a.stamp_ns == b.stamp_ns;
  }
};

// The four event types, as the recording and service_msgs/ServiceEventInfo name them.
inline constexpr const char* kRequestSent = "REQUEST_SENT";
inline constexpr const char* kRequestReceived = "REQUEST_RECEIVED";
inline constexpr const char* kResponseSent = "RESPONSE_SENT";
inline constexpr const char* kResponseReceived = "RESPONSE_RECEIVED";

// One request and its answer, if one came: the events of the client's and the service's side
// that carry the same client gid and sequence number.
struct RecordedExchange {
  std::string client_gid;  // the client's gid, lower-case hex (the reader takes nothing else)
  std::int64_t sequence = 0;
  std::vector<RecordedEvent> events;        // in the order they were seen
  std::optional<std::string> request_yaml;  // nothing when only metadata was published
  std::optional<std::string> answer_yaml;   // nothing when no answer, or only metadata, came

  friend bool operator==(const RecordedExchange& a, const RecordedExchange& b) {
    return a.client_gid == b.client_gid && a.sequence == b.sequence && a.events == b.events &&
           a.request_yaml == b.request_yaml && a.answer_yaml == b.answer_yaml;
  }
};

// Whether an event of the answer was seen (with or without its contents).
bool Answered(const RecordedExchange& exchange);

// The stamp of the exchange's first event of this type; nothing when none was seen.
std::optional<std::int64_t> StampOf(const RecordedExchange& exchange, std::string_view type);

// From the first event of type `from` to the first of type `to`, when both were seen.
std::optional<std::chrono::nanoseconds> TimeBetween(const RecordedExchange& exchange,
                                                    std::string_view from, std::string_view to);

// The first line of every recording, line feed included.
std::string RecordingHeaderLine();

// One exchange as one line, line feed included. The request and the answer are written as JSON
// strings ("request", "answer") when they are valid UTF-8, which a service's answers normally
// are, and as base64 ("request_base64", "answer_base64") otherwise, so that every byte of them
// reads back as it was: a recording replays a service that sent broken text as it sent it.
std::string RecordingLine(const RecordedExchange& exchange);

// A recording being written: the header at once, then each exchange as one line handed to the
// operating system in one write, so that a crash of the program leaves every line but the one
// being written whole. Not thread-safe.
class RecordingWriter {
 public:
  // Creates or empties the file; throws std::runtime_error naming the path when it cannot.
  explicit RecordingWriter(const std::string& path);
  ~RecordingWriter();
  RecordingWriter(const RecordingWriter&) = delete;
  RecordingWriter& operator=(const RecordingWriter&) = delete;

  // Throws std::runtime_error naming the path when the line cannot be written.
  void Write(const RecordedExchange& exchange);

 private:
  void WriteLine(const std::string& line);

  std::string path_;
  int descriptor_ = -1;
};

// A line that could not be read, by its number (the header is line 1).
struct RecordingLineError {
  std::size_t line = 0;
  std::string message;
};

struct Recording {
  std::vector<RecordedExchange> exchanges;  // every line that could be read, in order
  std::vector<RecordingLineError> errors;   // and every line that could not, in order
};

// Reads a whole recording; a bad line is an error of its own and never costs the others. Empty
// lines (blanks only) are skipped; the first other line must be the header, and is never read
// as an exchange; every later one yields either an exchange or an error. Keys a line has beyond
// those of the format are ignored.
Recording ReadRecording(std::istream& text);
Recording ReadRecordingText(const std::string& text);

}  // namespace kestrava_arm::host
