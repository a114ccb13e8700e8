#include "kestrava_arm_host/answer_source.hpp"

#include <algorithm>
#include <map>
#include <mutex>
#include <stdexcept>
#include <utility>

#include <fmt/format.h>

namespace kestrava_arm::host {
namespace {

using std::chrono::milliseconds;

std::optional<milliseconds> RecordedDelay(const RecordedExchange& exchange) {
  auto delay = TimeBetween(exchange, kRequestReceived, kResponseSent);
  if (!delay) {
    delay = TimeBetween(exchange, kRequestSent, kResponseReceived);
  }
  if (!delay) {
    return std::nullopt;
  }
  return std::max(milliseconds(0), std::chrono::round<milliseconds>(*delay));
}

}  // namespace

class AnswerSource::Replayed {
 public:
  Replayed(const std::vector<RecordedExchange>& exchanges, bool recorded_delays)
      : recorded_delays_(recorded_delays) {
    for (std::size_t i = 0; i < exchanges.size(); ++i) {
      const RecordedExchange& exchange = exchanges[i];
      if (!exchange.request_yaml) {
        ++left_out_;
        continue;
      }
      Reply reply;
      reply.answer_yaml = exchange.answer_yaml;
      reply.delay = recorded_delays ? RecordedDelay(exchange) : std::nullopt;
      const std::string which =
          fmt::format("recorded exchange #{} (sequence {})", i + 1, exchange.sequence);
      if (exchange.answer_yaml) {
        reply.note = "the answer of the " + which;
      } else if (Answered(exchange)) {
        reply.note =
            "left unanswered as the " + which + ", whose answer's contents were not recorded";
      } else {
        reply.note = "left unanswered as the " + which + ", which got no answer";
      }
      turns_[*exchange.request_yaml].replies.push_back(std::move(reply));
      ++used_;
    }
    if (used_ == 0) {
      throw std::invalid_argument(
          exchanges.empty() ? "the recording holds no exchange"
                            : "no exchange of the recording holds its request's contents");
    }
  }

  Reply ReplyTo(const std::string& request_yaml) {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto turn = turns_.find(request_yaml);
    if (turn == turns_.end()) {
      Reply none;
      none.matched = false;
      none.note = "left unanswered: no recorded request is the same";
      return none;
    }
    Turns& turns = turn->second;
    Reply reply = turns.replies[turns.next];
    turns.next = (turns.next + 1) % turns.replies.size();
    return reply;
  }

  std::string Description() const {
    std::string text = fmt::format(
        "the answers of {} recorded exchange(s) to {} distinct request(s)", used_, turns_.size());
    if (left_out_ > 0) {
      text += fmt::format(", {} left out without their request's contents", left_out_);
    }
    return text + (recorded_delays_ ? ", each after its recorded delay where one is known" : "");
  }

 private:
  struct Turns {
    std::vector<Reply> replies;  // in recorded order
    std::size_t next = 0;
  };

  const bool recorded_delays_;
  std::mutex mutex_;
  std::map<std::string, Turns> turns_;
  std::size_t used_ = 0;
  std::size_t left_out_ = 0;
};

AnswerSource::AnswerSource(std::string response_yaml) : fixed_(std::move(response_yaml)) {}

AnswerSource::AnswerSource(const char* response_yaml) : fixed_(response_yaml) {}

AnswerSource AnswerSource::Replay(const std::vector<RecordedExchange>& exchanges,
                                  bool recorded_delays) {
  AnswerSource source;
  source.replay_ = std::make_shared<Replayed>(exchanges, recorded_delays);
  return source;
}

AnswerSource::Reply AnswerSource::ReplyTo(const std::string& request_yaml) const {
  if (replay_) {
    return replay_->ReplyTo(request_yaml);
  }
  Reply reply;
  reply.answer_yaml = fixed_;
  return reply;
}

std::string AnswerSource::Description() const {
  return replay_ ? replay_->Description() : "a fixed answer";
}

}  // namespace kestrava_arm::host
