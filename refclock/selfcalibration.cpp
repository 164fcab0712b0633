#include "refclock/selfcalibration.h"

#include "refclock/refclocklog.h"

#include <QCoreApplication>

#include <cmath>

using std::chrono::microseconds;

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("SelfCalibration", text);
}

// "131,5": milliseconds with one decimal and a decimal comma.
QString milliseconds(microseconds duration)
{
    return QString::number(double(duration.count()) / 1000, 'f', 1).replace(u'.', u',');
}

// "0,21": milliseconds with two decimals, for figures below a millisecond.
QString fineMilliseconds(microseconds duration)
{
    return QString::number(double(duration.count()) / 1000, 'f', 2).replace(u'.', u',');
}

} // namespace

SelfCalibration::SelfCalibration(SampleSink *chrony, RefclockLog *log, Settings settings,
                                 std::function<void(microseconds)> apply,
                                 std::function<QDateTime()> now,
                                 std::function<MonotonicTime()> monotonic)
    : m_chrony(chrony), m_log(log), m_settings(std::move(settings)), m_apply(std::move(apply)),
      m_now(std::move(now)), m_monotonic(std::move(monotonic))
{
}

microseconds SelfCalibration::delay() const
{
    if (m_settings.administratorDelay)
        return *m_settings.administratorDelay;
    return m_state.valid() ? m_state.delay : microseconds(0);
}

ServiceState::DelaySource SelfCalibration::source() const
{
    if (m_settings.administratorDelay)
        return ServiceState::DelaySource::Administrator;
    return m_state.valid() ? ServiceState::DelaySource::Calibrated
                           : ServiceState::DelaySource::None;
}

void SelfCalibration::setDevice(const QString &device)
{
    if (m_settings.administratorDelay || device.isEmpty() || (m_deviceKnown && device == m_device))
        return;
    m_deviceKnown = true;
    m_device = device;
    m_calibrating = false;
    m_refused = false;
    m_saidUncalibrated = false;
    m_saidWaiting = false;
    m_measured = DelayCalibration();
    const CalibrationState state = CalibrationState::read(m_settings.statePath);
    m_state = state.valid() && state.device == device ? state : CalibrationState();
    m_apply(m_state.valid() ? m_state.delay : microseconds(0));
    if (m_state.valid())
        m_log->write(tr("Retraso de %1 calibrado el %2: %3 ms.")
                         .arg(device, m_state.measured.toString(QStringLiteral("yyyy-MM-dd")),
                              milliseconds(m_state.delay)));
}

bool SelfCalibration::needsReference() const
{
    return !m_settings.administratorDelay && !m_state.valid() && !m_refused;
}

void SelfCalibration::chronySaid(const ChronyStatus &status)
{
    m_chronyStatus = status;
    if (status.kind == ChronyStatus::NotSynchronised && status.otherSources) {
        if (!m_waitingSince)
            m_waitingSince = m_monotonic();
    } else {
        m_waitingSince.reset();
    }
    if (m_settings.administratorDelay || !m_deviceKnown || m_state.valid() || m_refused)
        return;
    if (m_calibrating) {
        if (status.kind == ChronyStatus::Synchronised) {
            checkEnd();
            return;
        }
        m_calibrating = false;
        m_measured = DelayCalibration();
        m_log->write(m_settings.overSntp
                         ? tr("Calibración interrumpida: sin respuesta SNTP (%1); se envían "
                              "muestras sin calibrar y se volverá a calibrar cuando responda.")
                               .arg(status.reference)
                         : tr("Calibración interrumpida: chrony ya no sigue otra fuente (%1); se "
                              "envían muestras sin calibrar y se volverá a calibrar cuando la "
                              "siga.")
                               .arg(status.reference));
        return;
    }
    if (status.kind == ChronyStatus::Synchronised) {
        begin(status.reference);
        return;
    }
    // A chronyd that does not answer at all is chrony's own news ("no escucha", and --status):
    // this line is for one that answers and follows no other source.
    if (waitingForChrony()) {
        if (!m_saidWaiting) {
            m_saidWaiting = true;
            m_log->write(tr("chrony aún no sigue ninguna fuente (%1): no se envían muestras sin "
                            "calibrar mientras llega a otra, %2 min como mucho.")
                             .arg(status.reference)
                             .arg(MaxWaitForOtherSource.count()));
        }
        return;
    }
    if (!m_saidUncalibrated && status.kind != ChronyStatus::NoChrony) {
        m_saidUncalibrated = true;
        m_log->write(m_settings.overSntp
                         ? tr("Sin respuesta SNTP (%1): se envían muestras sin calibrar; se "
                              "calibrará en cuanto responda.")
                               .arg(status.reference)
                         : tr("Sin otra fuente que chrony siga (%1): se envían muestras sin "
                              "calibrar; se calibrará en cuanto chrony siga otra fuente.")
                               .arg(status.reference));
    }
}

