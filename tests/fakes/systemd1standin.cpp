// A minimal stand-in for systemd's manager (org.freedesktop.systemd1), for tests that run the
// real systemd-timedated on a private bus. timedated asks it, before setting the clock, for
// the state of its NTP units (org.freedesktop.DBus.Properties.GetAll on each unit's object);
// every unit answers as loaded, with the active state given here. It connects only to the bus
// named by --address.
//
//   systemd1-standin --address ADDRESS [--active-state STATE] [--delay-ms N] [--log FILE]
//
// --active-state  the ActiveState of every unit (default "inactive"; "active" makes timedated
//                 refuse to set the clock while automatic synchronisation runs)
// --delay-ms      answer the units' properties this long after the call arrived (a busy
//                 manager: timedated waits for it while it handles SetTime)
// --log           append every call received to FILE, one line each:
//                   <interface>.<member> <object path>
//
// Once the name is owned it prints "ready". Calls it does not know are answered with
// org.freedesktop.DBus.Error.UnknownMethod (and logged), so that a test sees them.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QFile>
#include <QTimer>
#include <QVariantMap>

#include <cstdio>

namespace {

const QString Root = QStringLiteral("/org/freedesktop/systemd1");
const QString UnitPathPrefix = QStringLiteral("/org/freedesktop/systemd1/unit/");
const QString PropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString UnitInterface = QStringLiteral("org.freedesktop.systemd1.Unit");

} // namespace

class Systemd1StandIn : public QDBusVirtualObject
{
public:
    Systemd1StandIn(const QString &activeState, int delayMs, const QString &logPath)
        : m_activeState(activeState), m_delayMs(delayMs), m_logPath(logPath)
    {
    }

    QString introspect(const QString &) const override { return QString(); }

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        log(message.interface() + QLatin1Char('.') + message.member() + QLatin1Char(' ')
            + message.path());
        const bool onUnit = message.path().startsWith(UnitPathPrefix);
        if (onUnit && message.interface() == PropertiesInterface
            && message.member() == QLatin1String("GetAll")) {
            // timedated asks for all interfaces at once (""); the unit's are all there are.
            const QString asked = message.arguments().value(0).toString();
            QVariantMap properties;
            if (asked.isEmpty() || asked == UnitInterface)
                properties = unitProperties(message.path());
            const QDBusMessage reply = message.createReply(QVariant::fromValue(properties));
            if (m_delayMs <= 0)
                return connection.send(reply);
            QTimer::singleShot(m_delayMs, this,
                               [connection, reply] { QDBusConnection(connection).send(reply); });
            return true;
        }
        if (onUnit && message.interface() == PropertiesInterface
            && message.member() == QLatin1String("Get")) {
            const QVariant value =
                unitProperties(message.path()).value(message.arguments().value(1).toString());
            if (value.isValid())
                return connection.send(
                    message.createReply(QVariant::fromValue(QDBusVariant(value))));
        }
        return connection.send(
            message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"),
                                     QStringLiteral("The stand-in does not answer %1.%2")
                                         .arg(message.interface(), message.member())));
    }

private:
    QVariantMap unitProperties(const QString &path) const
    {
        return {{QStringLiteral("Id"), path.mid(UnitPathPrefix.size())},
                {QStringLiteral("LoadState"), QStringLiteral("loaded")},
                {QStringLiteral("ActiveState"), m_activeState},
                {QStringLiteral("SubState"), m_activeState == QLatin1String("active")
                                                 ? QStringLiteral("running")
                                                 : QStringLiteral("dead")},
                {QStringLiteral("UnitFileState"), QStringLiteral("enabled")}};
    }

    void log(const QString &line) const
    {
        if (m_logPath.isEmpty())
            return;
        QFile file(m_logPath);
        if (file.open(QIODevice::WriteOnly | QIODevice::Append))
            file.write(line.toUtf8() + '\n');
    }

    QString m_activeState;
    int m_delayMs;
    QString m_logPath;
};

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption address(QStringLiteral("address"), QStringLiteral("Bus address."),
                                     QStringLiteral("address"));
    const QCommandLineOption activeState(QStringLiteral("active-state"),
                                         QStringLiteral("ActiveState of every unit."),
                                         QStringLiteral("state"), QStringLiteral("inactive"));
    const QCommandLineOption delay(QStringLiteral("delay-ms"),
                                   QStringLiteral("Delay of the units' properties."),
                                   QStringLiteral("ms"), QStringLiteral("0"));
    const QCommandLineOption log(QStringLiteral("log"), QStringLiteral("Call log file."),
                                 QStringLiteral("file"));
    parser.addOptions({address, activeState, delay, log});
    parser.process(app);

    if (!parser.isSet(address)) {
        std::fputs("systemd1-standin: --address is required\n", stderr);
        return 2;
    }
    QDBusConnection bus =
        QDBusConnection::connectToBus(parser.value(address), QStringLiteral("systemd1-standin"));
    if (!bus.isConnected()) {
        std::fprintf(stderr, "systemd1-standin: %s\n", qPrintable(bus.lastError().message()));
        return 1;
    }

    Systemd1StandIn manager(parser.value(activeState), parser.value(delay).toInt(),
                            parser.value(log));
    if (!bus.registerVirtualObject(Root, &manager, QDBusConnection::SubPath)
        || !bus.registerService(QStringLiteral("org.freedesktop.systemd1"))) {
        std::fprintf(stderr, "systemd1-standin: %s\n", qPrintable(bus.lastError().message()));
        return 1;
    }
    std::fputs("ready\n", stdout);
    std::fflush(stdout);
    return app.exec();
}
