#include "serial/deviceserialport.h"
#include "serial/portdevice.h"
#ifdef Q_OS_WIN
#include "tests/support/comportdevice.h"
#endif

#include <QTest>

// Which device stands behind a port number of the list, and what opening a port without a
// device does. No device is ever played here: this runs on every system.
class TestPortDevice : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void deviceOfPortNumber_data();
    void deviceOfPortNumber();
    void portsWithoutDeviceFailToOpen_data();
    void portsWithoutDeviceFailToOpen();
    void naturalOrder_data();
    void naturalOrder();
};

void TestPortDevice::cleanup()
{
    for (int number = 0; number <= 5; ++number)
        qunsetenv(QStringLiteral("QUORVEL_COM%1").arg(number).toLatin1());
}

void TestPortDevice::deviceOfPortNumber_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<QByteArray>("variable"); // QUORVEL_COM<number>, unset when empty
    QTest::addColumn<QString>("device");

    QTest::newRow("port 0") << 0 << QByteArray("/dev/ttyQUORVEL0") << QString();
    QTest::newRow("port 5") << 5 << QByteArray("/dev/ttyQUORVEL5") << QString();
    QTest::newRow("negative port") << -1 << QByteArray() << QString();
#ifdef Q_OS_WIN
    // Port n is COMn; the variables that name devices elsewhere change nothing.
    QTest::newRow("Com1") << 1 << QByteArray() << QStringLiteral("COM1");
    QTest::newRow("Com2") << 2 << QByteArray() << QStringLiteral("COM2");
    QTest::newRow("Com3") << 3 << QByteArray() << QStringLiteral("COM3");
    QTest::newRow("Com4") << 4 << QByteArray() << QStringLiteral("COM4");
    QTest::newRow("Com1, variable set")
        << 1 << QByteArray("/dev/ttyUSB0") << QStringLiteral("COM1");
#else
    QTest::newRow("Com1 named by the environment")
        << 1 << QByteArray("/dev/pts/7") << QStringLiteral("/dev/pts/7");
    QTest::newRow("Com4 named by the environment")
        << 4 << QByteArray("/dev/ttyQUORVEL") << QStringLiteral("/dev/ttyQUORVEL");
#endif
}

void TestPortDevice::deviceOfPortNumber()
{
    QFETCH(int, number);
    QFETCH(QByteArray, variable);
    QFETCH(QString, device);

    if (!variable.isEmpty())
        qputenv(QStringLiteral("QUORVEL_COM%1").arg(number).toLatin1(), variable);
    QCOMPARE(portDevice(number), device);
}

void TestPortDevice::portsWithoutDeviceFailToOpen_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<QByteArray>("variable");
    QTest::addColumn<int>("error");

    QTest::newRow("port 0") << 0 << QByteArray() << int(SerialNoDevice);
    QTest::newRow("port 5") << 5 << QByteArray() << int(SerialNoDevice);
    QTest::newRow("negative port") << -1 << QByteArray() << int(SerialNoDevice);
#ifdef Q_OS_WIN
    for (int number = 1; number <= 4; ++number) {
        QTest::addRow("COM%d without a device", number)
            << number << QByteArray() << int(SerialOpenFailed);
    }
#else
    QTest::newRow("configured device missing")
        << 2 << QByteArray("/dev/quorvel-no-such-device") << int(SerialOpenFailed);
#endif
}

void TestPortDevice::portsWithoutDeviceFailToOpen()
{
    QFETCH(int, number);
    QFETCH(QByteArray, variable);
    QFETCH(int, error);

    if (!variable.isEmpty())
        qputenv(QStringLiteral("QUORVEL_COM%1").arg(number).toLatin1(), variable);
#ifdef Q_OS_WIN
    const QString device = portDevice(number);
    if (!device.isEmpty() && comPortHasDevice(device))
        QSKIP(qPrintable(device + QLatin1String(" is a real port here; it is left alone")));
#endif

    DeviceSerialPort port;
    QCOMPARE(port.setCommPort(qint16(number)), int(SerialOk));
    QCOMPARE(port.setPortOpen(true), error);
    bool open = true;
    QCOMPARE(port.portOpen(&open), int(SerialOk));
    QVERIFY(!open);
    // A port that did not open reads nothing and cannot be closed.
    QList<ReceivedChunk> chunks;
    QVERIFY(port.input(&chunks) > SerialOk);
    QVERIFY(port.setPortOpen(false) > SerialOk);
}

void TestPortDevice::naturalOrder_data()
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

void TestPortDevice::naturalOrder()
{
    QFETCH(QStringList, names);
    QFETCH(QStringList, sorted);
    QCOMPARE(naturallySorted(names), sorted);
}

QTEST_GUILESS_MAIN(TestPortDevice)
#include "tst_portdevice.moc"