void SelfCalibration::begin(const QString &against)
{
    m_calibrating = true;
    m_measured = DelayCalibration();
    m_against = against;
    m_startedAt = m_monotonic();
    m_apply(microseconds(0)); // measured from the "$" less the character time alone
    if (m_settings.overSntp)
        m_log->write(tr("Calibrando %1 frente a %2 por SNTP: no se envían muestras hasta conocer "
                        "el retraso (%3 min como mucho).")
                         .arg(m_device, against)
                         .arg(MaxLength.count()));
    else
        m_log->write(tr("Calibrando %1 frente a %2, que chrony sigue: no se envían muestras a "
                        "chrony hasta conocer el retraso (%3 min como mucho).")
                         .arg(m_device, against)
                         .arg(MaxLength.count()));
}

bool SelfCalibration::waitingForChrony() const
{
    if (m_settings.administratorDelay || m_state.valid() || m_refused || m_calibrating)
        return false;
    if (!m_chronyStatus)
        return true; // asked at the start: the answer comes within moments
    return m_waitingSince && m_monotonic() - *m_waitingSince < MaxWaitForOtherSource;
}

SampleSink::Result SelfCalibration::send(UtcTime systemTime, microseconds offset, QString *reason)
{
    if (!m_calibrating) {
        if (waitingForChrony())
            return Withheld;
        return m_chrony->send(systemTime, offset, reason);
    }
    // Against the server's clock rather than the computer's: the computer's clock is
    // clockOffset behind the server's (chrony's own status has it nought).
    m_measured.add(offset - m_chronyStatus->clockOffset);
    checkEnd();
    return Withheld;
}

void SelfCalibration::checkEnd()
{
    if (!m_calibrating)
        return;
    const bool known =
        m_measured.frames() >= MinimumFrames && m_measured.uncertainty() <= Precision;
    if (known || m_monotonic() - m_startedAt >= MaxLength)
        finish();
}

void SelfCalibration::finish()
{
    m_calibrating = false;
    if (m_measured.frames() < MinimumFrames) {
        refuse(tr("solo %1 tramas en las que el reloj del dispositivo avanza con el del "
                  "ordenador; hacen falta %2")
                   .arg(m_measured.frames())
                   .arg(MinimumFrames));
        return;
    }
    if (!m_measured.isDelay()) {
        refuse(tr("la mediana, %1 ms, no es un retraso: el reloj del dispositivo no está en "
                  "hora; revise su hora y su zona (--zone)")
                   .arg(milliseconds(m_measured.median())));
        return;
    }
    if (m_measured.uncertainty() > MaxUncertainty) {
        refuse(tr("las tramas llegan demasiado dispersas (%1 ms del primer al tercer cuartil): "
                  "la mediana no se conoce a menos de %2 ms")
                   .arg(milliseconds(m_measured.spread()), fineMilliseconds(MaxUncertainty)));
        return;
    }
    CalibrationState state;
    state.device = m_device;
    // As the state keeps it (to 0.1 ms), so that a restart applies the very same delay.
    state.delay = microseconds(std::llround(double(m_measured.median().count()) / 100) * 100);
    state.measured = m_now().toUTC();
    state.against = m_against;
    state.frames = m_measured.frames();
    state.spread = m_measured.spread();
    m_state = state;
    m_apply(state.delay);
    const qint64 seconds =
        std::chrono::duration_cast<std::chrono::seconds>(m_monotonic() - m_startedAt).count();
    QString error;
    if (!state.write(m_settings.statePath, &error)) {
        m_log->write(tr("Calibración aplicada pero no guardada en %1 (%2): retraso %3 ms.")
                         .arg(m_settings.statePath, error, milliseconds(state.delay)));
        return;
    }
    m_log->write(
        tr("Calibración guardada en %1: retraso mediano %2 ms, dispersión %3 ms, %4 "
           "tramas en %5 s (incertidumbre %6 ms); se aplica desde ahora.")
            .arg(m_settings.statePath, milliseconds(state.delay), milliseconds(state.spread))
            .arg(state.frames)
            .arg(seconds)
            .arg(fineMilliseconds(m_measured.uncertainty())));
}

void SelfCalibration::refuse(const QString &why)
{
    m_refused = true;
    m_measured = DelayCalibration();
    m_log->write(tr("Calibración rechazada: %1. Se envían muestras sin calibrar.").arg(why));
}
