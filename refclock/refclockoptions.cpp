#include "refclock/refclockoptions.h"

#include "core/duration.h"
#include "core/serialport.h"
#include "refclock/chronysocket.h"

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
           "Termina con SIGTERM, SIGINT o SIGHUP.\n"
           "Con --calibrate [DURACIÓN] (10m por omisión) mide el retraso del dispositivo frente\n"
           "al reloj del ordenador, que chrony debe tener sincronizado con otra fuente. Sin\n"
           "--delay, el servicio lo mide por sí mismo en cuanto chrony sigue otra fuente.\n"
           "Con --status muestra cómo va el servicio en marcha."));
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
    const QCommandLineOption delay(
        QStringLiteral("delay"),
        tr("Retraso del dispositivo: cuánto después de empezar su segundo llega su \"$\", en "
           "segundos (0.1320) o con unidad (132ms). Si se da, manda sobre la calibración; sin él, "
           "el servicio usa el retraso que midió."),
        QStringLiteral("D"));
    const QCommandLineOption acceptStepAfter(
        QStringLiteral("accept-step-after"),
        tr("Tras un salto del reloj del dispositivo, cuánto debe mantener su nueva hora sin "
           "saltos para seguirla (15m, 900s); por omisión 15m."),
        QStringLiteral("D"));
    const QCommandLineOption calibrate(
        QStringLiteral("calibrate"),
        tr("Mide el retraso durante DURACIÓN (10m, 90s; por omisión 10m) y muestra la opción "
           "--delay que corresponde, sin enviar muestras a chrony."));
    const QCommandLineOption save(
        QStringLiteral("save"),
        tr("Con --calibrate: guarda el retraso en el estado del servicio, que lo usa al "
           "iniciarse; no toca sus ajustes."));
    const QCommandLineOption state(
        QStringLiteral("state"),
        tr("Archivo del retraso medido; por omisión calibration en $STATE_DIRECTORY o en "
           "/var/lib/quorvel-refclock."),
        QStringLiteral("path"));
    const QCommandLineOption chronyCheck(
        QStringLiteral("chrony-check"),
        tr("Cada cuánto pregunta el servicio a chrony cómo lleva la hora (1m, 10s); por "
           "omisión 1m."),
        QStringLiteral("D"));
    const QCommandLineOption status(QStringLiteral("status"),
                                    tr("Muestra cómo va el servicio en marcha y termina."));
    const QCommandLineOption chronySocket(
        QStringLiteral("chrony-socket"),
        tr("Socket o dirección de órdenes de chronyd que consultan --calibrate y el servicio "
           "(chronyc -h); por omisión los de chronyc."),
        QStringLiteral("path"));
    const QCommandLineOption sntpServer(
        QStringLiteral("sntp-server"),
        tr("Calibra frente a este servidor NTP (nombre o dirección, con :puerto si no es el 123), "
           "con consultas SNTP, en lugar de preguntar a chrony. En Windows, por omisión el "
           "servidor que tenía el servicio de hora de Windows (time.windows.com)."),
        QStringLiteral("host"));
    parser.addOptions({port, socket, zone, verbose, delay, acceptStepAfter, calibrate, save, state,
                       chronySocket, chronyCheck, status, sntpServer});
    parser.addPositionalArgument(QStringLiteral("DURACIÓN"), tr("Con --calibrate: cuánto medir."),
                                 QStringLiteral("[DURACIÓN]"));

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
    options.status = parser.isSet(status);
    if (options.status) {
        if (parser.optionNames().size() > 1 || !parser.positionalArguments().isEmpty())
            result.error = tr("--status no admite otras opciones");
        return result;
    }
    options.calibrate = parser.isSet(calibrate);
    QStringList positional = parser.positionalArguments();
    if (options.calibrate && !positional.isEmpty()) {
        const std::optional<std::chrono::microseconds> length =
            parseDurationOption(positional.takeFirst());
        if (!length || *length < std::chrono::seconds(10)) {
            result.error = tr("--calibrate necesita una duración de 10 s o más, como 10m o 90s");
            return result;
        }
        options.calibrationLength = *length;
    }
    if (!positional.isEmpty()) {
        result.error = tr("Argumento inesperado \"%1\"").arg(positional.constFirst());
        return result;
    }
    options.save = parser.isSet(save);
    if (options.save && !options.calibrate) {
        result.error = tr("--save solo vale con --calibrate");
        return result;
    }
    if (parser.isSet(delay)) {
        if (options.calibrate) {
            result.error = tr("--calibrate mide sin retraso: no admite --delay");
            return result;
        }
        const std::optional<std::chrono::microseconds> value =
            parseDurationOption(parser.value(delay));
        if (!value || *value <= -std::chrono::seconds(1) || *value >= std::chrono::seconds(1)) {
            result.error = tr("--delay necesita un retraso de menos de 1 s, como 0.1320 o 132ms, "
                              "no \"%1\"")
                               .arg(parser.value(delay));
            return result;
        }
        options.delay = *value;
        options.delayGiven = true;
    }
    if (parser.isSet(acceptStepAfter)) {
        const std::optional<std::chrono::microseconds> value =
            parseDurationOption(parser.value(acceptStepAfter));
        if (!value || *value < std::chrono::seconds(10)) {
            result.error = tr("--accept-step-after necesita una duración de 10 s a 24 h, como 15m "
                              "o 900s, no \"%1\"")
                               .arg(parser.value(acceptStepAfter));
            return result;
        }
        options.acceptStepAfter = *value;
    }
    if (parser.isSet(state)) {
        options.statePath = parser.value(state);
        if (options.statePath.isEmpty()) {
            result.error = tr("--state necesita una ruta");
            return result;
        }
    }
    if (parser.isSet(chronyCheck)) {
        const std::optional<std::chrono::microseconds> value =
            parseDurationOption(parser.value(chronyCheck));
        if (!value || *value < std::chrono::seconds(1)) {
            result.error = tr("--chrony-check necesita una duración de 1 s a 24 h, como 1m o 10s, "
                              "no \"%1\"")
                               .arg(parser.value(chronyCheck));
            return result;
        }
        options.chronyInterval = std::chrono::duration_cast<std::chrono::milliseconds>(*value);
    }
    options.chronyCommandSocket = parser.value(chronySocket);
    if (parser.isSet(sntpServer)) {
        options.sntpServer = parser.value(sntpServer).trimmed();
        if (options.sntpServer.isEmpty()) {
            result.error = tr("--sntp-server necesita un servidor, como time.windows.com");
            return result;
        }
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
    return result;
}

std::optional<std::chrono::microseconds> parseDurationOption(const QString &text)
{
    using namespace std::chrono;
    // The simulator's form, without its unit of days, and within a day either way.
    if (text.endsWith(u'd'))
        return std::nullopt;
    const std::optional<nanoseconds> duration = parseDuration(text);
    if (!duration || *duration > hours(24) || *duration < -hours(24))
        return std::nullopt;
    return round<microseconds>(*duration);
}

QString delayOptionValue(std::chrono::microseconds duration)
{
    return QString::number(std::chrono::duration<double>(duration).count(), 'f', 4);
}
