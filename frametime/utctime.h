#pragma once

#include <chrono>

// An instant in universal time, counted in microseconds since 1970-01-01 00:00:00 UTC: the
// unit in which the system clock is set.
using UtcTime = std::chrono::time_point<std::chrono::system_clock, std::chrono::microseconds>;
