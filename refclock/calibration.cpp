#include "refclock/calibration.h"

#include "refclock/chronystatus.h"
#include "refclock/refclocklog.h"
#include "refclock/refclockoptions.h"
#include "refclock/refclockservice.h"
#include "refclock/samplesink.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <unistd.h>

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

namespace SettingsFile {

namespace {

// The options line's value without the quotes around it, split as systemd splits it.
QStringList optionsOf(const QString &value)
{
    QString unquoted = value.trimmed();
    if (unquoted.size() >= 2 && (unquoted.front() == u'"' || unquoted.front() == u'\'')
        && unquoted.back() == unquoted.front())
        unquoted = unquoted.mid(1, unquoted.size() - 2);
    return QProcess::splitCommand(unquoted);
}

QStringList replaceDelay(QStringList options, const QString &delay)
{
    for (qsizetype i = 0; i < options.size();) {
        if (options.at(i) == u"--delay")
            options.remove(i, qMin<qsizetype>(2, options.size() - i));
        else if (options.at(i).startsWith(QStringLiteral("--delay=")))
            options.removeAt(i);
        else
            ++i;
    }
    return options << QStringLiteral("--delay") << delay;
}

QString optionsLine(const QStringList &options)
{
    return QStringLiteral("%1=\"%2\"").arg(OptionsVariable, options.join(u' '));
}

} // namespace

QString withDelay(const QString &text, const QString &delay, const QStringList &defaultOptions)
{
    static const QRegularExpression assignment(
        QStringLiteral(R"(^\s*(?:export\s+)?%1=(.*)$)").arg(OptionsVariable));
    QStringList lines = text.split(u'\n');
    if (!lines.isEmpty() && lines.constLast().isEmpty())
        lines.removeLast();
    bool found = false;
    for (QString &line : lines) {
        const QRegularExpressionMatch match = assignment.match(line);
        if (!match.hasMatch())
            continue;
        line = optionsLine(replaceDelay(optionsOf(match.captured(1)), delay));
        found = true;
    }
    if (!found)
        lines.append(optionsLine(replaceDelay(defaultOptions, delay)));
    return lines.join(u'\n') + u'\n';
}

bool saveDelay(const QString &path, const QString &delay, const QStringList &defaultOptions,
               QString *error)
{
    QString text;
    QFile current(path);
    if (current.exists()) {
        if (!current.open(QIODevice::ReadOnly)) {
            *error = current.errorString();
            return false;
        }
        text = QString::fromUtf8(current.readAll());
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    file.write(withDelay(text, delay, defaultOptions).toUtf8());
    if (!file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

} // namespace SettingsFile

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

int runCalibration(const RefclockOptions &options, RefclockLog *log)
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

    DelayCalibration calibration;
    const bool terminal = ::isatty(STDOUT_FILENO) == 1;
    QElapsedTimer elapsed;
    elapsed.start();
    MeasuringSink sink([&](microseconds offset) {
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

    // The device alone: no receiver, and not offered to the window meanwhile.
    RefclockService service(
        options,
        {{options.zone, options.portLabel(), QString(), options.verbose, {}, QString()}, false},
        &sink, log);
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
