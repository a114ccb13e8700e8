// Many DetectToiletInfo instances, each in a tree of its own, ticked from several threads against
// one perception service that answers after random delays, some only after the run has timed
// out, while runs are halted at random. Every run must end as its own answer or its own time
// limit dictates: each answer carries a translation unique to its run.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include <fmt/format.h>
#include <yaml-cpp/yaml.h>

#include "kestrava_arm_behavior_tree/action/detect_toilet_info_codes_and_keys.hpp"
#include "node_harness.hpp"

namespace kestrava_arm::bt::testing {
namespace {

using Clock = std::chrono::steady_clock;
using RunId = std::uint64_t;

constexpr int kTickThreads = 3;
constexpr int kTreesPerThread = 4;
constexpr auto kTickPeriod = std::chrono::microseconds(200);
// Long enough that only a lost answer can reach it.
constexpr double kAmpleLimitMs = 10000;
constexpr int kRunsPerTolerableLoss = 100;
constexpr const char* kWaitingMessage = "waiting toilet clean process to complete...";

enum class Answer { kSuccess, kNoDetection, kBadResponse };

enum class Timing {
  kPrompt,        // answered well within the limit
  kRacing,        // answered around a limit of a few milliseconds: either may come first
  kAfterTimeout,  // answered only once the run has timed out, while the next run waits
  kHalted,        // the tree is halted before the answer, which then arrives as a stray
};

struct RunPlan {
  RunId id = 0;
  Answer answer = Answer::kSuccess;
  Timing timing = Timing::kPrompt;
  double limit_ms = kAmpleLimitMs;
  std::chrono::microseconds delay{0};
  int halt_after_ticks = 0;  // 0: never
};

std::vector<double> TransforMatrixOf(RunId id) {
  const auto base = static_cast<double>(id);
  return {base, base + 0.25, base + 0.5, 0.0, 0.0, 0.0, 1.0};
}

std::string AnswerDocument(const RunPlan& plan) {
  switch (plan.answer) {
    case Answer::kSuccess:
      return fmt::format(
          "success: true\narm_base_end: {{translation: [{0}, {0}.25, {0}.5], rotation: [0, 0, 0, "
          "1], description: run {0}}}\n",
          plan.id);
    case Answer::kNoDetection:
      return "success: false\n";
    case Answer::kBadResponse:
      return fmt::format(
          "success: true\narm_base_end: {{translation: [{}, 0], rotation: [0, 0, 0, 1], "
          "description: short}}\n",
          plan.id);
  }
  return {};
}

std::optional<RunId> RunIdOf(const std::string& request_yaml) {
  const auto frame = YAML::Load(request_yaml)["camera_frame_id"].as<std::string>();
  RunId id = 0;
  const auto [end, error] = std::from_chars(frame.data(), frame.data() + frame.size(), id);
  return error == std::errc() && end == frame.data() + frame.size() ? std::optional(id)
                                                                    : std::nullopt;
}

// What the service did with a run's request, on the test's clock.
struct Delivery {
  std::optional<Clock::time_point> received;  // the request reached the service
  std::optional<Clock::time_point> answered;  // the answer left the service
};

// The perception service's side: answers each request when its plan says, from a thread of its
// own, so that answers overtake one another as they would from a real service. It keeps what it
// did for every run until the run has ended and its answer has gone.
class DelayedResponder {
 public:
  explicit DelayedResponder(PerceptionServiceStub& service) : service_(service) {
    service_.ObserveRequests([this](std::size_t index, const std::string& request_yaml) {
      OnRequest(index, request_yaml);
    });
  }

  // Sends what is still due at once: late answers then meet nodes that are gone.
  ~DelayedResponder() {
    service_.ObserveRequests({});
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
    for (const auto& due : queue_) {
      service_.Answer(due.index, due.answer);
    }
  }

  DelayedResponder(const DelayedResponder&) = delete;
  DelayedResponder& operator=(const DelayedResponder&) = delete;

