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
    bool changesSystemClock() const;

    bool setsHardwareClock() const { return name == "rtc_set_time"; }

    // The value a clock_settime or settimeofday call would have set, in microseconds.
    qint64 setValueUsec() const;
};

// The calls logged in `path`, in order; none when it cannot be read.
QList<ClockCall> readClockCalls(const QString &path);
