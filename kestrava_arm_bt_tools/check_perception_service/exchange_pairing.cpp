#include "exchange_pairing.hpp"

#include <algorithm>

#include "exchange_verdict.hpp"

namespace kestrava_arm::check {
namespace {

using std::chrono::milliseconds;

// Long enough for any straggler of a complete exchange: the other side's events come within
// moments of its own.
constexpr std::chrono::seconds kRememberCompleted{60};

bool Seen(const host::RecordedExchange& exchange, const char* type) {
  return std::any_of(exchange.events.begin(), exchange.events.end(),
                     [type](const host::RecordedEvent& event) { return event.type == type; });
}

bool IsAnswerEvent(const std::string& type) {
  return type == "RESPONSE_SENT" || type == "RESPONSE_RECEIVED";
}

// What the event adds to the exchange: itself and the documents it carries.
void Merge(host::RecordedExchange& exchange, ServiceEvent&& event) {
  exchange.events.push_back(std::move(event.event));
  if (event.request_yaml && !exchange.request_yaml) {
    exchange.request_yaml = std::move(event.request_yaml);
  }
  if (event.answer_yaml && !exchange.answer_yaml) {
    exchange.answer_yaml = std::move(event.answer_yaml);
  }
}

}  // namespace

ExchangePairer::ExchangePairer(milliseconds default_limit, milliseconds settle)
    : default_limit_(default_limit), settle_(settle) {}

std::optional<host::RecordedExchange> ExchangePairer::Add(ServiceEvent event,
                                                          Clock::time_point now) {
  ForgetOldCompleted(now);
  Key key{event.client_gid, event.sequence};
  if (completed_.count(key) > 0) {
    return std::nullopt;
  }
  auto [entry, inserted] = pending_.try_emplace(key);
  Pending& pending = entry->second;
  if (inserted) {
    pending.exchange.client_gid = std::move(key.first);
    pending.exchange.sequence = key.second;
    pending.first_seen = now;
    pending.limit = default_limit_;
    pending.arrival = arrivals_++;
  }
  const bool had_request = pending.exchange.request_yaml.has_value();
  const bool answer_event = IsAnswerEvent(event.event.type);
  Merge(pending.exchange, std::move(event));
  if (!had_request && pending.exchange.request_yaml) {
    // The limit the request itself states, which is what the node waits.
    if (const auto limit = JudgeExchange(pending.exchange).time_limit_ms) {
      pending.limit = milliseconds(static_cast<milliseconds::rep>(*limit));
    }
  }
  if (answer_event && !pending.first_answer) {
    pending.first_answer = now;
  }
  if (BothAnswersIn(pending)) {
    return Complete(entry, now);
  }
  return std::nullopt;
}

std::vector<host::RecordedExchange> ExchangePairer::TakeDue(Clock::time_point now) {
  std::vector<std::map<Key, Pending>::iterator> due;
  for (auto entry = pending_.begin(); entry != pending_.end(); ++entry) {
    if (Due(entry->second, now)) {
      due.push_back(entry);
    }
  }
  std::sort(due.begin(), due.end(),
            [](const auto& a, const auto& b) { return a->second.arrival < b->second.arrival; });
  std::vector<host::RecordedExchange> exchanges;
  for (const auto& entry : due) {
    exchanges.push_back(Complete(entry, now));
  }
  return exchanges;
}

std::pair<std::vector<host::RecordedExchange>, std::size_t> ExchangePairer::TakeAnsweredAtStop() {
  std::vector<host::RecordedExchange> answered;
  std::size_t awaiting = 0;
  std::vector<Pending> in_arrival_order;
  for (auto& [key, pending] : pending_) {
    in_arrival_order.push_back(std::move(pending));
  }
  pending_.clear();
  std::sort(in_arrival_order.begin(), in_arrival_order.end(),
            [](const Pending& a, const Pending& b) { return a.arrival < b.arrival; });
  for (Pending& pending : in_arrival_order) {
    if (pending.first_answer) {
      answered.push_back(std::move(pending.exchange));
    } else {
      ++awaiting;
    }
  }
  return {std::move(answered), awaiting};
}

bool ExchangePairer::BothAnswersIn(const Pending& pending) const {
  return Seen(pending.exchange, "RESPONSE_SENT") && Seen(pending.exchange, "RESPONSE_RECEIVED");
}

bool ExchangePairer::Due(const Pending& pending, Clock::time_point now) const {
  if (pending.first_answer) {
    return now - *pending.first_answer >= settle_;
  }
  return now - pending.first_seen >= pending.limit + settle_;
}

host::RecordedExchange ExchangePairer::Complete(std::map<Key, Pending>::iterator entry,
                                                Clock::time_point now) {
  completed_.insert(entry->first);
  completed_order_.emplace_back(now, entry->first);
  host::RecordedExchange exchange = std::move(entry->second.exchange);
  pending_.erase(entry);
  return exchange;
}

void ExchangePairer::ForgetOldCompleted(Clock::time_point now) {
  while (!completed_order_.empty() && now - completed_order_.front().first > kRememberCompleted) {
    completed_.erase(completed_order_.front().second);
    completed_order_.pop_front();
  }
}

}  // namespace kestrava_arm::check
