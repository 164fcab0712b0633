#include "core/line.h"
#include "frametime/clockpair.h"

#include <QTest>

using namespace std::chrono_literals;

namespace {

// The computer's clock read 2007-06-15 10:00:00 UTC (12:00:00 in Madrid, summer time) when the
// monotonic clock read 1000 h.
const MonotonicTime Then = MonotonicTime(1000h);
const ClockPair Clocks{Then, UtcTime(std::chrono::seconds(1181901600))};

} // namespace

class TestDeviceOffset : public QObject
{
    Q_OBJECT

private slots:
    void offset_data();
    void offset();
    void secondBeganBeforeTheMarker_data();
    void secondBeganBeforeTheMarker();
    void clockPairReadsBothClocksTogether();
};

void TestDeviceOffset::offset_data()
{
    QTest::addColumn<QString>("time");
    QTest::addColumn<QString>("date");
    QTest::addColumn<bool>("summer");
    // The device's second began this long after the pair was read; its "$" arrived the line's
    // character time and the device's delay later.
    QTest::addColumn<int>("arrivalMs");
    QTest::addColumn<qint64>("offsetUs");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("delayMs"); // the device's delay, as calibrated

    QTest::newRow("device and computer agree")
        << "12:00:00"
        << "06/15/2007" << true << 0 << qint64(0) << true << 0;
    QTest::newRow("device 2.5 s ahead")
        << "12:00:00"
        << "06/15/2007" << true << -2500 << qint64(2500000) << true << 0;
    QTest::newRow("device behind") << "11:59:59"
                                   << "06/15/2007" << true << 4 << qint64(-1004000) << true << 0;
    QTest::newRow("arrival long after the pair was read")
        << "12:01:00"
        << "06/15/2007" << true << 60000 << qint64(0) << true << 0;
    QTest::newRow("winter flag outside the repeated hour changes nothing")
        << "12:00:00"
        << "06/15/2007" << false << 0 << qint64(0) << true << 0;
    QTest::newRow("three days ahead")
        << "12:00:00"
        << "06/18/2007" << true << 0 << qint64(3) * 24 * 3600 * 1000000 << true << 0;
    QTest::newRow("impossible date") << "12:00:00"
                                     << "02/30/2007" << true << 0 << qint64(0) << false << 0;
    QTest::newRow("skipped spring hour") << "02:30:00"
                                         << "03/25/2007" << true << 0 << qint64(0) << false << 0;
    QTest::newRow("device delay 300 ms, calibrated")
        << "12:00:00"
        << "06/15/2007" << true << 0 << qint64(0) << true << 300;
    QTest::newRow("delay 140 ms, device 1 s behind")
        << "11:59:59"
        << "06/15/2007" << true << 0 << qint64(-1000000) << true << 140;
    QTest::newRow("garbled time") << "0H:4F:3A"
                                  << "06/15/2007" << true << 0 << qint64(0) << false << 0;
}

void TestDeviceOffset::offset()
{
    QFETCH(QString, time);
    QFETCH(QString, date);
    QFETCH(bool, summer);
    QFETCH(int, arrivalMs);
    QFETCH(qint64, offsetUs);
    QFETCH(bool, valid);
    QFETCH(int, delayMs);

    const std::chrono::milliseconds delay(delayMs);
    const Frame frame{time, date, 5, summer,
                      Then + std::chrono::milliseconds(arrivalMs) + CharacterTime + delay};
    const std::optional<std::chrono::microseconds> offset =
        deviceOffset(frame, QTimeZone(QByteArrayLiteral("Europe/Madrid")), Clocks, delay);
    QCOMPARE(offset.has_value(), valid);
    if (valid)
        QCOMPARE(offset->count(), offsetUs);
}

void TestDeviceOffset::secondBeganBeforeTheMarker_data()
{
    QTest::addColumn<int>("delayMs");
    QTest::addColumn<qint64>("latenessNs");

    // A "$" is complete, and read, after its stop bit: 10 bits at 4800 baud, 2.083 ms.
    QTest::newRow("line only") << 0 << 2'083'333LL;
    QTest::newRow("GPS receiver, 140 ms") << 140 << 142'083'333LL;
    QTest::newRow("GPS receiver, 500 ms") << 500 << 502'083'333LL;
}

void TestDeviceOffset::secondBeganBeforeTheMarker()
{
    QFETCH(int, delayMs);
    QFETCH(qint64, latenessNs);

    const std::chrono::milliseconds delay(delayMs);
    QCOMPARE(markerLateness(delay).count(), latenessNs);
    const Frame frame{QStringLiteral("12:00:00"), QStringLiteral("06/15/2007"), 5, true, Then};
    QCOMPARE((Then - secondBegan(frame, delay)).count(), latenessNs);
    // The device was on time when its second began as the computer's clock read 12:00:00.
    const ClockPair clocks{Then - std::chrono::nanoseconds(latenessNs), Clocks.real};
    QCOMPARE(deviceOffset(frame, QTimeZone(QByteArrayLiteral("Europe/Madrid")), clocks, delay),
             std::optional<std::chrono::microseconds>(0));
}

void TestDeviceOffset::clockPairReadsBothClocksTogether()
{
    const ClockPair first = ClockPair::now();
    const ClockPair second = ClockPair::now();
    // Both clocks run at the same rate: what passed on one passed on the other (the
    // computer's clock may be slewed, never by more than half a millisecond a second).
    const auto monotonic = second.monotonic - first.monotonic;
    const auto real = second.real - first.real;
    QVERIFY(
        std::chrono::abs(real - std::chrono::duration_cast<std::chrono::microseconds>(monotonic))
        <= 1ms);
    QCOMPARE(first.realTimeOf(first.monotonic), first.real);
    QCOMPARE(first.realTimeOf(first.monotonic + 1500ms), first.real + 1500ms);
}

QTEST_GUILESS_MAIN(TestDeviceOffset)
#include "tst_deviceoffset.moc"
