#pragma once

#include "core/frame.h"
#include "frametime/clockpair.h"

#include <QTimeZone>

#include <chrono>
#include <optional>

// How far the device's clock is ahead of the computer's (negative: behind): the instant the
// frame names, read as local time in `zone` exactly as the button that sets the clock reads
// it, minus what the computer's clock read when that second began on the device, which is
// the arrival of the "$" less the line's character time and the device's `delay`
// (secondBegan()), mapped through `clocks`. Nothing when the frame names no instant (a date
// or time that does not convert, the hour skipped in spring).
std::optional<std::chrono::microseconds> deviceOffset(const Frame &frame, const QTimeZone &zone,
                                                      const ClockPair &clocks,
                                                      std::chrono::nanoseconds delay = {});
