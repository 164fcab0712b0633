#pragma once

#include "core/frame.h"
#include "frametime/clockpair.h"

#include <QTimeZone>

#include <chrono>
#include <optional>

// How far the device's clock is ahead of the computer's at a frame's "$" (negative: behind):
// the instant the frame names, read as local time in `zone` exactly as the button that sets
// the clock reads it, minus what the computer's clock read when the "$" arrived, mapped from
// the monotonic arrival through `clocks`. Nothing when the frame names no instant (a date or
// time that does not convert, the hour skipped in spring).
std::optional<std::chrono::microseconds> deviceOffset(const Frame &frame, const QTimeZone &zone,
                                                      const ClockPair &clocks);