  int ForeignRequests() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return foreign_requests_;
  }

  // Before the run's request is sent.
  void Expect(const RunPlan& plan) {
    const std::lock_guard<std::mutex> lock(mutex_);
    runs_[plan.id] = {plan, std::nullopt, false, false, {}};
  }

  // The run has ended: an answer held back until then may go. Returns what the service did with
  // the run's request so far.
  Delivery Release(RunId id) {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto run = runs_.find(id);
    Run& record = run->second;
    const Delivery delivery = record.delivery;
    record.released = true;
    if (record.index && !record.scheduled) {
      ScheduleLocked(record);
    }
    ForgetIfDoneLocked(run);
    return delivery;
  }

 private:
  struct Run {
    RunPlan plan;
    std::optional<std::size_t> index;  // the stub's index of its request, once it arrived
    bool released;
    bool scheduled;
    Delivery delivery;
  };
  struct Due {
    Clock::time_point at;
    RunId id;
    std::size_t index;
    std::string answer;
    bool operator>(const Due& other) const { return at > other.at; }
  };
  using Runs = std::unordered_map<RunId, Run>;

  // On the executor thread: the request names its run in "camera_frame_id". A request that
  // names none of the runs comes from a process outside the test, which shares its ROS domain.
  void OnRequest(std::size_t index, const std::string& request_yaml) {
    const std::optional<RunId> id = RunIdOf(request_yaml);
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto found = id ? runs_.find(*id) : runs_.end();
    if (found == runs_.end()) {
      ++foreign_requests_;
      return;
    }
    Run& run = found->second;
    run.delivery.received = Clock::now();
    run.index = index;
    if (run.plan.timing != Timing::kAfterTimeout || run.released) {
      ScheduleLocked(run);
    }
  }

  void ScheduleLocked(Run& run) {
    queue_.push_back(
        {Clock::now() + run.plan.delay, run.plan.id, *run.index, AnswerDocument(run.plan)});
    std::push_heap(queue_.begin(), queue_.end(), std::greater<>());
    run.scheduled = true;
    changed_.notify_all();
  }

  // A run is forgotten once it has ended and its answer has gone; a run whose request never
  // arrives stays, which only a lossy transport makes happen.
  void ForgetIfDoneLocked(Runs::iterator run) {
    if (run->second.released && run->second.delivery.answered) {
      runs_.erase(run);
    }
  }

  void AnswerWhenDue() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
      if (queue_.empty()) {
        changed_.wait(lock);
      } else if (const Clock::time_point next = queue_.front().at; Clock::now() < next) {
        changed_.wait_until(lock, next);  // a copy: the wait reads it again after waking
      } else {
        std::pop_heap(queue_.begin(), queue_.end(), std::greater<>());
        const Due due = std::move(queue_.back());
        queue_.pop_back();
        lock.unlock();
        service_.Answer(due.index, due.answer);
        const Clock::time_point answered = Clock::now();
        lock.lock();
        const auto run = runs_.find(due.id);
        run->second.delivery.answered = answered;
        ForgetIfDoneLocked(run);
      }
    }
  }

  PerceptionServiceStub& service_;
  std::mutex mutex_;
  std::condition_variable changed_;
  Runs runs_;
  std::vector<Due> queue_;  // a min-heap on `at`
  int foreign_requests_ = 0;
  bool stopping_ = false;
  std::thread thread_{[this] { AnswerWhenDue(); }};
};

// Why a run that should have had its answer in time timed out instead, as the service saw it.
enum class Loss {
  kRequest,  // the request never reached the service
  kLate,     // the request arrived, or the answer left, only after the time limit had passed
  kAnswer,   // answered in time, yet the node never had the answer
};

struct Tally {
  std::atomic<int> succeeded{0};
  std::atomic<int> no_detection{0};
  std::atomic<int> bad_response{0};
  std::atomic<int> timed_out{0};
  std::atomic<int> halted{0};
  std::atomic<int> requests_lost{0};
  std::atomic<int> late{0};
  std::atomic<int> answers_lost{0};

