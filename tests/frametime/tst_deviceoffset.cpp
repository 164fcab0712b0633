#include "frametime/deviceoffset.h"

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
    void clockPairReadsBothClocksTogether();
};

void TestDeviceOffset::offset_data()
{
    QTest::addColumn<QString>("time");
    QTest::addColumn<QString>("date");
    QTest::addColumn<bool>("summer");
    QTest::addColumn<int>("arrivalMs"); // the "$" arrived this long after the pair was read
    QTest::addColumn<qint64>("offsetUs");
    QTest::addColumn<bool>("valid");

    QTest::newRow("device and computer agree") << "12:00:00"
                                               << "06/15/2007" << true << 0 << qint64(0) << true;
    QTest::newRow("device 2.5 s ahead") << "12:00:00"
                                        << "06/15/2007" << true << -2500 << qint64(2500000) << true;
    QTest::newRow("device behind") << "11:59:59"
                                   << "06/15/2007" << true << 4 << qint64(-1004000) << true;
    QTest::newRow("arrival long after the pair was read")
        << "12:01:00"
        << "06/15/2007" << true << 60000 << qint64(0) << true;
    QTest::newRow("winter flag outside the repeated hour changes nothing")
        << "12:00:00"
        << "06/15/2007" << false << 0 << qint64(0) << true;
    QTest::newRow("three days ahead")
        << "12:00:00"
        << "06/18/2007" << true << 0 << qint64(3) * 24 * 3600 * 1000000 << true;
    QTest::newRow("impossible date") << "12:00:00"
                                     << "02/30/2007" << true << 0 << qint64(0) << false;
    QTest::newRow("skipped spring hour") << "02:30:00"
                                         << "03/25/2007" << true << 0 << qint64(0) << false;
    QTest::newRow("garbled time") << "0H:4F:3A"
                                  << "06/15/2007" << true << 0 << qint64(0) << false;
}

void TestDeviceOffset::offset()
{
    QFETCH(QString, time);
    QFETCH(QString, date);
    QFETCH(bool, summer);
    QFETCH(int, arrivalMs);
    QFETCH(qint64, offsetUs);
    QFETCH(bool, valid);

    const Frame frame{time, date, 5, summer, Then + std::chrono::milliseconds(arrivalMs)};
    const std::optional<std::chrono::microseconds> offset =
        deviceOffset(frame, QTimeZone(QByteArrayLiteral("Europe/Madrid")), Clocks);
    QCOMPARE(offset.has_value(), valid);
    if (valid)
        QCOMPARE(offset->count(), offsetUs);
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
