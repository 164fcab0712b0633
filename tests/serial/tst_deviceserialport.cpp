#include "deviceserialport.h"
#include "portdevice.h"
#include "processusage.h"
#include "pseudoterminal.h"

#include <QEventLoop>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <thread>

using namespace std::chrono_literals;

namespace {

// Reads until `expected` characters have come in or five seconds have passed.
QString readAtLeast(DeviceSerialPort &port, qsizetype expected, QList<MonotonicTime> *arrivals)
{
    QString all;
    QList<MonotonicTime> allArrivals;
    QDeadlineTimer deadline(5s);
    while (all.size() < expected && !deadline.hasExpired()) {
        QTest::qWait(10);
        QString text;
        QList<MonotonicTime> times;
        if (port.input(&text, &times) != SerialOk)
            break;
        all += text;
        allArrivals += times;
    }
    if (arrivals)
        *arrivals = allArrivals;
    return all;
}

} // namespace

class TestDeviceSerialPort : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void readsWhatTheDeviceSends_data();
    void readsWhatTheDeviceSends();
    void stampsEveryCharacterWithItsArrival();
    void wakesOncePerBurstNotPerCharacter();
    void portsWithoutDeviceFailToOpen_data();
    void portsWithoutDeviceFailToOpen();
    void operationsInTheWrongStateFail();
    void deviceGoingAwayClosesThePortWithoutSpinning();
    void keepsNewestBytesWhenNobodyReads();
    void portDeviceFollowsEnvironment();
    void devicePathTakesPrecedenceOverPortNumber();
    void naturalOrder_data();
    void naturalOrder();

private:
    PseudoTerminal *m_line = nullptr;
    std::unique_ptr<PseudoTerminal> m_ownedLine;
};

void TestDeviceSerialPort::init()
{
    m_ownedLine = std::make_unique<PseudoTerminal>();
    m_line = m_ownedLine.get();
    QVERIFY(m_line->isValid());
    qputenv("QUORVEL_COM1", m_line->path().toLocal8Bit());
}

void TestDeviceSerialPort::readsWhatTheDeviceSends_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");

    QTest::newRow("a frame") << QByteArray("$12:00:00,06/15/2007,5,1\r\n")
                             << QStringLiteral("$12:00:00,06/15/2007,5,1\r\n");
    QByteArray everyByte;
    QString everyCharacter;
    for (int b = 0; b < 256; ++b) {
        everyByte.append(char(b));
        everyCharacter.append(QChar(b)); // 0-127 as themselves, 128-255 as Latin-1
    }
    QTest::newRow("every byte value, one character each") << everyByte << everyCharacter;
}

void TestDeviceSerialPort::readsWhatTheDeviceSends()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);

    DeviceSerialPort port;
    QCOMPARE(port.setCommPort(1), int(SerialOk));
    QCOMPARE(port.setPortOpen(true), int(SerialOk));
    bool open = false;
    QCOMPARE(port.portOpen(&open), int(SerialOk));
    QVERIFY(open);
    QCOMPARE(port.deviceName(), m_line->path());

    QVERIFY(m_line->send(bytes));
    QCOMPARE(readAtLeast(port, text.size(), nullptr), text);

    // Each character once: a further read brings nothing.
    QString again;
    QList<MonotonicTime> arrivals;
    QCOMPARE(port.input(&again, &arrivals), int(SerialOk));
    QVERIFY(again.isEmpty());

    QCOMPARE(port.setPortOpen(false), int(SerialOk));
    QCOMPARE(port.portOpen(&open), int(SerialOk));
    QVERIFY(!open);
    QVERIFY(m_line->written().isEmpty()); // the program never writes to the device
}

void TestDeviceSerialPort::stampsEveryCharacterWithItsArrival()
{
    DeviceSerialPort port;
    port.setCommPort(1);
    QCOMPARE(port.setPortOpen(true), int(SerialOk));

    // Two bursts with a read between them, as the program polls: the first character of each
    // is dated when it arrived, and no character later than when it was read.
    QList<MonotonicTime> arrivals;
    for (const QByteArray &burst : {QByteArray("$first"), QByteArray("$second")}) {
        QTest::qWait(50);
        const MonotonicTime before = MonotonicClock::now();
        QVERIFY(m_line->send(burst));
        QList<MonotonicTime> times;
        QCOMPARE(readAtLeast(port, burst.size(), &times), QString::fromLatin1(burst));
        const MonotonicTime after = MonotonicClock::now();
        QCOMPARE(times.size(), burst.size());
        QVERIFY(times.first() >= before);
        QVERIFY(times.last() <= after);
        arrivals += times;
    }
    QVERIFY(std::is_sorted(arrivals.cbegin(), arrivals.cend()));
}

