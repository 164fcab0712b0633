#include "clocksetting.h"

#include "clocktext.h"
#include "localtoutc.h"

#include <QCoreApplication>

namespace {

// The reason shown under "No se pudo poner en hora el PC." for a refusal.
QString reason(ClockBackend::Outcome outcome, const QString &systemText)
{
    switch (outcome) {
    case ClockBackend::Outcome::NoPermission:
        return QCoreApplication::translate("ClockSetting",
                                           "Se necesitan permisos de administrador.");
    case ClockBackend::Outcome::AutomaticSync:
        return QCoreApplication::translate(
            "ClockSetting", "La sincronización automática de la hora está activada.");
    case ClockBackend::Outcome::Set:
    case ClockBackend::Outcome::Refused:
        break;
    }
    return systemText;
}

} // namespace

ClockSetting::ClockSetting(ClockBackend *backend, UserMessages *messages, QObject *parent,
                           std::function<MonotonicTime()> monotonicNow,
                           std::function<QTimeZone()> zone)
    : QObject(parent), m_backend(backend), m_messages(messages),
      m_monotonicNow(std::move(monotonicNow)), m_zone(std::move(zone))
{
    connect(m_backend, &ClockBackend::finished, this, &ClockSetting::onBackendFinished);
}

void ClockSetting::setFromShown(const QString &date, const QString &time, const QString &regime,
                                std::optional<MonotonicTime> frameArrival)
{
    // Both texts are read before either is tested; an empty one means there is nothing to set.
    // A text of blanks is not empty: it goes on to fail conversion.
    if (time.isEmpty() || date.isEmpty() || m_busy)
        return;

    const std::optional<QDate> day = parseClockDate(date);
    const std::optional<QTime> timeOfDay = parseClockTime(time);
    if (!day || !timeOfDay) {
        fail(tr("Fecha u hora no válida."));
        return;
    }

    const QTimeZone zone = m_zone();
    const bool summer = regime == QLatin1String("Verano");
    const std::optional<UtcTime> shown = localToUtc(*day, *timeOfDay, summer, zone);
    if (!shown) {
        fail(tr("Fecha u hora no válida."));
        return;
    }

    // The labels hold the device's time when the frame's "$" arrived: add what has passed
    // since, measured now, right before the value is handed over.
    auto age = std::chrono::microseconds::zero();
    if (frameArrival) {
        age =
            std::chrono::duration_cast<std::chrono::microseconds>(m_monotonicNow() - *frameArrival);
        age = std::max(age, std::chrono::microseconds::zero());
    }
    const UtcTime now = *shown + age;
    if (now.time_since_epoch().count() < 0) {
        fail(tr("Fecha u hora no válida."));
        return;
    }

    m_busy = true;
    m_backend->setTime(now);
}

void ClockSetting::onBackendFinished(ClockBackend::Outcome outcome, const QString &systemText)
{
    if (!m_busy)
        return;
    m_busy = false;
    if (outcome == ClockBackend::Outcome::Set) {
        emit finished();
        return;
    }
    fail(tr("No se pudo poner en hora el PC.") + QLatin1String("\r\n") +
         reason(outcome, systemText));
}

void ClockSetting::fail(const QString &text)
{
    m_messages->show(text);
    emit finished();
}
