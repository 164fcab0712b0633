#pragma once

#include <QByteArray>
#include <QFile>
#include <QHash>
#include <QList>
#include <QString>

// The calls that the preloaded clock-call recorder took instead of the kernel, read back from
// its log: one line each, "<call> key=value ... real=<ns> mono=<ns>", where real and mono are
// this machine's CLOCK_REALTIME and CLOCK_MONOTONIC when the call was made.
struct ClockCall
{
    QByteArray name; // clock_settime, settimeofday, adjtimex, ntp_adjtime, clock_adjtime,
                     // rtc_set_time
    QHash<QByteArray, qint64> fields;

    qint64 field(const char *key, qint64 missing = -1) const
    {
        return fields.value(QByteArray(key), missing);
    }

    // Whether the call would have changed the system clock: setting it, or steering it (an
    // adjtimex-like call with any mode bit set; without one it only reads).
    bool changesSystemClock() const
    {
        if (name == "clock_settime" || name == "settimeofday")
            return field("null", 0) == 0;
        if (name == "adjtimex" || name == "ntp_adjtime" || name == "clock_adjtime")
            return field("modes", 0) != 0;
        return false;
    }

    bool setsHardwareClock() const { return name == "rtc_set_time"; }

    // The value a clock_settime or settimeofday call would have set, in microseconds.
    qint64 setValueUsec() const
    {
        if (name == "clock_settime")
            return field("sec") * 1000000 + field("nsec") / 1000;
        return field("sec") * 1000000 + field("usec");
    }
};

inline QList<ClockCall> readClockCalls(const QString &path)
{
    QList<ClockCall> calls;
    QFile log(path);
    if (!log.open(QIODevice::ReadOnly))
        return calls;
    while (!log.atEnd()) {
        const QList<QByteArray> words = log.readLine().trimmed().split(' ');
        if (words.isEmpty() || words[0].isEmpty())
            continue;
        ClockCall call;
        call.name = words[0];
        for (qsizetype i = 1; i < words.size(); ++i) {
            const qsizetype equals = words[i].indexOf('=');
            if (equals > 0)
                call.fields.insert(words[i].left(equals), words[i].mid(equals + 1).toLongLong());
        }
        calls.append(call);
    }
    return calls;
}
