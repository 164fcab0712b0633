#include "ui/windowtexts.h"

#include <QCoreApplication>
#include <QStringList>

#include <array>
#include <cstdlib>

namespace {

using namespace std::chrono;

constexpr const char *CaptionContext = "FrameCaptions";

const char *const WeekdayNames[] = {
    QT_TRANSLATE_NOOP("FrameCaptions", "Lunes"),     QT_TRANSLATE_NOOP("FrameCaptions", "Martes"),
    QT_TRANSLATE_NOOP("FrameCaptions", "Miercoles"), QT_TRANSLATE_NOOP("FrameCaptions", "Jueves"),
    QT_TRANSLATE_NOOP("FrameCaptions", "Viernes"),   QT_TRANSLATE_NOOP("FrameCaptions", "Sabado"),
    QT_TRANSLATE_NOOP("FrameCaptions", "Domingo"),
};

QString offsetTr(const char *text)
{
    return QCoreApplication::translate("OffsetText", text);
}

// `amount` (rounded to the millisecond, above zero) in days, hours, minutes and seconds.
QString amountText(milliseconds amount)
{
    const auto dayCount = duration_cast<hours>(amount).count() / 24;
    const std::array<qint64, 3> larger{dayCount, duration_cast<hours>(amount).count() % 24,
                                       duration_cast<minutes>(amount).count() % 60};
    const std::array<const char *, 3> unitNames{"d", "h", "min"};
    const qint64 milliseconds = amount.count() % 60000;

    // A larger unit is written from the first that is not zero; a zero one after it only
    // when a unit that is not zero follows.
    qsizetype first = 0;
    while (first < qsizetype(larger.size()) && larger.at(first) == 0)
        ++first;
    qsizetype last = qsizetype(larger.size()) - 1;
    if (milliseconds == 0) {
        while (last >= first && larger.at(last) == 0)
            --last;
    }
    QStringList parts;
    for (qsizetype unit = first; unit <= last; ++unit)
        parts.append(
            QStringLiteral("%1 %2").arg(larger.at(unit)).arg(QLatin1String(unitNames.at(unit))));
    parts.append(QStringLiteral("%1,%2 s")
                     .arg(milliseconds / 1000)
                     .arg(milliseconds % 1000, 3, 10, QLatin1Char('0')));
    return parts.join(u' ');
}

QString portTr(const char *text)
{
    return QCoreApplication::translate("PortFailure", text);
}

QString clockTr(const char *text)
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
        return clockTr("Se necesitan permisos de administrador.");
    case ClockBackend::Outcome::AutomaticSync:
        return clockTr("La sincronización automática de la hora está activada.");
    case ClockBackend::Outcome::NoAnswer:
        return clockTr("El servicio de hora del sistema no respondió en 5 minutos.");
    case ClockBackend::Outcome::Set:
    case ClockBackend::Outcome::NoValidTime:
    case ClockBackend::Outcome::Refused:
        break;
    }
    if (systemText.isEmpty())
        return clockTr("El servicio de hora del sistema rechazó el cambio.");
    return clockTr("El servicio de hora del sistema rechazó el cambio: %1").arg(systemText);
}

} // namespace

QString weekdayCaption(int weekday)
{
    if (weekday < 1 || weekday > 7)
        return {};
    return QCoreApplication::translate(CaptionContext, WeekdayNames[weekday - 1]);
}

QString seasonCaption(bool summer)
{
    return summer ? QCoreApplication::translate(CaptionContext,
                                                QT_TRANSLATE_NOOP("FrameCaptions", "Verano"))
                  : QCoreApplication::translate(CaptionContext,
                                                QT_TRANSLATE_NOOP("FrameCaptions", "Invierno"));
}

QString offsetText(std::optional<microseconds> offset, bool weekdayMatchesDate,
                   ClockAgreement::State clock)
{
    QString text;
    if (!offset) {
        text = offsetTr("Hora del equipo no válida");
    } else {
        // Half a millisecond and more rounds up, away from zero.
        const qint64 rounded = (std::llabs(offset->count()) + 500) / 1000;
        if (rounded == 0)
            text = offsetTr("El PC va en hora");
        else if (offset->count() > 0)
            text = offsetTr("El PC va %1 atrasado").arg(amountText(milliseconds(rounded)));
        else
            text = offsetTr("El PC va %1 adelantado").arg(amountText(milliseconds(rounded)));
    }
    if (!weekdayMatchesDate)
        text += offsetTr(" (el día de la semana no coincide con la fecha)");
    if (clock == ClockAgreement::State::Jumped)
        text += offsetTr(" (el reloj del dispositivo saltó)");
    else if (clock == ClockAgreement::State::Stopped)
        text += offsetTr(" (el reloj del dispositivo está parado)");
    else if (clock == ClockAgreement::State::Implausible)
        text += offsetTr(" (la fecha del dispositivo es anterior a este programa)");
    return text;
}

