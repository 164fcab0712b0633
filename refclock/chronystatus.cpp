#include "refclock/chronystatus.h"

#include <QCoreApplication>
#include <QProcess>
#include <QStringList>

#include <cmath>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("ChronyStatus", text);
}

// Fields of `tracking -c`: reference ID (hex), its name or address, ..., leap status last.
constexpr int TrackingId = 0;
constexpr int TrackingName = 1;
constexpr int TrackingLeap = 13;
// The reference ID chronyd shows while it follows its own clock (`local`).
const QString LocalId = QStringLiteral("7F7F0101");

// Runs chronyc with `command`; false with `error` when it found no chronyd.
bool runChronyc(const QString &commandSocket, const QString &command, QString *output,
                QString *error)
{
    QProcess chronyc;
    chronyc.start(QStringLiteral("chronyc"),
                  ChronyStatus::chronycArguments(commandSocket, command));
    if (!chronyc.waitForStarted(5000)) {
        *error = tr("chronyc no está instalado");
        return false;
    }
    if (!chronyc.waitForFinished(10000)) {
        chronyc.kill();
        chronyc.waitForFinished(1000);
        *error = tr("chronyc no respondió");
        return false;
    }
    *output = QString::fromLocal8Bit(chronyc.readAllStandardOutput());
    const QString said = QString::fromLocal8Bit(chronyc.readAllStandardError()).trimmed();
    if (chronyc.exitStatus() != QProcess::NormalExit || chronyc.exitCode() != 0
        || output->trimmed().isEmpty()) {
        *error =
            said.isEmpty() ? tr("chronyc terminó con el código %1").arg(chronyc.exitCode()) : said;
        return false;
    }
    return true;
}

} // namespace

namespace {

// Whether `sources` (sources -c) lists a server or peer that chronyd has reached.
bool reachesOtherSources(const QString &sources)
{
    for (const QString &line : sources.split(u'\n')) {
        const QStringList source = line.trimmed().split(u',');
        if (source.size() > 5 && (source.at(0) == u"^" || source.at(0) == u"=")
            && source.at(5) != u"0")
            return true;
    }
    return false;
}

} // namespace

ChronyStatus ChronyStatus::fromOutputs(const QString &tracking, const QString &sources)
{
    ChronyStatus status = followed(tracking, sources);
    status.otherSources = status.kind != NoChrony && reachesOtherSources(sources);
    return status;
}

ChronyStatus ChronyStatus::followed(const QString &tracking, const QString &sources)
{
    const QStringList fields = tracking.trimmed().split(u',');
    if (fields.size() <= TrackingLeap)
        return {NoChrony, tr("respuesta de chronyc no reconocida")};
    const QString id = fields.at(TrackingId).toUpper();
    const QString &leap = fields.at(TrackingLeap);
    if (id.isEmpty() || id.count(u'0') == id.size() || leap == u"Not synchronised")
        return {NotSynchronised, tr("sin fuente")};
    if (id == LocalId)
        return {NotSynchronised, tr("solo su propio reloj, \"local\"")};
    // The selected source: "*" in the state column; "#" in the mode column is a reference
    // clock of this computer.
    for (const QString &line : sources.split(u'\n')) {
        const QStringList source = line.trimmed().split(u',');
        if (source.size() < 3 || source.at(1) != u"*")
            continue;
        if (source.at(0) == u"#")
            return {FollowsDevice, source.at(2)};
        return {Synchronised, source.at(2)};
    }
    return {NotSynchronised, tr("ninguna fuente seleccionada (%1)").arg(fields.at(TrackingName))};
}

ChronyStatus ChronyStatus::ask(const QString &commandSocket)
{
    QString tracking;
    QString sources;
    QString error;
    if (!runChronyc(commandSocket, QStringLiteral("tracking"), &tracking, &error)
        || !runChronyc(commandSocket, QStringLiteral("sources"), &sources, &error))
        return {NoChrony, error};
    return fromOutputs(tracking, sources);
}

QString ChronyStatus::refusal() const
{
    switch (kind) {
    case Synchronised:
        return {};
    case NoChrony:
        return tr("No se calibra: no hay chrony (%1). La calibración compara el dispositivo con "
                  "el reloj del ordenador, que chrony debe tener sincronizado con otra fuente.")
            .arg(reference);
    case NotSynchronised:
        return tr("No se calibra: chrony no está sincronizado (%1). Espere a que siga a un "
                  "servidor (chronyc tracking) y vuelva a probar.")
            .arg(reference);
    case FollowsDevice:
        return tr("No se calibra: chrony sigue al propio dispositivo (reloj de referencia %1). "
                  "Calibrar contra él mismo no mide nada: dé a chrony otra fuente, como un "
                  "servidor NTP, y seleccione esa.")
            .arg(reference);
    }
    return {};
}

QStringList ChronyStatus::chronycArguments(const QString &commandSocket, const QString &command)
{
    QStringList arguments{QStringLiteral("-c"), QStringLiteral("-n")};
    if (!commandSocket.isEmpty())
        arguments << QStringLiteral("-h") << commandSocket;
    return arguments << command;
}

ChronyDeviceSource ChronyDeviceSource::fromSources(const QString &sources)
{
    // Mode, state, name, stratum, poll, reach, last sample's age, its adjusted offset, its
    // measured offset, the error bound.
    constexpr int Adjusted = 7;
    constexpr int Error = 9;
    ChronyDeviceSource device;
    for (const QString &line : sources.split(u'\n')) {
        const QStringList fields = line.trimmed().split(u',');
        if (fields.size() <= Error || fields.at(0) != u"#")
            continue;
        device.found = true;
        device.selected = fields.at(1) == u"*";
        device.name = fields.at(2);
        const auto nanoseconds = [](const QString &seconds) {
            return std::chrono::nanoseconds(std::llround(seconds.toDouble() * 1e9));
        };
        device.offset = nanoseconds(fields.at(Adjusted));
        device.error = nanoseconds(fields.at(Error));
        break;
    }
    return device;
}
