#include "exchange_pairing.hpp"

#include <algorithm>

#include "exchange_verdict.hpp"

namespace kestrava_arm::check {
namespace {

using std::chrono::milliseconds;

// Long enough for any straggler of a complete exchange: the other side's events come within
// moments of its own.
constexpr std::chrono::seconds kRememberCompleted{60};

bool IsClientEvent(const std::string& type) {
  return type == host::kRequestSent || type == host::kResponseReceived;
}

// Whether two views of a request may be the same request: equal where both carry it.
bool RequestsAgree(const std::optional<std::string>& a, const std::optional<std::string>& b) {
  return !a || !b || *a == *b;
}

bool IsAnswerEvent(const std::string& type) {
  return type == host::kResponseSent || type == host::kResponseReceived;
}

bool BothAnswersIn(const host::RecordedExchange& exchange) {
  return host::StampOf(exchange, host::kResponseSent) &&
         host::StampOf(exchange, host::kResponseReceived);
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

// The events, documents and sides of `other` added to `into`, which began first.
void ExchangePairer::MergeSides(Pending& into, Pending&& other) {
  for (host::RecordedEvent& event : other.exchange.events) {
    into.exchange.events.push_back(std::move(event));
  }
  if (!into.exchange.request_yaml) {
    into.exchange.request_yaml = std::move(other.exchange.request_yaml);
  }
  if (!into.exchange.answer_yaml) {
    into.exchange.answer_yaml = std::move(other.exchange.answer_yaml);
  }
  if (!into.first_answer) {
    into.first_answer = other.first_answer;
  }
  into.sides.client = into.sides.client || other.sides.client;
  into.sides.service = into.sides.service || other.sides.service;
  into.complete = into.complete || other.complete;
}

ExchangePairer::ExchangePairer(milliseconds default_limit, milliseconds settle)
    : default_limit_(default_limit), settle_(settle) {}

std::vector<host::RecordedExchange> ExchangePairer::Add(ServiceEvent event, Clock::time_point now) {
  ForgetOldCompleted(now);
  const bool from_client = IsClientEvent(event.event.type);
  Key key = KeyOf(event, from_client);
  if (completed_.count(key) > 0) {
    return {};
  }
  if (pending_.count(key) == 0) {
    key = JoinOtherSide(key, from_client, event.request_yaml);
    if (completed_.count(key) > 0) {
      return {};  // the late first event of a side, of an exchange complete without it
    }
  }
  Pending& pending = PendingFor(key, now);
  (from_client ? pending.sides.client : pending.sides.service) = true;
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
  if (BothAnswersIn(pending.exchange)) {
    MarkComplete(key, pending, now);
  }
  return TakeCompleteFront();
}

std::vector<host::RecordedExchange> ExchangePairer::TakeDue(Clock::time_point now) {
  for (auto& [key, pending] : pending_) {
    if (!pending.complete && Due(pending, now)) {
      MarkComplete(key, pending, now);
    }
  }
  return TakeCompleteFront();
}

std::pair<std::vector<host::RecordedExchange>, std::size_t> ExchangePairer::TakeAnsweredAtStop() {
  std::vector<host::RecordedExchange> answered;
  std::size_t awaiting = 0;
  for (const Key& key : begun_) {
    Pending& pending = pending_.at(key);
    if (pending.first_answer) {
      answered.push_back(std::move(pending.exchange));
    } else {
      ++awaiting;
    }
  }
  pending_.clear();
  begun_.clear();
  return {std::move(answered), awaiting};
}

ExchangePairer::Key ExchangePairer::KeyOf(const ServiceEvent& event, bool from_client) const {
  if (!from_client) {
    const auto client = client_of_service_gid_.find(event.client_gid);
    if (client != client_of_service_gid_.end()) {
      return {client->second, event.sequence};
    }
  }
  return {event.client_gid, event.sequence};
}

// The client names itself by one gid in its events and the service by another (the middleware's
// id of the client's request writer, response reader or a hash), so the sides' gids are paired
// by their exchanges: an exchange seen only from the other side, pending or lately complete, with
// the same sequence number and request, by a gid not yet paired. Paired once it is unambiguous,
// and for good.
ExchangePairer::Key ExchangePairer::JoinOtherSide(const Key& key, bool from_client,
                                                  const std::optional<std::string>& request) {
  if ((from_client ? paired_clients_.count(key.first) : client_of_service_gid_.count(key.first)) >
      0) {
    return key;
  }
  const auto seen_from_other_side_only = [&](const Key& other, const Sides& sides) {
    const bool gid_free = from_client ? client_of_service_gid_.count(other.first) == 0
                                      : paired_clients_.count(other.first) == 0;
    return other.second == key.second && gid_free && (from_client ? !sides.client : !sides.service);
  };
  std::vector<Key> partners;
  for (const auto& [other, pending] : pending_) {
    if (seen_from_other_side_only(other, pending.sides) &&
        RequestsAgree(pending.exchange.request_yaml, request)) {
      partners.push_back(other);
    }
  }
  for (const auto& [other, sides] : completed_) {
    if (seen_from_other_side_only(other, sides)) {
      partners.push_back(other);
    }
  }
  // None, or several clients of this sequence number at once: nothing to pair yet.
  if (partners.size() != 1) {
    return key;
  }
  const Key& partner = partners.front();
  const std::string& client_gid = from_client ? key.first : partner.first;
  const std::string& service_gid = from_client ? partner.first : key.first;
  client_of_service_gid_.emplace(service_gid, client_gid);
  paired_clients_.insert(client_gid);
  const std::string joined_gid = client_gid;
  Refile(service_gid, joined_gid);
  return {joined_gid, key.second};
}

// Files the exchanges seen from the service's side only, pending or complete, under their
// client's gid, so that the later events of any of them join it.
void ExchangePairer::Refile(const std::string& service_gid, const std::string& client_gid) {
  const auto refiled = [&](Key key) {
    if (key.first == service_gid) {
      key.first = client_gid;
    }
    return key;
  };
  std::map<Key, Pending> pending;
  for (auto& [key, exchange] : pending_) {
    exchange.exchange.client_gid = refiled(key).first;
    auto [filed, inserted] = pending.try_emplace(refiled(key), std::move(exchange));
    if (!inserted) {
      // The client's side of the same exchange, seen before the gids were paired.
      MergeSides(filed->second, std::move(exchange));
    }
  }
  pending_ = std::move(pending);
  std::map<Key, Sides> completed;
  for (const auto& [key, sides] : completed_) {
    Sides& filed = completed[refiled(key)];
    filed.client = filed.client || sides.client;
    filed.service = filed.service || sides.service;
  }
  completed_ = std::move(completed);
  std::deque<Key> begun;
  for (const Key& key : begun_) {
    if (std::find(begun.begin(), begun.end(), refiled(key)) == begun.end()) {
      begun.push_back(refiled(key));
    }
  }
  begun_ = std::move(begun);
  for (auto& [when, key] : completed_order_) {
    key = refiled(key);
  }
}

ExchangePairer::Pending& ExchangePairer::PendingFor(Key key, Clock::time_point now) {
  auto [entry, inserted] = pending_.try_emplace(key);
  if (inserted) {
    entry->second.exchange.client_gid = key.first;
    entry->second.exchange.sequence = key.second;
    entry->second.first_seen = now;
    entry->second.limit = default_limit_;
    begun_.push_back(std::move(key));
  }
  return entry->second;
}

void ExchangePairer::MarkComplete(const Key& key, Pending& pending, Clock::time_point now) {
  pending.complete = true;
  completed_.emplace(key, pending.sides);
  completed_order_.emplace_back(now, key);
}

bool ExchangePairer::Due(const Pending& pending, Clock::time_point now) const {
  if (pending.first_answer) {
    return now - *pending.first_answer >= settle_;
  }
  return now - pending.first_seen >= pending.limit + settle_;
}

std::vector<host::RecordedExchange> ExchangePairer::TakeCompleteFront() {
  std::vector<host::RecordedExchange> taken;
  while (!begun_.empty() && pending_.at(begun_.front()).complete) {
    const auto entry = pending_.find(begun_.front());
    taken.push_back(std::move(entry->second.exchange));
    pending_.erase(entry);
    begun_.pop_front();
  }
  return taken;
}

void ExchangePairer::ForgetOldCompleted(Clock::time_point now) {
  while (!completed_order_.empty() && now - completed_order_.front().first > kRememberCompleted) {
    completed_.erase(completed_order_.front().second);
    completed_order_.pop_front();
  }
}

}  // namespace kestrava_arm::check
