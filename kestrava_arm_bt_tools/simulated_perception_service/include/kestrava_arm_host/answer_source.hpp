#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kestrava_arm_host/field_recording.hpp"

namespace kestrava_arm::host {

// What the simulated perception service answers each request with: one fixed document for every
// request, or the recorded answers of a field recording (doc/watching-the-field.md) replayed.
// Copies share the position of a replay.
class AnswerSource {
 public:
  // A fixed document, sent back verbatim, well formed or not; implicit, so that a document is
  // an answer source.
  AnswerSource(std::string response_yaml);  // NOLINT(google-explicit-constructor)
  AnswerSource(const char* response_yaml);  // NOLINT(google-explicit-constructor)
  AnswerSource() : AnswerSource(std::string()) {}

  // Each request is answered with the recorded answer of an exchange whose request text is the
  // same, byte for byte. A request that repeats gets the answers of its exchanges in recorded
  // order, starting over after the last. An exchange that got no answer, or whose answer's
  // contents were not recorded, leaves its request unanswered; so does a request that matches no
  // recorded request. With recorded_delays, each answer comes after its recorded delay: the
  // service's (RESPONSE_SENT - REQUEST_RECEIVED) where recorded, else the client's. Exchanges
  // without a request text cannot be matched and are left out. Throws std::invalid_argument
  // when no exchange is left.
  static AnswerSource Replay(const std::vector<RecordedExchange>& exchanges, bool recorded_delays);

  struct Reply {
    std::optional<std::string> answer_yaml;          // nothing: leave the request unanswered
    std::optional<std::chrono::milliseconds> delay;  // nothing: the service's reply delay
    std::string note;     // for the log: the recorded exchange replayed, or why none answers
    bool matched = true;  // false for a request that matches no recorded request
  };

  // The reply to one request, in the order requests come. Safe to call from any threads at once.
  Reply ReplyTo(const std::string& request_yaml) const;

  // For the service's log, e.g. "a fixed answer" or "the answers of 5 recorded exchanges".
  std::string Description() const;

 private:
  class Replayed;  // the recorded exchanges by request, and where each request's turn is

  std::string fixed_;
  std::shared_ptr<Replayed> replay_;  // nothing for a fixed answer
};

}  // namespace kestrava_arm::host
