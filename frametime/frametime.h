#pragma once

#include "core/frame.h"
#include "core/monotonicclock.h"

#include <QDate>
#include <QString>
#include <QTime>
#include <QTimeZone>

#include <chrono>
#include <optional>

struct ClockPair;

// A frame's time and the timing model: how the texts of a frame are read, which instant they
// name, when the device's second began, and how far the device's clock is from the computer's.
// The button that sets the clock, the offset shown and the reference clock all read a frame
// through these functions.

// An instant in universal time, counted in microseconds since 1970-01-01 00:00:00 UTC: the
// unit in which the system clock is set.
using UtcTime = std::chrono::time_point<std::chrono::system_clock, std::chrono::microseconds>;

// The date and time texts of the clock display, read the way the device writes them, whatever
// the user's locale: the date month first, "MM/dd/yyyy" (one-digit month and day accepted,
// four-digit year), the time "hh:mm:ss" on a 24-hour clock (one-digit hour accepted). Only
// ASCII digits count; blanks, other separators, impossible dates (02/30/2007) and times
// (24:00:00) do not convert.
std::optional<QDate> parseClockDate(const QString &text);
std::optional<QTime> parseClockTime(const QString &text);

// The universal time of a local wall-clock date and time in `zone`, by the zone's own rules.
// A local time that the zone skips (the hour lost when summer time starts) has no universal
// time. A local time that the zone has twice (the hour repeated when summer time ends) is
// read as summer time when `summer` is set and as winter time otherwise; everywhere else
// `summer` is not consulted.
std::optional<UtcTime> localToUtc(const QDate &date, const QTime &time, bool summer,
                                  const QTimeZone &zone);

// The instant a frame names: its date and time texts read the way the device writes them
// ("mm/dd/yyyy", "hh:mm:ss"), as local time in `zone`, converted to universal time; in the
// hour that the zone repeats in autumn, the frame's summer flag picks the reading. That is
// the instant the device's second began (secondBegan() says when that was). Nothing when a text
// does not convert or the zone skips that local time (the hour lost in spring).
std::optional<UtcTime> frameInstant(const Frame &frame, const QTimeZone &zone);

// A device begins its frame `delay` after its second begins (0 unless calibrated), and a
// serial port hands a character over only once its stop bit has ended, a character time after
// it began: the "$" arrives that much after the second the frame names began.
std::chrono::nanoseconds markerLateness(std::chrono::nanoseconds delay = {});

// When the second that `frame` names began, on the monotonic clock: the arrival of its "$"
// less markerLateness(delay).
MonotonicTime secondBegan(const Frame &frame, std::chrono::nanoseconds delay = {});

// Whether the frame's weekday number is that of its date (1 Monday to 7 Sunday). A date that
// does not convert contradicts nothing.
bool weekdayMatchesDate(const Frame &frame);

// How far the device's clock is ahead of the computer's (negative: behind): the instant the
// frame names, read as local time in `zone` exactly as the button that sets the clock reads
// it, minus what the computer's clock read when that second began on the device, which is
// the arrival of the "$" less the line's character time and the device's `delay`
// (secondBegan()), mapped through `clocks` (frametime/clockpair.h). Nothing when the frame
// names no instant (a date or time that does not convert, the hour skipped in spring).
std::optional<std::chrono::microseconds> deviceOffset(const Frame &frame, const QTimeZone &zone,
                                                      const ClockPair &clocks,
                                                      std::chrono::nanoseconds delay = {});
