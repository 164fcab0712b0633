#include "clock/clocksetting.h"

#include "frametime/frametime.h"

#include <QtGlobal>

#ifdef Q_OS_WIN
#include "clock/windowsclockbackend.h"
#else
#include "clock/settimebackend.h"
#include "clock/timedatedbackend.h"
#endif

#include <algorithm>

ClockSetting::ClockSetting(ClockBackend *backend, QObject *parent,
                           std::function<ClockPair()> clocks, std::function<QTimeZone()> zone,
                           std::chrono::milliseconds answerTimeout)
    : QObject(parent), m_backend(backend), m_clocks(std::move(clocks)), m_zone(std::move(zone)),
      m_answerTimer(new QTimer(this))
{
    m_answerTimer->setSingleShot(true);
    m_answerTimer->setInterval(answerTimeout);
    connect(m_answerTimer, &QTimer::timeout, this, &ClockSetting::giveUp);
    connect(m_backend, &ClockBackend::finished, this, &ClockSetting::onBackendFinished);
}

void ClockSetting::setFromFrame(const std::optional<Frame> &frame)
{
    if (m_busy)
        return;
    if (!frame) {
        emit finished(ClockBackend::Outcome::NoValidTime, {});
        return;
    }
    // A text of blanks is not empty: it goes on to fail conversion.
    if (frame->time.isEmpty() || frame->date.isEmpty())
        return;

    const std::optional<UtcTime> atSecond = frameInstant(*frame, m_zone());
    if (!atSecond) {
        emit finished(ClockBackend::Outcome::NoValidTime, {});
        return;
    }

    // The frame holds the device's time when its second began: add the lateness of its "$"
    // and what has passed since the "$" arrived on the monotonic clock, read together with the
    // computer's clock right before the offset between the two is handed over.
    const ClockPair clocks = m_clocks();
    const auto age = std::max(std::chrono::nanoseconds(clocks.monotonic - frame->arrival),
                              std::chrono::nanoseconds::zero());
    const UtcTime deviceNow =
        *atSecond
        + std::chrono::duration_cast<std::chrono::microseconds>(markerLateness(m_delay) + age);
    if (deviceNow.time_since_epoch().count() < 0) {
        emit finished(ClockBackend::Outcome::NoValidTime, {});
        return;
    }

    m_busy = true;
    m_answerTimer->start();
    m_backend->setTimeBy(deviceNow - clocks.real);
}

void ClockSetting::onBackendFinished(ClockBackend::Outcome outcome, const QString &systemText)
{
    if (m_abandoned > 0) {
        --m_abandoned; // the late answer of a request given up
        return;
    }
    if (!m_busy)
        return;
    m_busy = false;
    m_answerTimer->stop();
    emit finished(outcome, outcome == ClockBackend::Outcome::Set ? QString() : systemText);
}

void ClockSetting::giveUp()
{
    if (!m_busy)
        return;
    m_busy = false;
    ++m_abandoned;
    emit finished(ClockBackend::Outcome::NoAnswer, {});
}

ClockBackend *createPlatformClockBackend(QObject *parent)
{
#ifdef Q_OS_WIN
    return new WindowsClockBackend(systemWindowsClock(), systemElevation(), parent);
#else
    auto *direct = new SetTimeBackend(systemRealtimeClock(), parent);
    auto *backend = new TimedatedBackend(QDBusConnection::systemBus(), direct, parent);
    direct->setParent(backend);
    return backend;
#endif
}
