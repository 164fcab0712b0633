#include "refclock/calibration.h"

#include "refclock/chronystatus.h"
#include "refclock/refclocklog.h"
#include "refclock/refclockoptions.h"
#include "refclock/refclockservice.h"
#include "refclock/samplesink.h"
#include "refclock/sntp.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>

#ifdef Q_OS_WIN
#include "refclock/windowsservice.h"

#include <io.h>
#define isatty _isatty
#define STDOUT_FILENO 1
#else
#include <unistd.h>
#endif

std::chrono::microseconds DelayCalibration::quantile(double fraction) const
{
    if (m_delays.isEmpty())
        return std::chrono::microseconds(0);
    QList<std::chrono::microseconds> sorted = m_delays;
    std::sort(sorted.begin(), sorted.end());
    // Between the two nearest delays, in proportion.
    const double at = fraction * double(sorted.size() - 1);
    const auto below = qsizetype(std::floor(at));
    const qsizetype above = qMin(below + 1, sorted.size() - 1);
    const double weight = at - double(below);
    return std::chrono::microseconds(std::llround(double(sorted.at(below).count()) * (1 - weight)
                                                  + double(sorted.at(above).count()) * weight));
}

std::chrono::microseconds DelayCalibration::uncertainty() const
{
    if (m_delays.isEmpty())
        return std::chrono::seconds(1);
    const double sigma = double(spread().count()) / 1.349;
    return std::chrono::microseconds(
        std::llround(1.96 * 1.2533 * sigma / std::sqrt(double(m_delays.size()))));
}

bool DelayCalibration::isDelay() const
{
    const std::chrono::microseconds delay = median();
    return delay > -std::chrono::seconds(1) && delay < std::chrono::seconds(1);
}

namespace {

QString secondsValue(std::chrono::microseconds duration)
{
    return QString::number(std::chrono::duration<double>(duration).count(), 'f', 4);
}

std::chrono::microseconds secondsFrom(const QString &text, bool *ok)
{
    const double seconds = text.toDouble(ok);
    return std::chrono::microseconds(std::llround(seconds * 1e6));
}

} // namespace

QString CalibrationState::text() const
{
    return QStringLiteral("device=%1\ndelay=%2\nmeasured=%3\nagainst=%4\nframes=%5\nspread=%6\n")
        .arg(device, secondsValue(delay), measured.toUTC().toString(Qt::ISODate), against)
        .arg(frames)
        .arg(secondsValue(spread));
}

CalibrationState CalibrationState::fromText(const QString &text)
{
    CalibrationState state;
    bool delayRead = false;
    for (const QString &line : text.split(u'\n')) {
        const qsizetype equals = line.indexOf(u'=');
        if (equals <= 0)
            continue;
        const QString key = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed();
        bool ok = false;
        if (key == u"device") {
            state.device = value;
        } else if (key == u"delay") {
            state.delay = secondsFrom(value, &ok);
            delayRead = ok && state.delay > -std::chrono::seconds(1)
                        && state.delay < std::chrono::seconds(1);
        } else if (key == u"measured") {
            state.measured = QDateTime::fromString(value, Qt::ISODate).toUTC();
        } else if (key == u"against") {
            state.against = value;
        } else if (key == u"frames") {
            state.frames = value.toInt();
        } else if (key == u"spread") {
            state.spread = secondsFrom(value, &ok);
        }
    }
    if (!delayRead)
        return {};
    return state;
}

QString CalibrationState::defaultPath()
{
#ifdef Q_OS_WIN
    return WindowsService::statePath();
#endif
    QString folder = qEnvironmentVariable("STATE_DIRECTORY");
    // systemd may list several folders, separated by colons; this unit names one.
    folder = folder.section(u':', 0, 0);
    if (folder.isEmpty())
        folder = QStringLiteral("/var/lib/quorvel-refclock");
    return QDir(folder).filePath(QStringLiteral("calibration"));
}

CalibrationState CalibrationState::read(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return fromText(QString::fromUtf8(file.read(qint64(64) * 1024)));
}

bool CalibrationState::write(const QString &path, QString *error) const
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        *error = QCoreApplication::translate("Calibration", "no se pudo crear la carpeta");
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    file.write(text().toUtf8());
    if (!file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

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

// Calibration sends nothing to chrony: each sample goes to `measured`.
class MeasuringSink : public SampleSink
{
public:
    explicit MeasuringSink(std::function<void(microseconds)> measured)
        : m_measured(std::move(measured))
    {
    }

    Result send(UtcTime, microseconds offset, QString *) override
    {
        m_measured(offset);
        return Sent;
    }

private:
    std::function<void(microseconds)> m_measured;
};

void print(const QString &line)
{
    std::fputs(qPrintable(line + u'\n'), stdout);
    std::fflush(stdout);
}

} // namespace

