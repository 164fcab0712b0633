#include "ui/portfailuretext.h"

#include <QCoreApplication>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("PortFailure", text);
}

} // namespace

QString portFailureText(const PortFailure &failure)
{
    const QString number = QString::number(failure.number);
    switch (failure.kind) {
    case PortFailure::Kind::None:
        return {};
    case PortFailure::Kind::NoDevice:
#ifdef Q_OS_WIN
        return tr("Com%1 no corresponde a ningún puerto serie.").arg(number);
#else
        return tr("Com%1 no corresponde a ningún puerto serie de este equipo. Para usar un "
                  "dispositivo como Com%1, indíquelo en la variable de entorno QUORVEL_COM%1 "
                  "(por ejemplo, QUORVEL_COM%1=/dev/ttyUSB0).")
            .arg(number);
#endif
    case PortFailure::Kind::DeviceMissing:
        return tr("Com%1 es %2, y no hay ningún dispositivo en %2. Compruebe que esté conectado.")
            .arg(number, failure.device);
    case PortFailure::Kind::PermissionDenied:
        if (failure.group.isEmpty())
            return tr("No tiene permiso para abrir %1 (Com%2).").arg(failure.device, number);
        return tr("No tiene permiso para abrir %1 (Com%2), que pertenece al grupo %3: añada su "
                  "usuario al grupo %3 y vuelva a iniciar la sesión.")
            .arg(failure.device, number, failure.group);
    case PortFailure::Kind::InUse:
        if (failure.holder.isEmpty())
            return tr("Otro programa tiene abierto %1 (Com%2). Ciérrelo y vuelva a elegir el "
                      "puerto.")
                .arg(failure.device, number);
        return tr("Otro programa tiene abierto %1 (Com%2): %3 (proceso %4). Ciérrelo y vuelva a "
                  "elegir el puerto.")
            .arg(failure.device, number, failure.holder, QString::number(failure.holderProcess));
    case PortFailure::Kind::Other:
        break;
    }
    if (failure.device.isEmpty())
        return failure.systemText;
    return tr("%1 (Com%2): %3").arg(failure.device, number, failure.systemText);
}
