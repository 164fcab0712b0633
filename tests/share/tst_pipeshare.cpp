// The shared device on Windows, where its socket is a named pipe: the pipe's name for a port,
// and the window's refusal of a pipe that the service does not serve. The service's own pipe
// is read by the window in the chain test under wine's service manager (tests/timeprovider).
#include "serial/deviceserialport.h"
#include "share/deviceshare.h"
#include "share/serviceclientport.h"
#include "share/shareprotocol.h"

#include <QLocalSocket>
#include <QScopeGuard>
#include <QTest>
#include <QThread>

class TestPipeShare : public QObject
{
    Q_OBJECT

private slots:
    void pipeNames_data();
    void pipeNames();
    void pipeOfAnotherProgramIsNotRead();
};

void TestPipeShare::pipeNames_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("pipe");

    QTest::newRow("COM1") << "COM1"
                          << "quorvel-refclock-COM1";
    QTest::newRow("the device's full name, lower case") << "\\\\.\\com12"
                                                        << "quorvel-refclock-COM12";
    QTest::newRow("nothing") << ""
                             << "";
    QTest::newRow("a path") << "C:\\ports\\COM1"
                            << "";
    QTest::newRow("a Unix path") << "/dev/ttyS0"
                                 << "";
}

void TestPipeShare::pipeNames()
{
    QFETCH(QString, device);
    QFETCH(QString, pipe);
    QCOMPARE(shareSocketPath(device), pipe);
}

void TestPipeShare::pipeOfAnotherProgramIsNotRead()
{
    // This test program, not the service quorvel-refclock, offers COM3 at the pipe's name, on
    // a thread of its own that answers as the service would.
    QThread serving;
    auto *share = new DeviceShare([](const QString &line) { qInfo().noquote() << line; });
    share->moveToThread(&serving);
    connect(&serving, &QThread::finished, share, &QObject::deleteLater);
    serving.start();
    QMetaObject::invokeMethod(
        share, [share] { share->offer(QStringLiteral("COM3")); }, Qt::BlockingQueuedConnection);
    const auto stop = qScopeGuard([&serving] {
        serving.quit();
        serving.wait();
    });
    QVERIFY(share->offered());
    QCOMPARE(share->socketPath(), QStringLiteral("quorvel-refclock-COM3"));

    // Anyone may connect to it and read the greeting, as anyone may open COM3...
    QLocalSocket plain;
    plain.connectToServer(share->socketPath());
    QVERIFY(plain.waitForConnected(2000));
    QVERIFY(plain.waitForReadyRead(2000));
    plain.abort();

    // ...but the window's port reads it only from the service: it opens the device instead,
    // which this wine prefix maps to nothing.
    ServiceClientPort service;
    service.setCommPort(3);
    QCOMPARE(service.setPortOpen(true), int(SerialOpenFailed));
    DeviceSerialPort device;
    ServiceOrDevicePort port(&device);
    port.setCommPort(3);
    QVERIFY(port.setPortOpen(true) != SerialOk);
    QVERIFY(!port.throughService());
    QCOMPARE(port.lastFailure().device, QStringLiteral("COM3"));
}

QTEST_GUILESS_MAIN(TestPipeShare)
#include "tst_pipeshare.moc"
