#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "kestrava_arm_host/field_recording.hpp"

namespace kestrava_arm::check {

// One service event as the watch received it, in plain types.
struct ServiceEvent {
  host::RecordedEvent event;
  std::string client_gid;
  std::int64_t sequence = 0;
  std::optional<std::string> request_yaml;
  std::optional<std::string> answer_yaml;
};

// Gathers the events of the client's and the service's side of each exchange into one exchange:
// each side's events carry the client's gid as that side knows it and the request's sequence
// number; the two sides' gids of a client are paired by its first exchange seen from both. An
// exchange is complete at once when both sides' answer events are in, else `settle` after its first
// answer event, since only one side may publish events; without an answer, `settle` after the
// request's own time limit. Complete exchanges are handed out in the order they began, so that a
// recording lists the requests in the order they were made even when a late one completes after the
// next. An event of an exchange that is already complete is dropped: each exchange counts once.
// Times are the watch's own clock at arrival: the events' stamps may come from other machines.
class ExchangePairer {
 public:
  using Clock = std::chrono::steady_clock;

  // `default_limit` stands for the request's "time_out" where its document was not published.
  ExchangePairer(std::chrono::milliseconds default_limit, std::chrono::milliseconds settle);

  // The exchanges that may be handed out once this event is in.
  std::vector<host::RecordedExchange> Add(ServiceEvent event, Clock::time_point now);

  // The exchanges that may be handed out by `now`.
  std::vector<host::RecordedExchange> TakeDue(Clock::time_point now);

  // At the end of a watch: the exchanges with an answer, however recent; and how many requests
  // were still awaiting theirs.
  std::pair<std::vector<host::RecordedExchange>, std::size_t> TakeAnsweredAtStop();

 private:
  using Key = std::pair<std::string, std::int64_t>;
  struct Sides {
    bool client = false;   // events of the client seen
    bool service = false;  // events of the service seen
  };
  struct Pending {
    host::RecordedExchange exchange;
    Clock::time_point first_seen;
    std::optional<Clock::time_point> first_answer;
    std::chrono::milliseconds limit;
    Sides sides;
    bool complete = false;
  };

  Key KeyOf(const ServiceEvent& event, bool from_client) const;
  Key JoinOtherSide(const Key& key, bool from_client, const std::optional<std::string>& request);
  void Refile(const std::string& service_gid, const std::string& client_gid);
  static void MergeSides(Pending& into, Pending&& other);
  Pending& PendingFor(Key key, Clock::time_point now);
  void MarkComplete(const Key& key, Pending& pending, Clock::time_point now);
  bool Due(const Pending& pending, Clock::time_point now) const;
  std::vector<host::RecordedExchange> TakeCompleteFront();
  void ForgetOldCompleted(Clock::time_point now);

  const std::chrono::milliseconds default_limit_;
  const std::chrono::milliseconds settle_;
  std::map<Key, Pending> pending_;
  std::deque<Key> begun_;  // the pending exchanges in the order they began
  std::map<std::string, std::string> client_of_service_gid_;  // the service's gid -> the client's
  std::set<std::string> paired_clients_;
  // The exchanges completed lately, oldest first, to drop their stragglers for a while.
  std::map<Key, Sides> completed_;
  std::deque<std::pair<Clock::time_point, Key>> completed_order_;
};

}  // namespace kestrava_arm::check
