#include "core/serialport.h"
#include "serial/deviceserialport.h"
#include "tests/support/recordingmessages.h"
#include "tools/sim/scriptedserialport.h"
#include "ui/portselection.h"
#include "ui/usermessages.h"

#include <QCoreApplication>
#include <QSerialPort>
#include <QTest>

#ifdef Q_OS_UNIX
#include "tests/support/pseudoterminal.h"
#include "tests/support/withoutcapabilities.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace std::chrono_literals;

namespace {

const QString Unavailable = QStringLiteral("Puerto no disponible");

// Puts messages into the port's call log, so that their place among the port calls shows.
class LoggedMessages : public UserMessages
{
public:
    explicit LoggedMessages(QStringList *log) : m_log(log) {}
    void show(const QString &text) override { m_log->append(QStringLiteral("message ") + text); }

private:
    QStringList *m_log;
};

} // namespace

class TestPortSelection : public QObject
{
    Q_OBJECT

private slots:
    void steps_data();
    void steps();
    void portNumber_data();
    void portNumber();
    void failureSaysWhy_data();
    void failureSaysWhy();
};

void TestPortSelection::steps_data()
{
    QTest::addColumn<bool>("wasOpen");
    QTest::addColumn<int>("failPortOpen");
    QTest::addColumn<int>("failClose");
    QTest::addColumn<int>("failSetCommPort");
    QTest::addColumn<int>("failOpen");
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<bool>("openAfter");

    const QString message = QStringLiteral("message ") + Unavailable;
    const QStringList fromClosed{"portOpen", "setCommPort 2", "open", "interval 100"};
    const QStringList fromOpen{"portOpen", "close", "setCommPort 2", "open", "interval 100"};

    QTest::newRow("closed, all succeed") << false << 0 << 0 << 0 << 0 << fromClosed << true;
    QTest::newRow("open, closed first") << true << 0 << 0 << 0 << 0 << fromOpen << true;
    QTest::newRow("asking fails: closes all the same")
        << false << int(SerialNotOpen) << 0 << 0 << 0 << fromOpen + QStringList{message} << true;
    QTest::newRow("close fails") << true << 0 << int(SerialCloseFailed) << 0 << 0
                                 << fromOpen + QStringList{message} << true;
    QTest::newRow("setting the number fails") << false << 0 << 0 << int(SerialPortIsOpen) << 0
                                              << fromClosed + QStringList{message} << true;
    QTest::newRow("open fails: polling still starts")
        << true << 0 << 0 << 0 << int(SerialNoDevice) << fromOpen + QStringList{message} << false;
    QTest::newRow("every step fails: one message")
        << true << int(SerialNotOpen) << int(SerialCloseFailed) << int(SerialPortIsOpen)
        << int(SerialOpenFailed) << fromOpen + QStringList{message} << false;
}

void TestPortSelection::steps()
{
    QFETCH(bool, wasOpen);
    QFETCH(int, failPortOpen);
    QFETCH(int, failClose);
    QFETCH(int, failSetCommPort);
    QFETCH(int, failOpen);
    QFETCH(QStringList, calls);
    QFETCH(bool, openAfter);

    ScriptedSerialPort port;
    port.open = wasOpen;
    port.failPortOpen = failPortOpen;
    port.failClose = failClose;
    port.failSetCommPort = failSetCommPort;
    port.failOpen = failOpen;
    LoggedMessages messages(&port.calls);
    const PollIntervalSetter setInterval = [&port](std::chrono::milliseconds interval) {
        port.calls.append(QStringLiteral("interval %1").arg(interval.count()));
    };

    selectPort(QStringLiteral("Com2"), &port, setInterval, &messages);

    QCOMPARE(port.calls, calls);
    QCOMPARE(port.open, openAfter);
}

void TestPortSelection::portNumber_data()
{
    QTest::addColumn<QString>("listText");
    QTest::addColumn<int>("number");

    QTest::newRow("Com1") << "Com1" << 1;
    QTest::newRow("Com4") << "Com4" << 4;
    QTest::newRow("typed upper case") << "COM3" << 3;
    QTest::newRow("only the fourth character counts") << "Com12" << 1;
    QTest::newRow("digit zero") << "Com0" << 0;
    QTest::newRow("letter") << "ComX" << 0;
    QTest::newRow("blank") << "Com 2" << 0;
    QTest::newRow("non-ASCII digit") << QStringLiteral("Com\u0663") << 0;
    QTest::newRow("three characters") << "Com" << 0;
    QTest::newRow("empty") << "" << 0;
}

void TestPortSelection::portNumber()
{
    QFETCH(QString, listText);
    QFETCH(int, number);

    ScriptedSerialPort port;
    port.open = false;
    LoggedMessages messages(&port.calls);
    selectPort(
        listText, &port, [](std::chrono::milliseconds) {}, &messages);

    QCOMPARE(port.calls.value(1), QStringLiteral("setCommPort %1").arg(number));
    QCOMPARE(portNumberOf(listText), qint16(number));
}

