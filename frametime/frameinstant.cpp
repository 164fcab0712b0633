#include "frametime/frameinstant.h"

#include "core/line.h"
#include "frametime/clocktext.h"
#include "frametime/localtoutc.h"

std::optional<UtcTime> frameInstant(const Frame &frame, const QTimeZone &zone)
{
    const std::optional<QDate> day = parseClockDate(frame.date);
    const std::optional<QTime> timeOfDay = parseClockTime(frame.time);
    if (!day || !timeOfDay)
        return std::nullopt;
    return localToUtc(*day, *timeOfDay, frame.summer, zone);
}

bool weekdayMatchesDate(const Frame &frame)
{
    const std::optional<QDate> day = parseClockDate(frame.date);
    return !day || day->dayOfWeek() == frame.weekday;
}

std::chrono::nanoseconds markerLateness(std::chrono::nanoseconds delay)
{
    return CharacterTime + delay;
}

MonotonicTime secondBegan(const Frame &frame, std::chrono::nanoseconds delay)
{
    return frame.arrival - markerLateness(delay);
}
