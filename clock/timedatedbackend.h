#pragma once

#include "clock/clockbackend.h"
#include "core/monotonicclock.h"

#include <QDBusConnection>

#include <chrono>
#include <functional>

class QDBusError;

// Sets the clock through systemd-timedated on the D-Bus system bus:
// org.freedesktop.timedate1.SetTime(usec_utc, relative = false, interactive = true). polkit
// decides, and may ask an ordinary user for the administrator's password; the call never
// blocks, so the window keeps painting meanwhile. When timedated is not on the bus (or there
// is no bus), `fallback` sets the clock instead; without one, that is reported as a refusal.
class TimedatedBackend : public ClockBackend
{
    Q_OBJECT

public:
    // An answer slower than this means polkit asked the user: the time is then sent once more,
    // without a prompt, so that the time spent typing the password is not lost.
    static constexpr std::chrono::milliseconds SlowAnswer{500};

    TimedatedBackend(const QDBusConnection &bus, ClockBackend *fallback, QObject *parent = nullptr,
                     std::function<MonotonicTime()> monotonicNow = MonotonicClock::now);

    void setTime(UtcTime utc) override;

private:
    void send(bool interactive);
    void onAnswer(const QDBusError &error, bool interactive);
    // The time asked for, as it stands now.
    UtcTime currentTarget() const;

    QDBusConnection m_bus;
    ClockBackend *m_fallback;
    std::function<MonotonicTime()> m_monotonicNow;
    UtcTime m_target;            // the time asked for ...
    MonotonicTime m_targetTaken; // ... when it was asked for
    MonotonicTime m_sentAt;      // when the latest call went out
};
