#include "frametime/localtoutc.h"

#include <QDateTime>
#include <QList>

#include <algorithm>

namespace {

constexpr qint64 SecondsPerDay = qint64(24) * 60 * 60;

int offsetAt(const QTimeZone &zone, qint64 utcSeconds)
{
    return zone.offsetFromUtc(QDateTime::fromSecsSinceEpoch(utcSeconds, Qt::UTC));
}

} // namespace

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
