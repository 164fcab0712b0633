#include "refclock/calibrationrun.h"

#include "refclock/chronystatus.h"
#include "refclock/delaycalibration.h"
#include "refclock/durationoption.h"
#include "refclock/refclocklog.h"
#include "refclock/refclockoptions.h"
#include "refclock/referenceclock.h"
#include "refclock/samplesocket.h"
#include "refclock/settingsfile.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>
#include <unistd.h>

namespace {

using std::chrono::microseconds;

QString tr(const char *text)
{
    return QCoreApplication::translate("Calibration", text);
}

// "131,5": milliseconds with one decimal and a decimal comma, for people.
QString millisecondsText(microseconds duration)
{
    return QString::number(double(duration.count()) / 1000, 'f', 1).replace(u'.', u',');
}

// Calibration sends nothing to chrony.
class NoSocket : public SampleSocket
{
public:
    Result send(const QByteArray &, QString *) override { return Sent; }
};

void print(const QString &line)
{
    std::fputs(qPrintable(line + u'\n'), stdout);
    std::fflush(stdout);
}

// The options the service runs with when its settings name none: the device calibrated.
QStringList defaultOptions(const RefclockOptions &options)
{
    QStringList result{QStringLiteral("--port"), options.devicePath.isEmpty()
                                                     ? QString::number(options.portNumber)
                                                     : options.devicePath};
    if (options.zone != QTimeZone::systemTimeZone())
        result << QStringLiteral("--zone") << QString::fromUtf8(options.zone.id());
    return result;
}

} // namespace

int runCalibration(const RefclockOptions &options, SerialPort *port, RefclockLog *log)
{
    const ChronyStatus chrony = ChronyStatus::ask(options.chronyCommandSocket);
    if (chrony.kind != ChronyStatus::Synchronised) {
        std::fputs(qPrintable(chrony.refusal() + u'\n'), stderr);
        return 1;
    }
    const qint64 lengthSeconds =
        std::chrono::duration_cast<std::chrono::seconds>(options.calibrationLength).count();
    print(tr("Calibrando %1 durante %2 s frente al reloj del ordenador, que chrony sincroniza "
             "con %3.")
              .arg(options.portLabel())
              .arg(lengthSeconds)
              .arg(chrony.reference));

    NoSocket socket;
    ReferenceClock clock(port, &socket, log,
                         {options.zone, options.portLabel(), QString(), options.verbose});
    DelayCalibration calibration;
    const bool terminal = ::isatty(STDOUT_FILENO) == 1;
    QElapsedTimer elapsed;
    elapsed.start();
    clock.setSampleHandler([&](UtcTime, microseconds offset) {
        calibration.add(offset);
        if (terminal) {
            std::fputs(qPrintable(tr("\rCalibrando: %1 s de %2, %3 tramas, retraso mediano "
                                     "%4 ms   ")
                                      .arg(elapsed.elapsed() / 1000)
                                      .arg(lengthSeconds)
                                      .arg(calibration.frames())
                                      .arg(millisecondsText(calibration.median()))),
                       stdout);
            std::fflush(stdout);
        }
    });

    QTimer poll;
    poll.setTimerType(Qt::PreciseTimer);
    QObject::connect(&poll, &QTimer::timeout, &poll, [&clock] { clock.poll(); });
    poll.start(ReferenceClock::PollInterval);
    clock.poll();
    QTimer::singleShot(
        std::chrono::duration_cast<std::chrono::milliseconds>(options.calibrationLength),
        QCoreApplication::instance(), [] { QCoreApplication::exit(0); });
    const int status = QCoreApplication::exec();
    poll.stop();
    clock.stop();
    if (terminal)
        std::fputs("\n", stdout);
    if (status != 0) {
        std::fputs(qPrintable(tr("Calibración interrumpida: no se guarda nada.") + u'\n'), stderr);
        return status;
    }

    if (calibration.frames() < DelayCalibration::MinimumFrames) {
        std::fputs(qPrintable(tr("No se calibra: solo %1 tramas en las que el reloj del "
                                 "dispositivo avanza con el del ordenador; hacen falta %2.")
                                  .arg(calibration.frames())
                                  .arg(DelayCalibration::MinimumFrames)
                              + u'\n'),
                   stderr);
        return 1;
    }
    const microseconds delay = calibration.median();
    print(tr("Retraso mediano del dispositivo: %1 ms; dispersión (del primer al tercer "
             "cuartil): %2 ms; %3 tramas.")
              .arg(millisecondsText(delay), millisecondsText(calibration.spread()))
              .arg(calibration.frames()));
    if (delay <= -std::chrono::seconds(1) || delay >= std::chrono::seconds(1)) {
        std::fputs(qPrintable(tr("Eso no es un retraso: el reloj del dispositivo no está en "
                                 "hora. Revise su hora y su zona (--zone).")
                              + u'\n'),
                   stderr);
        return 1;
    }
    const QString value = delayOptionValue(delay);
    print(tr("Opción: --delay %1").arg(value));
    if (!options.save)
        return 0;
    QString error;
    if (!SettingsFile::saveDelay(options.settingsPath, value, defaultOptions(options), &error)) {
        std::fputs(
            qPrintable(tr("No se pudo escribir %1: %2").arg(options.settingsPath, error) + u'\n'),
            stderr);
        return 1;
    }
    print(tr("Escrito en %1; reinicie el servicio (systemctl restart quorvel-refclock) para "
             "usarlo.")
              .arg(options.settingsPath));
    return 0;
}