QString deviceSilentText()
{
    return offsetTr("El dispositivo no envía tramas");
}

QString keepingTimeText(const KeepingTime &keeping)
{
    switch (keeping.state) {
    case KeepingTime::State::KeepsTime:
        return offsetTr(" · el servicio pone en hora el PC con el dispositivo");
    case KeepingTime::State::Calibrating:
        return offsetTr(" · el servicio calibra el dispositivo");
    case KeepingTime::State::NotFollowed:
        break;
    }
    QString why;
    switch (keeping.reason) {
    case KeepingTime::Reason::None:
    case KeepingTime::Reason::Checking:
        why = offsetTr("aún lo comprueba");
        break;
    case KeepingTime::Reason::DeviceClockJumped:
        why = offsetTr("su reloj saltó");
        break;
    case KeepingTime::Reason::DeviceClockStopped:
        why = offsetTr("su reloj está parado");
        break;
    case KeepingTime::Reason::ImplausibleDate:
        why = offsetTr("su fecha es anterior a este programa");
        break;
    case KeepingTime::Reason::NoDevice:
        why = offsetTr("no lo tiene abierto");
        break;
    case KeepingTime::Reason::NoChrony:
        why = offsetTr("chrony no responde");
        break;
    case KeepingTime::Reason::NotSynchronised:
        why = offsetTr("chrony no está sincronizado");
        break;
    case KeepingTime::Reason::FollowsOther:
        why = offsetTr("chrony sigue otra fuente");
        break;
    case KeepingTime::Reason::NoTimeService:
        why = offsetTr("el servicio de hora de Windows no lee sus muestras");
        break;
    }
    return offsetTr(" · el servicio no sigue el dispositivo: %1").arg(why);
}

QString portFailureText(const PortFailure &failure)
{
    const QString number = QString::number(failure.number);
    switch (failure.kind) {
    case PortFailure::Kind::None:
        return {};
    case PortFailure::Kind::NoDevice:
#ifdef Q_OS_WIN
        return portTr("Com%1 no corresponde a ningún puerto serie.").arg(number);
#else
        return portTr("Com%1 no corresponde a ningún puerto serie de este equipo. Para usar un "
                      "dispositivo como Com%1, indíquelo en la variable de entorno QUORVEL_COM%1 "
                      "(por ejemplo, QUORVEL_COM%1=/dev/ttyUSB0).")
            .arg(number);
#endif
    case PortFailure::Kind::DeviceMissing:
        return portTr(
                   "Com%1 es %2, y no hay ningún dispositivo en %2. Compruebe que esté conectado.")
            .arg(number, failure.device);
    case PortFailure::Kind::PermissionDenied:
        if (failure.group.isEmpty())
            return portTr("No tiene permiso para abrir %1 (Com%2).").arg(failure.device, number);
        return portTr("No tiene permiso para abrir %1 (Com%2), que pertenece al grupo %3: añada su "
                      "usuario al grupo %3 y vuelva a iniciar la sesión.")
            .arg(failure.device, number, failure.group);
    case PortFailure::Kind::InUse:
        if (failure.holder.isEmpty())
            return portTr("Otro programa tiene abierto %1 (Com%2). Ciérrelo y vuelva a elegir el "
                          "puerto.")
                .arg(failure.device, number);
        return portTr(
                   "Otro programa tiene abierto %1 (Com%2): %3 (proceso %4). Ciérrelo y vuelva a "
                   "elegir el puerto.")
            .arg(failure.device, number, failure.holder, QString::number(failure.holderProcess));
    case PortFailure::Kind::Other:
        break;
    }
    if (failure.device.isEmpty())
        return failure.systemText;
    return portTr("%1 (Com%2): %3").arg(failure.device, number, failure.systemText);
}

QString clockSettingText(ClockBackend::Outcome outcome, const QString &systemText)
{
    switch (outcome) {
    case ClockBackend::Outcome::Set:
        return {};
    case ClockBackend::Outcome::NoValidTime:
        return clockTr("Fecha u hora no válida.");
    case ClockBackend::Outcome::NoPermission:
    case ClockBackend::Outcome::AutomaticSync:
    case ClockBackend::Outcome::Refused:
    case ClockBackend::Outcome::NoAnswer:
        break;
    }
    return clockTr("No se pudo poner en hora el PC.") + QLatin1String("\r\n")
           + reason(outcome, systemText);
}
