#pragma once

#include "core/monotonicclock.h"
#include "frametime/frametime.h"

#include <chrono>

// A reading of the monotonic clock and of the computer's real-time clock taken together. It
// maps an instant measured on the monotonic clock (the arrival of a frame's "$") to what the
// computer's clock read at that instant.
struct ClockPair
{
    MonotonicTime monotonic;
    UtcTime real;

    // Reads both clocks now: the real-time clock between two readings of the monotonic clock,
    // whose midpoint is taken, so that the pair is off by at most half the time one reading
    // takes.
    static ClockPair now()
    {
        const MonotonicTime before = MonotonicClock::now();
        const auto realNow = std::chrono::system_clock::now();
        const MonotonicTime after = MonotonicClock::now();
        return ClockPair{before + (after - before) / 2,
                         std::chrono::time_point_cast<std::chrono::microseconds>(realNow)};
    }

    // What the computer's clock read at `instant`.
    UtcTime realTimeOf(MonotonicTime instant) const
    {
        return real + std::chrono::duration_cast<std::chrono::microseconds>(instant - monotonic);
    }
};