void TestDeviceSerialPort::wakesOncePerBurstNotPerCharacter()
{
    DeviceSerialPort port;
    port.setCommPort(1);
    QCOMPARE(port.setPortOpen(true), int(SerialOk));

    // A frame paced the way a 4800 baud line delivers it, while this thread sits in its event
    // loop. Every time the thread is woken it gives up the processor once more.
    const QByteArray frame("$12:00:00,06/15/2007,5,1\r\n");
    MonotonicTime sentFirst{};
    const qint64 switchesBefore = wakeUpsFrom(QStringLiteral("/proc/thread-self/status"));
    QVERIFY(switchesBefore >= 0);
    std::thread device([&] {
        sentFirst = MonotonicClock::now();
        for (const char c : frame) {
            m_line->send(QByteArray(1, c));
            std::this_thread::sleep_for(DeviceSerialPort::CharacterTime);
        }
    });
    QEventLoop loop;
    QTimer::singleShot(std::chrono::duration_cast<std::chrono::milliseconds>(
                           frame.size() * DeviceSerialPort::CharacterTime) +
                           40ms,
                       &loop, &QEventLoop::quit);
    loop.exec();
    device.join();
    const qint64 wakeUps = wakeUpsFrom(QStringLiteral("/proc/thread-self/status")) - switchesBefore;

    QString text;
    QList<MonotonicTime> arrivals;
    QCOMPARE(port.input(&text, &arrivals), int(SerialOk));
    QCOMPARE(text, QString::fromLatin1(frame));
    qInfo("%lld wake-ups for a frame of %lld characters", wakeUps, qint64(frame.size()));
    QVERIFY2(wakeUps < frame.size() / 3, "the port wakes the program for every character");
    // The "$" is dated by the wake-up it caused, not by the read.
    QVERIFY(arrivals.first() >= sentFirst);
    QVERIFY(arrivals.first() < sentFirst + 20ms);
}

void TestDeviceSerialPort::portsWithoutDeviceFailToOpen_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<QByteArray>("device");
    QTest::addColumn<int>("error");

    QTest::newRow("port 0") << 0 << QByteArray() << int(SerialNoDevice);
    QTest::newRow("port 5") << 5 << QByteArray() << int(SerialNoDevice);
    QTest::newRow("negative port") << -1 << QByteArray() << int(SerialNoDevice);
    QTest::newRow("configured device missing")
        << 2 << QByteArray("/dev/quorvel-no-such-device") << int(SerialOpenFailed);
}

void TestDeviceSerialPort::portsWithoutDeviceFailToOpen()
{
    QFETCH(int, number);
    QFETCH(QByteArray, device);
    QFETCH(int, error);

    if (!device.isEmpty())
        qputenv(QStringLiteral("QUORVEL_COM%1").arg(number).toLatin1(), device);
    DeviceSerialPort port;
    QCOMPARE(port.setCommPort(qint16(number)), int(SerialOk));
    QCOMPARE(port.setPortOpen(true), error);
    bool open = true;
    port.portOpen(&open);
    QVERIFY(!open);
    qunsetenv(QStringLiteral("QUORVEL_COM%1").arg(number).toLatin1());
}

void TestDeviceSerialPort::operationsInTheWrongStateFail()
{
    DeviceSerialPort port;
    QString text;
    QList<MonotonicTime> arrivals;
    QVERIFY(port.input(&text, &arrivals) > SerialOk);
    QVERIFY(port.setPortOpen(false) > SerialOk);
    port.setCommPort(1);
    QCOMPARE(port.setPortOpen(true), int(SerialOk));
    QVERIFY(port.setPortOpen(true) > SerialOk);
    QVERIFY(port.setCommPort(2) > SerialOk);
    // The same device cannot be opened twice.
    DeviceSerialPort other;
    other.setCommPort(1);
    QVERIFY(other.setPortOpen(true) > SerialOk);
}

