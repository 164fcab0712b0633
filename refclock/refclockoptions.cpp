#include "refclock/refclockoptions.h"

#include "core/portnumber.h"
#include "refclock/unixdatagramsocket.h"

#include <QCommandLineParser>
#include <QCoreApplication>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("RefclockOptions", text);
}

// Reads --port: "1" to "4" (or "Com1" to "Com4"), or a device path.
QString readPort(const QString &value, RefclockOptions &options)
{
    // A bare number stands for its port's name.
    const qint16 number = listedPortNumber(value.size() == 1 ? PortNamePrefix + value : value);
    if (number != 0) {
        options.portNumber = number;
        return {};
    }
    if (value.startsWith(u'/')) {
        options.devicePath = value;
        return {};
    }
    return tr("--port necesita un número de puerto del 1 al 4 o la ruta de un dispositivo, "
              "no \"%1\"")
        .arg(value);
}

} // namespace

QString RefclockOptions::portLabel() const
{
    return devicePath.isEmpty() ? tr("puerto %1").arg(portNumber) : devicePath;
}

ParsedRefclockOptions parseRefclockOptions(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        tr("Lleva la hora del reloj GPS a chrony: por cada trama completa envía una muestra al\n"
           "socket de \"refclock SOCK\" de chrony (la hora del ordenador a la llegada del \"$\"\n"
           "y el adelanto del dispositivo respecto a ella). No pone en hora el ordenador.\n"
           "Termina con SIGTERM, SIGINT o SIGHUP."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption port(
        QStringLiteral("port"),
        tr("Puerto del dispositivo: 1 a 4 (\"ComN\", como en la ventana) o la ruta de un "
           "dispositivo, como /dev/ttyUSB0."),
        QStringLiteral("port"));
    const QCommandLineOption socket(
        QStringLiteral("socket"),
        tr("Socket de chrony (la ruta de su línea \"refclock SOCK\"); por omisión %1.")
            .arg(RefclockOptions::DefaultSocket),
        QStringLiteral("path"));
    const QCommandLineOption zone(
        QStringLiteral("zone"),
        tr("Zona horaria del dispositivo, como Europe/Madrid; por omisión la del ordenador."),
        QStringLiteral("zone"));
    const QCommandLineOption verbose(QStringLiteral("verbose"),
                                     tr("Anota también cada trama y cada muestra."));
    const QCommandLineOption dateAtPoll(
        QStringLiteral("date-at-poll"),
        tr("Ayuda para medir (bench_refclock): fecha cada muestra en el sondeo que toma la "
           "trama, y no a la llegada de su \"$\". Peor; no usar."));
    parser.addOptions({port, socket, zone, verbose, dateAtPoll});

    ParsedRefclockOptions result;
    RefclockOptions &options = result.options;
    if (!parser.parse(arguments)) {
        result.error = parser.errorText();
        return result;
    }
    if (parser.isSet(help)) {
        result.help = true;
        result.helpText = parser.helpText();
        return result;
    }
    if (!parser.positionalArguments().isEmpty()) {
        result.error =
            tr("Argumento inesperado \"%1\"").arg(parser.positionalArguments().constFirst());
        return result;
    }
    if (!parser.isSet(port)) {
        result.error = tr("Falta --port");
        return result;
    }
    result.error = readPort(parser.value(port), options);
    if (!result.error.isEmpty())
        return result;
    if (parser.isSet(socket)) {
        options.socketPath = parser.value(socket);
        if (options.socketPath.isEmpty()
            || options.socketPath.toLocal8Bit().size() > MaxSocketPathBytes) {
            result.error = tr("--socket necesita una ruta de 1 a %1 bytes").arg(MaxSocketPathBytes);
            return result;
        }
    }
    if (parser.isSet(zone)) {
        options.zone = QTimeZone(parser.value(zone).toUtf8());
        if (!options.zone.isValid()) {
            result.error = tr("Zona horaria desconocida \"%1\"").arg(parser.value(zone));
            return result;
        }
    }
    options.verbose = parser.isSet(verbose);
    options.dateAtPoll = parser.isSet(dateAtPoll);
    return result;
}
