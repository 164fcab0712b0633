#pragma once

#include <chrono>

// The clock that arrival times are measured on: it never jumps when the computer's clock is
// set, so the age of a frame stays right across a setting of the clock.
using MonotonicClock = std::chrono::steady_clock;
using MonotonicTime = MonotonicClock::time_point;
