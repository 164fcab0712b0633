#pragma once

#include "clock/clockbackend.h"

#include <QDBusConnection>

#include <chrono>

class QDBusError;

// Sets the clock through systemd-timedated on the D-Bus system bus:
// org.freedesktop.timedate1.SetTime(offset, relative = true, interactive = true). timedated adds
// the offset to the clock as it reads it while it handles the call, after it has asked systemd
// about its NTP unit and, when polkit had to ask the user for the administrator's password,
// once polkit has answered: so the one change is right however long either took. The call
// never blocks, so the window keeps painting meanwhile. When timedated is not on the bus (or
// there is no bus), `fallback` sets the clock instead, by the same offset; without one, that is
// reported as a refusal.
class TimedatedBackend : public ClockBackend
{
    Q_OBJECT

public:
    TimedatedBackend(const QDBusConnection &bus, ClockBackend *fallback, QObject *parent = nullptr);

    void setTimeBy(std::chrono::microseconds offset) override;

private:
    void onAnswer(const QDBusError &error);

    QDBusConnection m_bus;
    ClockBackend *m_fallback;
    std::chrono::microseconds m_offset{0}; // the offset asked for
};
