// A stand-in for systemd-timedated, for tests: it owns org.freedesktop.timedate1 on the bus
// it is given and answers SetTime(x usec_utc, b relative, b interactive) as told, without
// ever touching the clock. It connects only to the bus named by --address, never to the
// system bus, so it cannot take the place of the real service.
//
//   fake-timedated --address ADDRESS [--error NAME [--message TEXT]] [--delay-ms N] [--log FILE]
//
// --error     answer every SetTime with this D-Bus error (default: success)
// --message   the error's text
// --delay-ms  answer this long after the call arrived (a user at a password prompt)
// --log       also append every call to FILE
//
// Once the name is owned it prints "ready". Every call is printed (and logged) as one line:
//   SetTime <usec_utc> <relative 0|1> <interactive 0|1> <received, realtime usec since 1970>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QFile>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <cstdio>

namespace {

struct Answer
{
    QString error;
    QString message;
    int delayMs = 0;
    QString logPath;
};

void record(const QByteArray &line, const QString &logPath)
{
    std::fputs(line.constData(), stdout);
    std::fflush(stdout);
    if (logPath.isEmpty())
        return;
    QFile log(logPath);
    if (log.open(QIODevice::WriteOnly | QIODevice::Append))
        log.write(line);
}

} // namespace

class FakeTimedate : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.timedate1")

public:
    FakeTimedate(const QDBusConnection &bus, const Answer &answer) : m_bus(bus), m_answer(answer) {}

public slots:
    void SetTime(qlonglong usecUtc, bool relative, bool interactive, const QDBusMessage &call)
    {
        const auto received = std::chrono::duration_cast<std::chrono::microseconds>(
            std::chrono::system_clock::now().time_since_epoch());
        record(QStringLiteral("SetTime %1 %2 %3 %4\n")
                   .arg(usecUtc)
                   .arg(int(relative))
                   .arg(int(interactive))
                   .arg(qlonglong(received.count()))
                   .toUtf8(),
               m_answer.logPath);

        call.setDelayedReply(true);
        const QDBusMessage reply = m_answer.error.isEmpty()
                                       ? call.createReply()
                                       : call.createErrorReply(m_answer.error, m_answer.message);
        QTimer::singleShot(m_answer.delayMs, this, [this, reply] { m_bus.send(reply); });
    }

private:
    QDBusConnection m_bus;
    Answer m_answer;
};

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption address(QStringLiteral("address"), QStringLiteral("Bus address."),
                                     QStringLiteral("address"));
    const QCommandLineOption error(QStringLiteral("error"), QStringLiteral("D-Bus error name."),
                                   QStringLiteral("name"));
    const QCommandLineOption message(QStringLiteral("message"), QStringLiteral("Error text."),
                                     QStringLiteral("text"));
    const QCommandLineOption delay(QStringLiteral("delay-ms"), QStringLiteral("Answer delay."),
                                   QStringLiteral("ms"), QStringLiteral("0"));
    const QCommandLineOption log(QStringLiteral("log"), QStringLiteral("Call log file."),
                                 QStringLiteral("file"));
    parser.addOptions({address, error, message, delay, log});
    parser.process(app);

    if (!parser.isSet(address)) {
        std::fputs("fake-timedated: --address is required\n", stderr);
        return 2;
    }
    const QDBusConnection bus =
        QDBusConnection::connectToBus(parser.value(address), QStringLiteral("fake-timedated"));
    if (!bus.isConnected()) {
        std::fprintf(stderr, "fake-timedated: %s\n", qPrintable(bus.lastError().message()));
        return 1;
    }

    const Answer answer{parser.value(error), parser.value(message), parser.value(delay).toInt(),
                        parser.value(log)};
    FakeTimedate service(bus, answer);
    QDBusConnection registrar = bus;
    if (!registrar.registerObject(QStringLiteral("/org/freedesktop/timedate1"), &service,
                                  QDBusConnection::ExportAllSlots)
        || !registrar.registerService(QStringLiteral("org.freedesktop.timedate1"))) {
        std::fprintf(stderr, "fake-timedated: %s\n", qPrintable(registrar.lastError().message()));
        return 1;
    }
    std::fputs("ready\n", stdout);
    std::fflush(stdout);
    return app.exec();
}

#include "faketimedated.moc"