  std::mutex mutex;
  std::vector<std::string> wrong;   // runs that did not end as their plan dictates
  std::vector<std::string> losses;  // runs that timed out because the transport lost an exchange

  void Wrong(const std::string& what) {
    const std::lock_guard<std::mutex> lock(mutex);
    wrong.push_back(what);
  }

  void Lost(Loss loss, const std::string& what) {
    ++(loss == Loss::kRequest ? requests_lost : loss == Loss::kLate ? late : answers_lost);
    const std::lock_guard<std::mutex> lock(mutex);
    losses.push_back(what);
  }

  int LossCount() const { return requests_lost + late + answers_lost; }
};

// What a run published, with the trajectory file it names.
struct RunResult {
  RunOutcome published;
  std::string fix_trajectory;
};

std::string FixTrajectoryOf(RunId id) {
  return fmt::format("/stress/{}/run.txt", id);
}

bool EndedByTimeout(const RunOutcome& published) {
  return !published.succeeded && published.status_code == kStatusTimeout &&
         published.error_code == kNotWritten && published.transfor_matrix.empty();
}

bool MayTimeOut(const RunPlan& plan) {
  return plan.timing == Timing::kRacing || plan.timing == Timing::kAfterTimeout;
}

// Which outcome the run took, or nothing when it is not one its plan allows.
std::atomic<int>* OutcomeCounter(const RunPlan& plan, const RunResult& result, Tally& tally) {
  const RunOutcome& published = result.published;
  if (!published.succeeded && published.status_code == kStatusTimeout) {
    return MayTimeOut(plan) && EndedByTimeout(published) ? &tally.timed_out : nullptr;
  }
  if (plan.timing == Timing::kAfterTimeout) {
    return nullptr;
  }
  const auto failed_with = [&](int error_code) {
    return !published.succeeded && published.error_code == error_code &&
           published.status_code == kStatusDetectionFailed && published.transfor_matrix.empty();
  };
  switch (plan.answer) {
    case Answer::kSuccess:
      return published.succeeded && published.error_code == kErrorNone &&
                     published.status_code == kStatusSucceeded &&
                     published.transfor_matrix == TransforMatrixOf(plan.id) &&
                     result.fix_trajectory == FixTrajectoryOf(plan.id)
                 ? &tally.succeeded
                 : nullptr;
    case Answer::kNoDetection:
      return failed_with(kErrorNoDetection) ? &tally.no_detection : nullptr;
    case Answer::kBadResponse:
      return failed_with(kErrorBadResponse) ? &tally.bad_response : nullptr;
  }
  return nullptr;
}

Loss LossOf(const Delivery& delivery, Clock::time_point deadline) {
  if (!delivery.received) {
    return Loss::kRequest;
  }
  if (*delivery.received > deadline || !delivery.answered || *delivery.answered > deadline) {
    return Loss::kLate;
  }
  return Loss::kAnswer;
}

std::string DescribeLoss(Loss loss, const Delivery& delivery, Clock::time_point started) {
  const auto after_start = [&](const std::optional<Clock::time_point>& at) {
    using Milliseconds = std::chrono::duration<double, std::milli>;
    return at ? fmt::format("{:.3f} ms after the start", Milliseconds(*at - started).count())
              : std::string("never");
  };
  const char* what = loss == Loss::kRequest ? "request lost"
                     : loss == Loss::kLate  ? "late"
                                            : "answer lost";
  return fmt::format("{}: received {}, answered {}", what, after_start(delivery.received),
                     after_start(delivery.answered));
}

// Hands out run plans until the budget is spent.
class RunSource {
 public:
  explicit RunSource(int runs) : remaining_(runs) {}

