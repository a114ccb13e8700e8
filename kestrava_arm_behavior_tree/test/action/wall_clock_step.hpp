#pragma once

#include <chrono>

namespace kestrava_arm::bt::testing {

// Steps the wall clock of this process (CLOCK_REALTIME and CLOCK_REALTIME_COARSE) by `step`, as
// NTP steps the clock of a machine that booted with a wrong time; the monotonic clocks keep
// running undisturbed. Whoever links wall_clock_step.cpp replaces clock_gettime for the whole
// process: keep it to a test program of its own.
void StepWallClock(std::chrono::nanoseconds step);

// Undoes every step taken so far.
void ResetWallClock();

}  // namespace kestrava_arm::bt::testing