void TestDeviceSerialPort::deviceGoingAwayClosesThePortWithoutSpinning()
{
    DeviceSerialPort port;
    QSignalSpy lost(&port, &DeviceSerialPort::deviceLost);
    port.setCommPort(1);
    QCOMPARE(port.setPortOpen(true), int(SerialOk));
    QVERIFY(m_line->send("$12:00"));
    QCOMPARE(readAtLeast(port, 6, nullptr), QStringLiteral("$12:00"));

    m_line->hangUp();
    m_line->closeDeviceSide();
    QTRY_COMPARE_WITH_TIMEOUT(lost.size(), 1, 5000);
    bool open = true;
    port.portOpen(&open);
    QVERIFY(!open);

    // With the port closed, a second of event processing costs next to no CPU.
    const auto cpuBefore = cpuTime();
    QTest::qWait(1000);
    QVERIFY2(cpuTime() - cpuBefore < 300ms, "the event loop spins after the device went away");
    QCOMPARE(lost.size(), 1);

    // The device comes back: opening the port again resumes reception, behind a line end
    // that keeps the frame cut short by the loss from joining what arrives now.
    PseudoTerminal back;
    qputenv("QUORVEL_COM1", back.path().toLocal8Bit());
    QCOMPARE(port.setPortOpen(true), int(SerialOk));
    QVERIFY(back.send("$again"));
    QCOMPARE(readAtLeast(port, 8, nullptr), QStringLiteral("\r\n$again"));
}

void TestDeviceSerialPort::keepsNewestBytesWhenNobodyReads()
{
    DeviceSerialPort port;
    port.setCommPort(1);
    QCOMPARE(port.setPortOpen(true), int(SerialOk));
    QByteArray sent;
    for (int i = 0; sent.size() < 3000; ++i)
        sent += QByteArray::number(i) + ' ';
    QVERIFY(m_line->send(sent));
    // Let the port collect everything without reading it.
    QTest::qWait(300);

    QString text;
    QList<MonotonicTime> arrivals;
    QCOMPARE(port.input(&text, &arrivals), int(SerialOk));
    QCOMPARE(text.size(), DeviceSerialPort::ReceiveBufferSize);
    QCOMPARE(arrivals.size(), text.size());
    // The gap is marked with a line end, so nothing before it joins what follows.
    QVERIFY(text.startsWith(QLatin1String("\r\n")));
    QVERIFY(sent.endsWith(text.mid(2).toLatin1()));
}

void TestDeviceSerialPort::portDeviceFollowsEnvironment()
{
    QCOMPARE(portDevice(1), m_line->path());
    qputenv("QUORVEL_COM4", "/dev/ttyQUORVEL");
    QCOMPARE(portDevice(4), QStringLiteral("/dev/ttyQUORVEL"));
    qunsetenv("QUORVEL_COM4");
    QVERIFY(portDevice(0).isEmpty());
    QVERIFY(portDevice(5).isEmpty());
}

void TestDeviceSerialPort::devicePathTakesPrecedenceOverPortNumber()
{
    // Port 1 names one line, the explicit path another: the path is what opens.
    PseudoTerminal other;
    QVERIFY(other.isValid());
    DeviceSerialPort port;
    port.setCommPort(1);
    port.setDevicePath(other.path());
    QCOMPARE(port.setPortOpen(true), int(SerialOk));
    QCOMPARE(port.deviceName(), other.path());
    QVERIFY(m_line->send("x"));
    QVERIFY(other.send("$1"));
    QCOMPARE(readAtLeast(port, 2, nullptr), QStringLiteral("$1"));
    QCOMPARE(port.setPortOpen(false), int(SerialOk));

    // A path that names no device fails to open, whatever port 1 has.
    port.setDevicePath(QStringLiteral("/dev/quorvel-no-such-device"));
    QVERIFY(port.setPortOpen(true) > SerialOk);

    // An empty path goes back to the port number.
    port.setDevicePath(QString());
    QCOMPARE(port.setPortOpen(true), int(SerialOk));
    QCOMPARE(port.deviceName(), m_line->path());
}

void TestDeviceSerialPort::naturalOrder_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("sorted");

    QTest::newRow("numbers compare as numbers")
        << QStringList{"/dev/ttyS10", "/dev/ttyS2", "/dev/ttyS1"}
        << QStringList{"/dev/ttyS1", "/dev/ttyS2", "/dev/ttyS10"};
    QTest::newRow("stems first") << QStringList{"/dev/ttyUSB0", "/dev/ttyACM1", "/dev/ttyS0",
                                                "/dev/ttyACM0"}
                                 << QStringList{"/dev/ttyACM0", "/dev/ttyACM1", "/dev/ttyS0",
                                                "/dev/ttyUSB0"};
    QTest::newRow("no number") << QStringList{"/dev/b1", "/dev/b", "/dev/a"}
                               << QStringList{"/dev/a", "/dev/b", "/dev/b1"};
}

void TestDeviceSerialPort::naturalOrder()
{
    QFETCH(QStringList, names);
    QFETCH(QStringList, sorted);
    QCOMPARE(naturallySorted(names), sorted);
}

QTEST_GUILESS_MAIN(TestDeviceSerialPort)
#include "tst_deviceserialport.moc"
