#include "clock/clocksetting.h"

#include "frametime/frameinstant.h"

#include <QCoreApplication>

namespace {

// The reason shown under "No se pudo poner en hora el PC." for a refusal. A refusal that
// Quorvel does not know comes with the system's own words, often English: they are shown
// after a sentence that says whose they are.
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
    if (systemText.isEmpty())
        return QCoreApplication::translate("ClockSetting",
                                           "El servicio de hora del sistema rechazó el cambio.");
    return QCoreApplication::translate("ClockSetting",
                                       "El servicio de hora del sistema rechazó el cambio: %1")
        .arg(systemText);
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

void ClockSetting::setFromFrame(const std::optional<Frame> &frame)
{
    if (m_busy)
        return;
    if (!frame) {
        fail(tr("Fecha u hora no válida."));
        return;
    }
    // A text of blanks is not empty: it goes on to fail conversion.
    if (frame->time.isEmpty() || frame->date.isEmpty())
        return;

    const std::optional<UtcTime> atSecond = frameInstant(*frame, m_zone());
    if (!atSecond) {
        fail(tr("Fecha u hora no válida."));
        return;
    }

    // The frame holds the device's time when its second began: add the lateness of its "$"
    // and what has passed since the "$" arrived, measured now, right before the value is
    // handed over.
    const auto age = std::max(std::chrono::nanoseconds(m_monotonicNow() - frame->arrival),
                              std::chrono::nanoseconds::zero());
    const UtcTime now =
        *atSecond
        + std::chrono::duration_cast<std::chrono::microseconds>(markerLateness(m_delay) + age);
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
    fail(tr("No se pudo poner en hora el PC.") + QLatin1String("\r\n")
         + reason(outcome, systemText));
}

void ClockSetting::fail(const QString &text)
{
    m_messages->show(text);
    emit finished();
}
