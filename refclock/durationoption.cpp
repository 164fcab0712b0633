#include "refclock/durationoption.h"

#include "core/duration.h"

#include <chrono>

std::optional<std::chrono::microseconds> parseDurationOption(const QString &text)
{
    using namespace std::chrono;
    // The simulator's form, without its unit of days, and within a day either way.
    if (text.endsWith(u'd'))
        return std::nullopt;
    const std::optional<nanoseconds> duration = parseDuration(text);
    if (!duration || *duration > hours(24) || *duration < -hours(24))
        return std::nullopt;
    return round<microseconds>(*duration);
}

QString delayOptionValue(std::chrono::microseconds duration)
{
    return QString::number(std::chrono::duration<double>(duration).count(), 'f', 4);
}