int runCalibration(const RefclockOptions &options, RefclockLog *log)
{
    const qint64 lengthSeconds =
        std::chrono::duration_cast<std::chrono::seconds>(options.calibrationLength).count();
    // Against chrony, which keeps the computer's clock; or against an NTP server over SNTP,
    // each sample corrected by the computer's offset from it, measured now and every minute.
    ChronyStatus reference;
    std::unique_ptr<SntpWatch> sntp;
    QEventLoop first;
    bool answered = false;
    if (options.sntpServer.isEmpty()) {
        reference = ChronyStatus::ask(options.chronyCommandSocket);
        if (reference.kind != ChronyStatus::Synchronised) {
            std::fputs(qPrintable(reference.refusal() + u'\n'), stderr);
            return 1;
        }
        print(tr("Calibrando %1 durante %2 s frente al reloj del ordenador, que chrony "
                 "sincroniza con %3.")
                  .arg(options.portLabel())
                  .arg(lengthSeconds)
                  .arg(reference.reference));
    } else {
        // A later measurement that fails keeps the offset measured before.
        sntp = std::make_unique<SntpWatch>(
            options.sntpServer, options.chronyInterval, [&](const ChronyStatus &status) {
                if (!answered || status.kind == ChronyStatus::Synchronised)
                    reference = status;
                if (!answered) {
                    answered = true;
                    first.quit();
                }
            });
        sntp->start();
        if (!answered) // a server that is no server is refused at once
            first.exec();
        if (reference.kind != ChronyStatus::Synchronised) {
            std::fputs(
                qPrintable(tr("No se calibra: sin respuesta SNTP (%1).").arg(reference.reference)
                           + u'\n'),
                stderr);
            return 1;
        }
        // The computer's clock relative to the server: "+2,5" when it is ahead.
        const microseconds ahead = -reference.clockOffset;
        print(tr("Calibrando %1 durante %2 s frente a %3 por SNTP (reloj del ordenador a %4 ms "
                 "de él; ida y vuelta %5 ms).")
                  .arg(options.portLabel())
                  .arg(lengthSeconds)
                  .arg(reference.reference,
                       (ahead >= microseconds(0) ? QStringLiteral("+") : QString())
                           + millisecondsText(ahead),
                       millisecondsText(reference.roundTrip)));
    }
    const ChronyStatus &chrony = reference;

    DelayCalibration calibration;
    const bool terminal = ::isatty(STDOUT_FILENO) == 1;
    QElapsedTimer elapsed;
    elapsed.start();
    MeasuringSink sink([&](microseconds offset) {
        calibration.add(offset - reference.clockOffset);
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

    // The device alone: no receiver, and not offered to the window meanwhile.
    RefclockService::Settings settings{
        {options.zone, options.portLabel(), QString(), options.verbose, {}, QString()}};
    settings.share = false;
    RefclockService service(options, settings, &sink, log);
    service.start();
    QTimer::singleShot(
        std::chrono::duration_cast<std::chrono::milliseconds>(options.calibrationLength),
        QCoreApplication::instance(), [] { QCoreApplication::exit(0); });
    const int status = QCoreApplication::exec();
    service.stop();
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
    if (!calibration.isDelay()) {
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
    CalibrationState state;
    state.device = service.deviceName();
    state.delay = delay;
    state.measured = QDateTime::currentDateTimeUtc();
    state.against = chrony.reference;
    state.frames = calibration.frames();
    state.spread = calibration.spread();
    const QString statePath =
        options.statePath.isEmpty() ? CalibrationState::defaultPath() : options.statePath;
    QString error;
    if (!state.write(statePath, &error)) {
        std::fputs(qPrintable(tr("No se pudo escribir %1: %2").arg(statePath, error) + u'\n'),
                   stderr);
        return 1;
    }
#ifdef Q_OS_WIN
    print(tr("Escrito en %1; reinicie el servicio (sc stop quorvel-refclock y sc start "
             "quorvel-refclock) para usarlo.")
              .arg(statePath));
#else
    print(tr("Escrito en %1; reinicie el servicio (systemctl restart quorvel-refclock) para "
             "usarlo.")
              .arg(statePath));
#endif
    return 0;
}
