#include "frametime/clockpair.h"

ClockPair ClockPair::now()
{
    const MonotonicTime before = MonotonicClock::now();
    const auto real = std::chrono::system_clock::now();
    const MonotonicTime after = MonotonicClock::now();
    return ClockPair{before + (after - before) / 2,
                     std::chrono::time_point_cast<std::chrono::microseconds>(real)};
}
