#include "portselection.h"
#include "scriptedserialport.h"
#include "usermessages.h"

#include <QTest>

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
        << false << int(SerialReadFailed) << 0 << 0 << 0 << fromOpen + QStringList{message} << true;
    QTest::newRow("close fails") << true << 0 << int(SerialCloseFailed) << 0 << 0
                                 << fromOpen + QStringList{message} << true;
    QTest::newRow("setting the number fails") << false << 0 << 0 << int(SerialPortIsOpen) << 0
                                              << fromClosed + QStringList{message} << true;
    QTest::newRow("open fails: polling still starts")
        << true << 0 << 0 << 0 << int(SerialNoDevice) << fromOpen + QStringList{message} << false;
    QTest::newRow("every step fails: one message")
        << true << int(SerialReadFailed) << int(SerialCloseFailed) << int(SerialPortIsOpen)
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

QTEST_GUILESS_MAIN(TestPortSelection)
#include "tst_portselection.moc"
