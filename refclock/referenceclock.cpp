#include "refclock/referenceclock.h"

#include "core/serialport.h"
#include "frametime/frametime.h"
#include "refclock/refclocklog.h"

#include <QCoreApplication>
#include <QDateTime>

#include <utility>

namespace {

constexpr int RetryPolls = int(ReferenceClock::RetryInterval / ReferenceClock::PollInterval);

QString tr(const char *text)
{
    return QCoreApplication::translate("ReferenceClock", text);
}

// Why the port could not be opened, by the diagnosis the window's message gives too.
QString openFailureText(int error, const PortFailure &failure)
{
    switch (failure.kind) {
    case PortFailure::Kind::NoDevice:
        return tr("ningún puerto serie de este equipo es el puerto %1").arg(failure.number);
    case PortFailure::Kind::DeviceMissing:
        return tr("no hay ningún dispositivo en %1").arg(failure.device);
    case PortFailure::Kind::PermissionDenied:
        if (failure.group.isEmpty())
            return tr("sin permiso para abrir %1").arg(failure.device);
        return tr("sin permiso para abrir %1, que pertenece al grupo %2")
            .arg(failure.device, failure.group);
    case PortFailure::Kind::InUse:
        if (failure.holder.isEmpty())
            return tr("otro programa tiene abierto %1").arg(failure.device);
        return tr("otro programa tiene abierto %1: %2 (proceso %3)")
            .arg(failure.device, failure.holder)
            .arg(failure.holderProcess);
    case PortFailure::Kind::Other:
        if (!failure.systemText.isEmpty())
            return failure.systemText;
        break;
    case PortFailure::Kind::None:
        break;
    }
    switch (error) {
    case SerialNoDevice:
        return tr("no hay dispositivo");
    case SerialOpenFailed:
        return tr("no se puede abrir: ocupado o sin permiso");
    default:
        return tr("error %1").arg(error);
    }
}

// "1796729336.838568": seconds since 1970 on the computer's clock.
QString secondsText(UtcTime time)
{
    const qint64 micro = time.time_since_epoch().count();
    const qint64 seconds = micro >= 0 ? micro / 1'000'000 : -((-micro + 999'999) / 1'000'000);
    return QStringLiteral("%1.%2").arg(seconds).arg(micro - seconds * 1'000'000, 6, 10,
                                                    QLatin1Char('0'));
}

} // namespace

ReferenceClock::ReferenceClock(SerialPort *port, SampleSink *sink, RefclockLog *log,
                               Settings settings, std::function<ClockPair()> clocks)
    : m_port(port), m_sink(sink), m_log(log), m_settings(std::move(settings)),
      m_clocks(std::move(clocks)), m_agreement(m_settings.earliest, m_settings.acceptStepAfter)
{
}

void ReferenceClock::poll()
{
    bool open = false;
    if (m_port->portOpen(&open) != SerialOk || !open) {
        keepPortOpen();
        return;
    }
    QList<ReceivedChunk> chunks;
    if (m_port->input(&chunks) != SerialOk) {
        // A port that fails to read is closed and opened again, like a device that went away.
        m_port->setPortOpen(false);
        keepPortOpen();
        return;
    }
    for (const FrameDecoder::Line &line : m_decoder.decode(chunks)) {
        if (line.frame)
            takeFrame(*line.frame);
        else if (m_settings.verbose)
            m_log->write(tr("Trama mal formada: sin muestra."));
    }
}

void ReferenceClock::stop()
{
    bool open = false;
    if (m_port->portOpen(&open) == SerialOk && open)
        m_port->setPortOpen(false);
}

void ReferenceClock::keepPortOpen()
{
    if (m_portState == PortState::Open) {
        setPortState(PortState::Lost);
        // The device that comes back may be another, or set anew: it must agree first.
        m_agreement.reset();
        m_stepsFollowed = 0;
        m_loggedFollowAt.reset();
        m_pollsUntilRetry = 0; // try at once: the device may only have hiccupped
    }
    if (m_pollsUntilRetry > 0) {
        --m_pollsUntilRetry;
        return;
    }
    m_pollsUntilRetry = RetryPolls - 1;
    const int error = m_port->setPortOpen(true);
    if (error == SerialOk) {
        m_decoder.reset(); // a frame cut short by the loss is not completed by the next
        setPortState(PortState::Open);
        return;
    }
    const QString reason = openFailureText(error, m_port->lastFailure());
    if (m_portState == PortState::Lost && (!m_portTried || m_portReason == reason)) {
        m_portTried = true; // the line about the loss says it all
        m_portReason = reason;
    } else {
        setPortState(PortState::Missing, reason);
    }
}

void ReferenceClock::setPortState(PortState state, const QString &reason)
{
    if (state == m_portState && reason == m_portReason)
        return;
    m_portState = state;
    m_portReason = reason;
    const QString port = m_settings.portLabel;
    switch (state) {
    case PortState::Open:
        m_log->write(tr("Leyendo el dispositivo en %1.").arg(port));
        break;
    case PortState::Missing:
        m_log->write(tr("Dispositivo no disponible en %1 (%2); se reintenta cada %3 s.")
                         .arg(port, reason)
                         .arg(RetryInterval.count() / 1000));
        break;
    case PortState::Lost:
        m_portTried = false;
        m_log->write(tr("Se perdió el dispositivo en %1; se reintenta cada %2 s.")
                         .arg(port)
                         .arg(RetryInterval.count() / 1000));
        break;
    case PortState::Unknown:
        break;
    }
}

void ReferenceClock::takeFrame(const Frame &frame)
{
    // Read the clocks now, as the frame is taken: the pair maps its "$" arrival, measured on
    // the monotonic clock, to the computer's clock.
    const ClockPair clocks = m_clocks();
    const std::optional<UtcTime> device = frameInstant(frame, m_settings.zone);
    if (!device) {
        if (m_settings.verbose)
            m_log->write(
                tr("Trama sin instante (%1 %2): sin muestra.").arg(frame.date, frame.time));
        return;
    }
    const ClockAgreement::State before = m_agreement.state();
    m_agreement.add(device, frame.arrival);
    logAgreement(before, *device, clocks);
    if (!m_agreement.agrees()) {
        if (m_settings.verbose)
            m_log->write(tr("Trama a la espera de que el reloj del dispositivo concuerde: sin "
                            "muestra."));
        return;
    }
    // Dated at the "$"'s arrival; the device was ahead by its time less the computer's when
    // its second began (the timing model of frametime.h).
    const UtcTime stamp = clocks.realTimeOf(frame.arrival);
    sendSample(stamp, *device - clocks.realTimeOf(secondBegan(frame, m_settings.delay)));
}

void ReferenceClock::logAgreement(ClockAgreement::State before, UtcTime device,
                                  const ClockPair &clocks)
{
    const ClockAgreement::State after = m_agreement.state();
    const double minutes =
        std::chrono::duration<double, std::ratio<60>>(m_settings.acceptStepAfter).count();
    if (m_agreement.stepsFollowed() != m_stepsFollowed) {
        m_stepsFollowed = m_agreement.stepsFollowed();
        m_stopLogged = false;
        m_loggedFollowAt.reset();
        m_log->write(tr("El reloj del dispositivo mantuvo su nueva hora %1 min sin saltos: se "
                        "sigue esa hora y se vuelven a enviar muestras.")
                         .arg(minutes));
        return;
    }
    const std::optional<MonotonicTime> followAt = m_agreement.followsNewTimeAt();
    if (after == ClockAgreement::State::Jumped && followAt && followAt != m_loggedFollowAt) {
        // A jump after the device was trusted: its new time is watched, and followed if it
        // holds. Each new jump moves that moment, and is told.
        m_stopLogged = true;
        m_loggedFollowAt = followAt;
        const QDateTime resumes =
            QDateTime::fromMSecsSinceEpoch(std::chrono::duration_cast<std::chrono::milliseconds>(
                                               clocks.realTimeOf(*followAt).time_since_epoch())
                                               .count());
        m_log->write(
            tr("El reloj del dispositivo saltó %1 s: no se envían muestras hasta que vuelva a la "
               "hora anterior, o hasta las %2 si mantiene la nueva sin saltos (%3 min).")
                .arg(std::chrono::duration<double>(m_agreement.lastJump()).count(), 0, 'f', 3)
                .arg(resumes.toString(QStringLiteral("HH:mm:ss")))
                .arg(minutes));
        return;
    }
    if (after == before)
        return;
    m_loggedFollowAt.reset();
    switch (after) {
    case ClockAgreement::State::Jumped:
        m_stopLogged = true;
        m_log->write(
            tr("El reloj del dispositivo saltó %1 s: no se envían muestras hasta que "
               "avance de nuevo con el del ordenador.")
                .arg(std::chrono::duration<double>(m_agreement.lastJump()).count(), 0, 'f', 3));
        break;
    case ClockAgreement::State::Stopped:
        m_stopLogged = true;
        m_log->write(tr("El reloj del dispositivo está parado: no se envían muestras hasta que "
                        "avance de nuevo con el del ordenador."));
        break;
    case ClockAgreement::State::Implausible:
        m_stopLogged = true;
        m_log->write(
            tr("El reloj del dispositivo da una fecha anterior a la de este programa (%1): no se "
               "envían muestras hasta que dé una fecha posible.")
                .arg(QDateTime::fromMSecsSinceEpoch(
                         std::chrono::duration_cast<std::chrono::milliseconds>(
                             device.time_since_epoch())
                             .count(),
                         QTimeZone::utc())
                         .toString(QStringLiteral("yyyy-MM-dd"))));
        break;
    case ClockAgreement::State::Agreeing:
        // The first start is not news; a start after a stop is, also when the device was
        // plugged in again since.
        if (m_stopLogged)
            m_log->write(tr("El reloj del dispositivo avanza de nuevo con el del ordenador: "
                            "se vuelven a enviar muestras."));
        m_stopLogged = false;
        break;
    case ClockAgreement::State::Starting:
        break;
    }
}

void ReferenceClock::sendSample(UtcTime stamp, std::chrono::microseconds offset)
{
    QString reason;
    const SampleSink::Result result = m_sink->send(stamp, offset, &reason);
    if (m_settings.receiver.isEmpty() || result == SampleSink::Withheld) {
        if (m_settings.verbose)
            m_log->write(tr("Muestra medida: llegada %1, adelanto %2 s.")
                             .arg(secondsText(stamp))
                             .arg(std::chrono::duration<double>(offset).count(), 0, 'f', 6));
        return;
    }
    if (result == SampleSink::Sent) {
        ++m_samplesSent;
        setChronyState(ChronyState::Listening);
    } else {
        ++m_samplesDropped;
        setChronyState(ChronyState::NotListening, reason);
    }
    if (m_settings.verbose)
        m_log->write(tr("Muestra %1: llegada %2, adelanto %3 s.")
                         .arg(result == SampleSink::Sent ? tr("enviada") : tr("descartada"),
                              secondsText(stamp))
                         .arg(std::chrono::duration<double>(offset).count(), 0, 'f', 6));
}

void ReferenceClock::setChronyState(ChronyState state, const QString &reason)
{
    if (state == m_chronyState)
        return;
    m_chronyState = state;
    if (state == ChronyState::Listening)
        m_log->write(
            tr("%1 recibe las muestras en %2.").arg(m_settings.receiver, m_settings.socketLabel));
    else
        m_log->write(tr("%1 no escucha en %2 (%3): se descartan las muestras hasta que vuelva.")
                         .arg(m_settings.receiver, m_settings.socketLabel, reason));
}
