#pragma once

#include "core/frame.h"
#include "core/monotonicclock.h"
#include "frametime/utctime.h"

#include <QTimeZone>

#include <chrono>
#include <optional>

// The instant a frame names: its date and time texts read the way the device writes them
// ("mm/dd/yyyy", "hh:mm:ss"), as local time in `zone`, converted to universal time; in the
// hour that the zone repeats in autumn, the frame's summer flag picks the reading. That is
// the instant the device's second began (secondBegan() says when that was). Nothing when a text
// does not convert or the zone skips that local time (the hour lost in spring). The button that
// sets the clock, the offset shown and the reference clock all read a frame through this one
// function.
std::optional<UtcTime> frameInstant(const Frame &frame, const QTimeZone &zone);

// The timing model of a frame, used by the button, the offset shown and the reference clock
// alike. A device begins its frame `delay` after its second begins (0 unless calibrated), and
// a serial port hands a character over only once its stop bit has ended, a character time
// after it began: the "$" arrives that much after the second the frame names began.
std::chrono::nanoseconds markerLateness(std::chrono::nanoseconds delay = {});

// When the second that `frame` names began, on the monotonic clock: the arrival of its "$"
// less markerLateness(delay).
MonotonicTime secondBegan(const Frame &frame, std::chrono::nanoseconds delay = {});

// Whether the frame's weekday number is that of its date (1 Monday to 7 Sunday). A date that
// does not convert contradicts nothing.
bool weekdayMatchesDate(const Frame &frame);
