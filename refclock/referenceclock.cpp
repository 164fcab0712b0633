#include "refclock/referenceclock.h"

#include "core/serialport.h"
#include "frametime/frametime.h"
#include "refclock/refclocklog.h"

#include <QCoreApplication>

#include <utility>

namespace {

constexpr int RetryPolls = int(ReferenceClock::RetryInterval / ReferenceClock::PollInterval);
// The port's error before any try after the device was lost.
constexpr int NotTriedYet = -1;

QString tr(const char *text)
{
    return QCoreApplication::translate("ReferenceClock", text);
}

QString openErrorText(int error)
{
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

ReferenceClock::ReferenceClock(SerialPort *port, SampleSocket *socket, RefclockLog *log,
                               Settings settings, std::function<ClockPair()> clocks)
    : m_port(port), m_socket(socket), m_log(log), m_settings(std::move(settings)),
      m_clocks(std::move(clocks))
{
}

void ReferenceClock::poll()
{
    bool open = false;
    if (m_port->portOpen(&open) != SerialOk || !open) {
        keepPortOpen();
        return;
    }
    if (!m_receiver.Tick(m_port)) {
        // A port that fails to read is closed and opened again, like a device that went away.
        m_port->setPortOpen(false);
        keepPortOpen();
        return;
    }
    if (m_settings.verbose && m_receiver.TookFrame() && !m_receiver.TakenFrame())
        m_log->write(tr("Trama mal formada: sin muestra."));
    if (const std::optional<Frame> frame = m_receiver.TakenFrame())
        takeFrame(*frame);
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
        m_pollsUntilRetry = 0; // try at once: the device may only have hiccupped
    }
    if (m_pollsUntilRetry > 0) {
        --m_pollsUntilRetry;
        return;
    }
    m_pollsUntilRetry = RetryPolls - 1;
    const int error = m_port->setPortOpen(true);
    if (error == SerialOk)
        setPortState(PortState::Open);
    else if (m_portState == PortState::Lost && (m_portError == NotTriedYet || m_portError == error))
        m_portError = error; // the line about the loss says it all
    else
        setPortState(PortState::Missing, error);
}

void ReferenceClock::setPortState(PortState state, int error)
{
    if (state == m_portState && error == m_portError)
        return;
    m_portState = state;
    m_portError = error;
    const QString port = m_settings.portLabel;
    switch (state) {
    case PortState::Open:
        m_log->write(tr("Leyendo el dispositivo en %1.").arg(port));
        break;
    case PortState::Missing:
        m_log->write(tr("Dispositivo no disponible en %1 (%2); se reintenta cada %3 s.")
                         .arg(port, openErrorText(error))
                         .arg(RetryInterval.count() / 1000));
        break;
    case PortState::Lost:
        m_portError = NotTriedYet;
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
    const ClockAgreement::State after = m_agreement.add(device, frame.arrival);
    logAgreement(before, after);
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

void ReferenceClock::logAgreement(ClockAgreement::State before, ClockAgreement::State after)
{
    if (after == before)
        return;
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
    if (m_handler) {
        m_handler(stamp, offset);
        if (m_settings.verbose)
            m_log->write(tr("Muestra medida: llegada %1, adelanto %2 s.")
                             .arg(secondsText(stamp))
                             .arg(std::chrono::duration<double>(offset).count(), 0, 'f', 6));
        return;
    }
    QString reason;
    const SampleSocket::Result result = m_socket->send(m_socket->encode(stamp, offset), &reason);
    if (result == SampleSocket::Sent) {
        ++m_samplesSent;
        setChronyState(ChronyState::Listening);
    } else {
        ++m_samplesDropped;
        setChronyState(ChronyState::NotListening, reason);
    }
    if (m_settings.verbose)
        m_log->write(tr("Muestra %1: llegada %2, adelanto %3 s.")
                         .arg(result == SampleSocket::Sent ? tr("enviada") : tr("descartada"),
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
