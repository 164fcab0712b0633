#include "refclock/statuscommand.h"

#include "share/shareprotocol.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QLocalSocket>

#include <cstdio>
#include <optional>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("Status", text);
}

QString milliseconds(std::chrono::microseconds duration, int decimals)
{
    return QString::number(double(duration.count()) / 1000, 'f', decimals).replace(u'.', u',');
}

// The first State message of the socket at `path`, within `timeout`.
std::optional<ServiceState> ask(const QString &path, std::chrono::milliseconds timeout)
{
    QLocalSocket socket;
    socket.connectToServer(path, QIODevice::ReadOnly);
    if (!socket.waitForConnected(int(timeout.count())))
        return std::nullopt;
    ShareProtocol::Decoder decoder;
    const QDeadlineTimer deadline(timeout);
    while (!deadline.hasExpired()) {
        if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(int(deadline.remainingTime())))
            break;
        decoder.append(socket.readAll());
        while (const std::optional<ShareProtocol::Message> message = decoder.next()) {
            if (message->type == ShareProtocol::Type::State)
                return message->state;
            if (message->type == ShareProtocol::Type::End)
                return std::nullopt;
        }
        if (decoder.broken())
            break;
    }
    return std::nullopt;
}

} // namespace

QStringList statusLines(const ServiceState &state)
{
    QStringList lines;
    QString port;
    switch (state.port) {
    case ServiceState::Port::Open:
        port = tr("abierto");
        break;
    case ServiceState::Port::Missing:
        port = tr("no disponible (%1)").arg(state.portReason);
        break;
    case ServiceState::Port::Lost:
        port = tr("perdido; se reintenta");
        break;
    case ServiceState::Port::Unknown:
        port = tr("aún sin abrir");
        break;
    }
    lines << tr("Dispositivo: %1, %2.").arg(state.device, port);

    QString clock;
    switch (state.deviceClock) {
    case ServiceState::DeviceClock::Starting:
        clock = tr("aún sin comprobar (hacen falta tres tramas seguidas que concuerden)");
        break;
    case ServiceState::DeviceClock::Agrees:
        clock = tr("concuerda con el del ordenador");
        break;
    case ServiceState::DeviceClock::Jumped:
        clock = tr("saltó; no se envían muestras");
        break;
    case ServiceState::DeviceClock::Stopped:
        clock = tr("parado; no se envían muestras");
        break;
    case ServiceState::DeviceClock::Implausible:
        clock = tr("da una fecha imposible; no se envían muestras");
        break;
    }
    lines << tr("Reloj del dispositivo: %1.").arg(clock);

    QString delay;
    switch (state.delaySource) {
    case ServiceState::DelaySource::Calibrated:
        delay = tr("%1 ms, calibrado el %2")
                    .arg(milliseconds(state.delay, 1),
                         state.calibratedAt.toUTC().toString(QStringLiteral("yyyy-MM-dd")));
        break;
    case ServiceState::DelaySource::Administrator:
        delay = tr("%1 ms, fijado por el administrador").arg(milliseconds(state.delay, 1));
        break;
    case ServiceState::DelaySource::None:
        delay = tr("sin calibrar");
        break;
    }
    if (state.calibrating)
        delay += tr("; calibrando (%1 tramas medidas)").arg(state.calibrationFrames);
    lines << tr("Retraso: %1.").arg(delay);
    lines << tr("Muestras: %1 enviadas, %2 descartadas.")
                 .arg(state.samplesSent)
                 .arg(state.samplesDropped);

    QString chrony;
    switch (state.chrony) {
    case ServiceState::Chrony::Unknown:
        chrony = tr("aún sin consultar");
        break;
    case ServiceState::Chrony::NoChrony:
        chrony = tr("no responde (%1)").arg(state.chronyReference);
        break;
    case ServiceState::Chrony::NotSynchronised:
        chrony = tr("no sincronizado (%1)").arg(state.chronyReference);
        break;
    case ServiceState::Chrony::FollowsOther:
        chrony = tr("sigue a %1, no al dispositivo").arg(state.chronyReference);
        break;
    case ServiceState::Chrony::FollowsDevice:
        chrony = tr("sigue al dispositivo");
        break;
    }
    if (state.deviceSeen)
        chrony +=
            tr("; estima el dispositivo a %1 ms ± %2 ms")
                .arg(milliseconds(
                         std::chrono::duration_cast<std::chrono::microseconds>(state.chronyOffset),
                         3),
                     milliseconds(
                         std::chrono::duration_cast<std::chrono::microseconds>(state.chronyError),
                         3));
    else if (state.chrony != ServiceState::Chrony::Unknown
             && state.chrony != ServiceState::Chrony::NoChrony)
        chrony += tr("; el dispositivo no figura entre sus fuentes");
    // Over SNTP chrony is not asked: the server's answers stand in its place.
    if (state.sntpServer.isEmpty()) {
        lines << tr("chrony: %1.").arg(chrony);
    } else if (state.sntpAnswered) {
        const std::chrono::microseconds behind = state.sntpOffset;
        lines << (behind >= std::chrono::microseconds(0)
                      ? tr("SNTP: %1 responde; el reloj del ordenador iba %2 ms por detrás.")
                      : tr("SNTP: %1 responde; el reloj del ordenador iba %2 ms por delante."))
                     .arg(state.sntpServer, milliseconds(std::chrono::abs(behind), 1));
    } else {
        lines << (state.sntpReason.isEmpty()
                      ? tr("SNTP: %1 aún sin consultar.").arg(state.sntpServer)
                      : tr("SNTP: sin respuesta (%1).").arg(state.sntpReason));
    }
    switch (state.provider) {
    case ServiceState::Provider::Unknown:
        break;
    case ServiceState::Provider::Reading:
        lines << tr("Servicio de hora de Windows: su proveedor lee las muestras.");
        break;
    case ServiceState::Provider::Absent:
        lines << tr("Servicio de hora de Windows: su proveedor no está conectado (¿está parado el "
                    "servicio W32Time?).");
        break;
    }
    return lines;
}

int runStatus(std::chrono::milliseconds timeout)
{
    bool answered = false;
    for (const QString &path : stateSockets()) {
        const std::optional<ServiceState> state = ask(path, timeout);
        if (!state)
            continue;
        if (answered)
            std::fputs("\n", stdout);
        answered = true;
        for (const QString &line : statusLines(*state))
            std::fputs(qPrintable(line + u'\n'), stdout);
    }
    std::fflush(stdout);
    if (!answered) {
        std::fputs(
            qPrintable(tr("Ningún servicio quorvel-refclock responde en %1.").arg(shareFolder())
                       + u'\n'),
            stderr);
        return 1;
    }
    return 0;
}
