#include "ui/clocksettingtext.h"

#include <QCoreApplication>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("ClockSetting", text);
}

// The reason shown under "No se pudo poner en hora el PC." for a refusal. A refusal that
// Quorvel does not know comes with the system's own words, often English: they are shown
// after a sentence that says whose they are.
QString reason(ClockBackend::Outcome refusal, const QString &systemText)
{
    switch (refusal) {
    case ClockBackend::Outcome::NoPermission:
        return tr("Se necesitan permisos de administrador.");
    case ClockBackend::Outcome::AutomaticSync:
        return tr("La sincronización automática de la hora está activada.");
    case ClockBackend::Outcome::Set:
    case ClockBackend::Outcome::Refused:
        break;
    }
    if (systemText.isEmpty())
        return tr("El servicio de hora del sistema rechazó el cambio.");
    return tr("El servicio de hora del sistema rechazó el cambio: %1").arg(systemText);
}

} // namespace

QString clockSettingText(const ClockSettingOutcome &outcome)
{
    switch (outcome.kind) {
    case ClockSettingOutcome::Kind::Set:
        return {};
    case ClockSettingOutcome::Kind::NoValidTime:
        return tr("Fecha u hora no válida.");
    case ClockSettingOutcome::Kind::Refused:
        break;
    }
    return tr("No se pudo poner en hora el PC.") + QLatin1String("\r\n")
           + reason(outcome.refusal, outcome.systemText);
}