  std::optional<RunPlan> Next(std::mt19937& random) {
    if (remaining_.fetch_sub(1) <= 0) {
      return std::nullopt;
    }
    RunPlan plan;
    plan.id = next_id_.fetch_add(1);
    // Half of the answers are successes, a quarter each one kind of failure.
    plan.answer = static_cast<Answer>(std::uniform_int_distribution<int>(0, 3)(random) % 3);
    plan.timing = static_cast<Timing>(std::uniform_int_distribution<int>(0, 3)(random));
    const auto micros = [&](int low, int high) {
      return std::chrono::microseconds(std::uniform_int_distribution<int>(low, high)(random));
    };
    switch (plan.timing) {
      case Timing::kPrompt:
        plan.delay = micros(0, 2000);
        break;
      case Timing::kRacing:
        plan.limit_ms = std::uniform_int_distribution<int>(1, 3)(random);
        plan.delay = micros(0, 4000);
        break;
      case Timing::kAfterTimeout:
        plan.limit_ms = 1;
        plan.delay = micros(0, 2000);
        break;
      case Timing::kHalted:
        plan.delay = micros(0, 3000);
        plan.halt_after_ticks = std::uniform_int_distribution<int>(1, 3)(random);
        break;
    }
    return plan;
  }

 private:
  std::atomic<int> remaining_;
  std::atomic<RunId> next_id_{1};
};

// One tree with one node, run after run.
class TreeSlot {
 public:
  TreeSlot(NodeHarness& harness, DelayedResponder& responder, Tally& tally)
      : blackboard_(harness.CreateHostBlackboard()),
        tree_(harness.CreateTree("{time_limit}", blackboard_)),
        responder_(responder),
        tally_(tally) {}

  // One tick of the current run, starting a new one when the budget allows; false when idle.
  bool Step(RunSource& runs, std::mt19937& random) {
    if (!plan_) {
      plan_ = runs.Next(random);
      if (!plan_) {
        return false;
      }
      Begin();
    }
    const BT::NodeStatus status = tree_.tickOnce();
    ++ticks_;
    if (status != BT::NodeStatus::RUNNING) {
      Finish(status);
    } else if (ticks_ == plan_->halt_after_ticks) {
      tree_.haltTree();
      ++tally_.halted;
      responder_.Release(plan_->id);
      plan_.reset();
    }
    return true;
  }

 private:
  void Begin() {
    ticks_ = 0;
    started_ = Clock::now();
    blackboard_->set("time_limit", plan_->limit_ms);
    blackboard_->set("toilet_data_path", std::string("/stress"));
    blackboard_->set("task_info", fmt::format("task_uid:{};task_name:run", plan_->id));
    blackboard_->set("camera_frame_id", std::to_string(plan_->id));
    ClearOutputs(*blackboard_);
    responder_.Expect(*plan_);
  }

  void Finish(BT::NodeStatus status) {
    const RunResult result{PublishedOutcome(status, *blackboard_),
                           blackboard_->get<std::string>("fix_trajectory")};
    const Delivery delivery = responder_.Release(plan_->id);
    if (auto* counter = OutcomeCounter(*plan_, result, tally_)) {
      ++*counter;
    } else if (EndedByTimeout(result.published)) {
      const Loss loss = LossOf(delivery, Deadline());
      tally_.Lost(loss, Describe(result) + ", " + DescribeLoss(loss, delivery, started_));
    } else {
      tally_.Wrong(Describe(result));
    }
    plan_.reset();
  }

  Clock::time_point Deadline() const {
    const std::chrono::duration<double, std::milli> limit(plan_->limit_ms);
    return started_ + std::chrono::duration_cast<Clock::duration>(limit);
  }

  std::string Describe(const RunResult& result) const {
    const RunOutcome& published = result.published;
    return fmt::format(
        "run {} (answer {}, timing {}): {} error_code {} status_code {} transfor_matrix [{}]",
        plan_->id, static_cast<int>(plan_->answer), static_cast<int>(plan_->timing),
        EndOf(published), published.error_code, published.status_code,
        fmt::join(published.transfor_matrix, ", "));
  }

  BT::Blackboard::Ptr blackboard_;
  BT::Tree tree_;
  DelayedResponder& responder_;
  Tally& tally_;
  std::optional<RunPlan> plan_;
  Clock::time_point started_;
  int ticks_ = 0;
};

