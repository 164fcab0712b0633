#include "tests/robustness/soakstream.h"

#include <QTimeZone>

namespace {

const QByteArray Marker("$");
const QByteArray LineEnd("\r\n");

// Steps of the device clock between frames: an hour and a bit, so that dates, weekdays and
// the summer flag change as well as the time.
constexpr qint64 ClockStep = 3607;

} // namespace

SoakStream::SoakStream(quint32 seed)
    : m_random(seed), m_deviceClock(QDate(2007, 6, 15), QTime(12, 0), QTimeZone::utc())
{
}

QByteArray SoakStream::round(qsizetype size)
{
    QByteArray bytes;
    while (bytes.size() < size) {
        const quint32 pick = m_random.bounded(10);
        if (pick < 4)
            bytes += frame();
        else if (pick < 7)
            bytes += noise();
        else
            bytes += brokenFrame();
    }
    return bytes + frame();
}

bool SoakStream::sentWhole(const QString &time, const QString &date) const
{
    return m_sentWhole.contains(time + u',' + date);
}

QByteArray SoakStream::frame()
{
    m_deviceClock = m_deviceClock.addSecs(ClockStep);
    const QDate day = m_deviceClock.date();
    const bool summer = day.month() >= 4 && day.month() <= 10;
    return whole(m_deviceClock.toString(QStringLiteral("hh:mm:ss,MM/dd/yyyy,"))
                 + QString::number(day.dayOfWeek())
                 + (summer ? QLatin1String(",1") : QLatin1String(",0")));
}

QByteArray SoakStream::brokenFrame()
{
    ++m_brokenFrames;
    switch (m_random.bounded(5)) {
    case 0:
        return "$12:00:00,06/15/2007,5" + LineEnd; // summer field missing
    case 1:
        return "$,,," + LineEnd;
    case 2:
        return "$12:00:00,06/15/2007,9,x" + LineEnd; // weekday 9, summer not a number
    case 3:
        return "$07:4"; // cut short, no line end
    default:
        // Four fields, but the time garbled: still a frame, shown as it came.
        --m_brokenFrames;
        return whole(QStringLiteral("0H:4F:3A,06/15/2007,5,1"));
    }
}

QByteArray SoakStream::noise()
{
    const int length = int(m_random.bounded(1, 1500));
    QByteArray bytes(length, Qt::Uninitialized);
    for (char &byte : bytes) {
        do
            byte = char(m_random.bounded(256));
        while (byte == '$' || byte == ',');
    }
    m_noiseBytes += length;
    return bytes;
}

QByteArray SoakStream::whole(const QString &fields)
{
    ++m_wholeFrames;
    const QStringList parts = fields.split(u',');
    m_sentWhole.insert(parts.at(0) + u',' + parts.at(1));
    return Marker + fields.toLatin1() + LineEnd;
}
