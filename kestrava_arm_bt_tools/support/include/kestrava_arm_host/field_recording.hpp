#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <optional>
#include <string>
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
};

// One request and its answer, if one came: the events of the client's and the service's side
// that carry the same client gid and sequence number.
struct RecordedExchange {
  std::string client_gid;  // the client's gid, lower-case hex
  std::int64_t sequence = 0;
  std::vector<RecordedEvent> events;        // in the order they were seen
  std::optional<std::string> request_yaml;  // nothing when only metadata was published
  std::optional<std::string> answer_yaml;   // nothing when no answer, or only metadata, came
};

// Whether an event of the answer was seen (with or without its contents).
bool Answered(const RecordedExchange& exchange);

// The first line of every recording.
std::string RecordingHeaderLine();

// One exchange as one line, line feed included.
std::string RecordingLine(const RecordedExchange& exchange);

// A line that could not be read, by its number (the header is line 1).
struct RecordingLineError {
  std::size_t line = 0;
  std::string message;
};

struct Recording {
  std::vector<RecordedExchange> exchanges;  // every line that could be read, in order
  std::vector<RecordingLineError> errors;   // and every line that could not
};

// Reads a whole recording; a bad line is an error of its own and never costs the others.
Recording ReadRecording(std::istream& text);
Recording ReadRecordingText(const std::string& text);

}  // namespace kestrava_arm::host