enum class Obstacle {
    NoDeviceForTheNumber,
    MissingPath,
    NoPermission,
    ExclusiveMode,
    LockFile,
};

void TestPortSelection::failureSaysWhy_data()
{
    QTest::addColumn<Obstacle>("obstacle");
    QTest::addColumn<QString>("listText");
    QTest::addColumn<QString>("why"); // %1: the device, %2: its group, %3: this process

    QTest::newRow("no device for the number")
        << Obstacle::NoDeviceForTheNumber << "Com9"
        << "Com9 no corresponde a ningún puerto serie de este equipo. Para usar un dispositivo "
           "como Com9, indíquelo en la variable de entorno QUORVEL_COM9 (por ejemplo, "
           "QUORVEL_COM9=/dev/ttyUSB0).";
    QTest::newRow("a path with nothing there")
        << Obstacle::MissingPath << "Com2"
        << "Com2 es %1, y no hay ningún dispositivo en %1. Compruebe que esté conectado.";
    QTest::newRow("mode 0600, owned by another user")
        << Obstacle::NoPermission << "Com2"
        << "No tiene permiso para abrir %1 (Com2), que pertenece al grupo %2: añada su usuario "
           "al grupo %2 y vuelva a iniciar la sesión.";
    QTest::newRow("held in exclusive mode")
        << Obstacle::ExclusiveMode << "Com2"
        << "Otro programa tiene abierto %1 (Com2). Ciérrelo y vuelva a elegir el puerto.";
    QTest::newRow("held by a program that left its lock file")
        << Obstacle::LockFile << "Com2"
        << "Otro programa tiene abierto %1 (Com2): %3. Ciérrelo y vuelva a elegir el puerto.";
}

void TestPortSelection::failureSaysWhy()
{
    QFETCH(Obstacle, obstacle);
    QFETCH(QString, listText);
    QFETCH(QString, why);
#ifndef Q_OS_UNIX
    Q_UNUSED(obstacle)
    Q_UNUSED(listText)
    Q_UNUSED(why)
    QSKIP("plays the device on a POSIX pseudo-terminal, which this system lacks");
#else

    // The real serial component on a pseudo-terminal that "Com2" names.
    PseudoTerminal line;
    QVERIFY(line.isValid());
    QString device = line.path();
    if (obstacle == Obstacle::MissingPath)
        device = QStringLiteral("/nonexistent/quorvel-device");
    qputenv("QUORVEL_COM2", device.toLocal8Bit());
    const QByteArray path = device.toLocal8Bit();

    QString group;
    if (obstacle == Obstacle::NoPermission) {
        constexpr uid_t Nobody = 65534;
        QCOMPARE(::chown(path.constData(), Nobody, Nobody), 0);
        QCOMPARE(::chmod(path.constData(), 0600), 0);
        group = QString::fromLocal8Bit(getgrgid(Nobody)->gr_name);
    }
    int exclusive = -1;
    if (obstacle == Obstacle::ExclusiveMode) {
        exclusive = ::open(path.constData(), O_RDWR | O_NOCTTY);
        QVERIFY(exclusive >= 0);
        QCOMPARE(::ioctl(exclusive, TIOCEXCL), 0);
    }
    QSerialPort holder(device);
    if (obstacle == Obstacle::LockFile)
        QVERIFY(holder.open(QIODevice::ReadOnly));

    // Root opens any file, and terminals in exclusive mode: here it may not.
    WithoutCapabilities asAUser{CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_SYS_ADMIN};
    if (!asAUser.isActive())
        QSKIP("cannot act without the capabilities that open any device");

    DeviceSerialPort port;
    RecordingMessages messages;
    selectPort(
        listText, &port, [](std::chrono::milliseconds) {}, &messages);
    if (exclusive >= 0) {
        ::ioctl(exclusive, TIOCNXCL);
        ::close(exclusive);
    }
    qunsetenv("QUORVEL_COM2");

    const QString thisProcess = QStringLiteral("%1 (proceso %2)")
                                    .arg(QCoreApplication::applicationName())
                                    .arg(QCoreApplication::applicationPid());
    QCOMPARE(messages.shown.size(), 1);
    QCOMPARE(messages.shown.first(), QStringLiteral("Puerto no disponible\r\n")
                                         + QString(why)
                                               .replace(QLatin1String("%1"), device)
                                               .replace(QLatin1String("%2"), group)
                                               .replace(QLatin1String("%3"), thisProcess));
#endif
}

QTEST_GUILESS_MAIN(TestPortSelection)
#include "tst_portselection.moc"