// The stand-in transport never leaves the process and must lose nothing; DDS may lose an exchange
// now and then, but a run in which many are lost tests nothing.
int TolerableLosses(int run_count) {
  return KESTRAVA_TRANSPORT_IN_PROCESS ? 0 : run_count / kRunsPerTolerableLoss;
}

int RunCount() {
  const char* runs = std::getenv("KESTRAVA_STRESS_RUNS");
  return runs != nullptr ? std::atoi(runs) : KESTRAVA_STRESS_DEFAULT_RUNS;
}

std::size_t Occurrences(const std::string& text, const std::string& fragment) {
  std::size_t count = 0;
  for (auto at = text.find(fragment); at != std::string::npos;
       at = text.find(fragment, at + fragment.size())) {
    ++count;
  }
  return count;
}

TEST(DetectToiletInfoStressTest, EveryRunEndsAsItsOwnAnswerOrTimeLimitDictates) {
  // Counting the waiting message needs it on the console, whatever the environment says.
  setenv("SPDLOG_STDOUT", "true", 1);
  setenv("SPDLOG_LEVEL", "info", 1);
  const int run_count = RunCount();
  const auto seed = static_cast<unsigned>(std::random_device()());
  std::cerr << "runs: " << run_count << "\n";
  ::testing::internal::CaptureStdout();

  Tally tally;
  int foreign_requests = 0;
  {
    NodeHarness harness;
    DelayedResponder responder(harness.service());
    std::vector<std::unique_ptr<TreeSlot>> slots;
    for (int i = 0; i < kTickThreads * kTreesPerThread; ++i) {
      slots.push_back(std::make_unique<TreeSlot>(harness, responder, tally));
    }
    RunSource runs(run_count);
    std::vector<std::thread> tick_threads;
    for (int t = 0; t < kTickThreads; ++t) {
      tick_threads.emplace_back([&, t] {
        std::mt19937 random(seed + static_cast<unsigned>(t));
        bool busy = true;
        while (busy) {
          busy = false;
          for (int i = t * kTreesPerThread; i < (t + 1) * kTreesPerThread; ++i) {
            busy = slots[i]->Step(runs, random) || busy;
          }
          std::this_thread::sleep_for(kTickPeriod);
        }
      });
    }
    for (auto& thread : tick_threads) {
      thread.join();
    }
    foreign_requests = responder.ForeignRequests();
  }
  const std::string log = ::testing::internal::GetCapturedStdout();

  std::cerr << "succeeded " << tally.succeeded << ", no detection " << tally.no_detection
            << ", bad response " << tally.bad_response << ", timed out " << tally.timed_out
            << ", halted " << tally.halted << "; timed out through the transport: requests lost "
            << tally.requests_lost << ", late " << tally.late << ", answers lost "
            << tally.answers_lost << "\n";
  for (const auto& loss : tally.losses) {
    std::cerr << "  " << loss << "\n";
  }
  EXPECT_EQ(tally.succeeded + tally.no_detection + tally.bad_response + tally.timed_out +
                tally.halted + tally.LossCount() + static_cast<int>(tally.wrong.size()),
            run_count);
  EXPECT_TRUE(tally.wrong.empty())
      << tally.wrong.size() << " runs ended wrongly, first: " << tally.wrong.front();
  for (const auto* outcome : {&tally.succeeded, &tally.no_detection, &tally.bad_response,
                              &tally.timed_out, &tally.halted}) {
    EXPECT_GT(outcome->load(), 0) << "an outcome the runs should have taken did not occur";
  }
  EXPECT_LE(tally.LossCount(), TolerableLosses(run_count));
  EXPECT_EQ(foreign_requests, 0) << "another process shares the test's ROS domain";
  EXPECT_EQ(Occurrences(log, kWaitingMessage), 1u);
}

}  // namespace
}  // namespace kestrava_arm::bt::testing
