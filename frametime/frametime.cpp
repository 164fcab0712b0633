#include "frametime/frametime.h"

#include "core/line.h"
#include "frametime/clockpair.h"

#include <QDateTime>
#include <QList>
#include <QStringList>

#include <algorithm>

namespace {

// The value of a field of `minDigits` to `maxDigits` ASCII digits, or -1.
int digitField(const QString &field, int minDigits, int maxDigits)
{
    if (field.size() < minDigits || field.size() > maxDigits)
        return -1;
    int value = 0;
    for (const QChar c : field) {
        if (c < u'0' || c > u'9')
            return -1;
        value = value * 10 + (c.unicode() - u'0');
    }
    return value;
}

// Splits `text` at `separator` into exactly three digit fields with the given widths.
bool threeFields(const QString &text, QChar separator, const int (&widths)[3][2], int (&values)[3])
{
    const QStringList fields = text.split(separator);
    if (fields.size() != 3)
        return false;
    for (int i = 0; i < 3; ++i) {
        values[i] = digitField(fields[i], widths[i][0], widths[i][1]);
        if (values[i] < 0)
            return false;
    }
    return true;
}

constexpr qint64 SecondsPerDay = qint64(24) * 60 * 60;

int offsetAt(const QTimeZone &zone, qint64 utcSeconds)
{
    return zone.offsetFromUtc(QDateTime::fromSecsSinceEpoch(utcSeconds, Qt::UTC));
}

} // namespace

std::optional<QDate> parseClockDate(const QString &text)
{
    static const int widths[3][2] = {{1, 2}, {1, 2}, {4, 4}}; // month, day, year
    int values[3];
    if (!threeFields(text, u'/', widths, values))
        return std::nullopt;
    const int month = values[0];
    const int day = values[1];
    const int year = values[2];
    if (!QDate::isValid(year, month, day))
        return std::nullopt;
    return QDate(year, month, day);
}

std::optional<QTime> parseClockTime(const QString &text)
{
    static const int widths[3][2] = {{1, 2}, {2, 2}, {2, 2}}; // hours, minutes, seconds
    int values[3];
    if (!threeFields(text, u':', widths, values))
        return std::nullopt;
    if (!QTime::isValid(values[0], values[1], values[2]))
        return std::nullopt;
    return QTime(values[0], values[1], values[2]);
}

std::optional<UtcTime> localToUtc(const QDate &date, const QTime &time, bool summer,
                                  const QTimeZone &zone)
{
    if (!date.isValid() || !time.isValid() || !zone.isValid())
        return std::nullopt;

    // The wall-clock reading as if it were universal time; the true instant lies within a
    // day of it. A day before and a day after, the zone's offsets are those in force on
    // either side of any change near this time, so these are the only candidates.
    const qint64 wall = QDateTime(date, time, Qt::UTC).toSecsSinceEpoch();
    QList<int> offsets{offsetAt(zone, wall - SecondsPerDay), offsetAt(zone, wall),
                       offsetAt(zone, wall + SecondsPerDay)};

    // An offset gives a reading of the wall time when the zone has that very offset at the
    // instant it yields.
    QList<qint64> instants;
    for (const int offset : offsets) {
        const qint64 instant = wall - offset;
        if (offsetAt(zone, instant) == offset && !instants.contains(instant))
            instants.append(instant);
    }
    if (instants.isEmpty())
        return std::nullopt; // skipped by the zone

    // In the repeated hour the earlier reading is the one before the clocks went back:
    // summer time.
    std::sort(instants.begin(), instants.end());
    const qint64 chosen = summer ? instants.first() : instants.last();
    return UtcTime(std::chrono::seconds(chosen));
}
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

std::optional<std::chrono::microseconds> deviceOffset(const Frame &frame, const QTimeZone &zone,
                                                      const ClockPair &clocks,
                                                      std::chrono::nanoseconds delay)
{
    const std::optional<UtcTime> device = frameInstant(frame, zone);
    if (!device)
        return std::nullopt;
    return *device - clocks.realTimeOf(secondBegan(frame, delay));
}
