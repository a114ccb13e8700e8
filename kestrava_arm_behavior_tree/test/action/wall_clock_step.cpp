#include "wall_clock_step.hpp"

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <ctime>

namespace {

constexpr int64_t kNanosecondsPerSecond = 1000000000;

std::atomic<int64_t> wall_clock_offset_ns{0};

// Wall-clock times lie decades after the epoch, far from both ends of the 64-bit range.
void AddNanoseconds(timespec& time, int64_t nanoseconds) {
  const int64_t total =
      static_cast<int64_t>(time.tv_sec) * kNanosecondsPerSecond + time.tv_nsec + nanoseconds;
  time.tv_sec = static_cast<time_t>(total / kNanosecondsPerSecond);
  time.tv_nsec = static_cast<long>(total % kNanosecondsPerSecond);
}

}  // namespace

// Takes the place of the C library's clock_gettime for every library of the process: symbols of
// the executable come first when the dynamic linker binds calls. It asks the kernel directly, so
// it works whether or not a sanitizer runtime wraps the C library's function.
extern "C" int clock_gettime(clockid_t clock, timespec* time) {
  const long result = syscall(SYS_clock_gettime, clock, time);
  if (result == 0 && (clock == CLOCK_REALTIME || clock == CLOCK_REALTIME_COARSE)) {
    AddNanoseconds(*time, wall_clock_offset_ns.load());
  }
  return static_cast<int>(result);
}

namespace kestrava_arm::bt::testing {

void StepWallClock(std::chrono::nanoseconds step) {
  wall_clock_offset_ns += step.count();
}

void ResetWallClock() {
  wall_clock_offset_ns = 0;
}

}  // namespace kestrava_arm::bt::testing
