#pragma once

#include "core/frame.h"
#include "frametime/utctime.h"

#include <QTimeZone>

#include <optional>

// The instant a frame names: its date and time texts read the way the device writes them
// ("mm/dd/yyyy", "hh:mm:ss"), as local time in `zone`, converted to universal time; in the
// hour that the zone repeats in autumn, the frame's summer flag picks the reading. That is
// the device's time when the frame's "$" arrived. Nothing when a text does not convert or
// the zone skips that local time (the hour lost in spring). The button that sets the clock,
// the offset shown and the reference clock all read a frame through this one function.
std::optional<UtcTime> frameInstant(const Frame &frame, const QTimeZone &zone);

// Whether the frame's weekday number is that of its date (1 Monday to 7 Sunday). A date that
// does not convert contradicts nothing.
bool weekdayMatchesDate(const Frame &frame);
