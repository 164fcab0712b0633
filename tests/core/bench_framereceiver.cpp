// Prints what one poll costs after a short and after a long history of input: the cost of a
// tick must not grow with how much the device has sent before.
#include "core/framereceiver.h"
#include "tools/sim/scriptedserialport.h"

#include <QTest>

namespace {

const QString FrameLine = QStringLiteral("$12:00:00,06/15/2007,5,1\r\n");

// A receiver that has been fed `bytes` characters of frames on consecutive ticks, without
// a quiet tick: the worst case, a device that never pauses.
FrameReceiver receiverAfter(qsizetype bytes)
{
    FrameReceiver receiver(QStringLiteral("Ventana de recepción.\r\n"));
    ScriptedSerialPort port;
    const QString chunk = FrameLine.repeated(2);
    for (qsizetype fed = 0; fed < bytes; fed += chunk.size()) {
        port.chunks = QStringList{chunk};
        receiver.Tick(&port);
    }
    return receiver;
}

} // namespace

class BenchFrameReceiver : public QObject
{
    Q_OBJECT

private slots:
    void tick_data();
    void tick();
};

void BenchFrameReceiver::tick_data()
{
    QTest::addColumn<qsizetype>("history");
    QTest::addColumn<bool>("quiet");

    QTest::newRow("tick with input after 1 KB") << qsizetype(1024) << false;
    QTest::newRow("tick with input after 1 MB") << qsizetype(1024 * 1024) << false;
    QTest::newRow("quiet tick taking a frame after 1 KB") << qsizetype(1024) << true;
    QTest::newRow("quiet tick taking a frame after 1 MB") << qsizetype(1024 * 1024) << true;
}

void BenchFrameReceiver::tick()
{
    QFETCH(qsizetype, history);
    QFETCH(bool, quiet);

    const FrameReceiver start = receiverAfter(history);
    ScriptedSerialPort port;
    const QString input = quiet ? QString() : FrameLine.left(24);
    QBENCHMARK
    {
        FrameReceiver receiver = start;
        port.chunks = QStringList{input};
        receiver.Tick(&port);
        if (quiet && !receiver.TookFrame())
            QFAIL("the quiet tick took no frame");
    }
}

QTEST_GUILESS_MAIN(BenchFrameReceiver)
#include "bench_framereceiver.moc"
