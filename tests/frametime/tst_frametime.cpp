// The frame's time: the date and time texts read, local time to universal time, and the
// device's offset from the computer's clock by the timing model.
#include "core/line.h"
#include "frametime/clockpair.h"
#include "frametime/frametime.h"

#include <QDateTime>
#include <QLocale>
#include <QTest>

// The date and time texts are read month first and on a 24-hour clock whatever the user's
// locale; the tests run under a Spanish one, where the usual reading is day first. Local
// wall-clock time goes to universal time in Madrid (CET, CEST from the last Sunday of March at
// 02:00 to the last Sunday of October at 03:00), around both changes, with both summer flags.

using namespace std::chrono_literals;

namespace {

// The computer's clock read 2007-06-15 10:00:00 UTC (12:00:00 in Madrid, summer time) when the
// monotonic clock read 1000 h.
const MonotonicTime Then = MonotonicTime(1000h);
const ClockPair Clocks{Then, UtcTime(std::chrono::seconds(1181901600))};

} // namespace

class TestFrameTime : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void date_data();
    void date();
    void time_data();
    void time();
    void convert_data();
    void convert();
    void otherZoneGivesOtherInstant();
    void offset_data();
    void offset();
    void secondBeganBeforeTheMarker_data();
    void secondBeganBeforeTheMarker();
    void clockPairReadsBothClocksTogether();
};

void TestFrameTime::initTestCase()
{
    QLocale::setDefault(QLocale(QLocale::Spanish, QLocale::Spain));
    if (!QTimeZone(QByteArrayLiteral("Europe/Madrid")).isValid())
        QFAIL("time zone Europe/Madrid unknown: is tzdata installed?");
}

void TestFrameTime::date_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QDate>("expected"); // invalid: does not convert

    QTest::newRow("month first") << "06/12/2007" << QDate(2007, 6, 12);
    QTest::newRow("frame date") << "06/15/2007" << QDate(2007, 6, 15);
    QTest::newRow("day above 12") << "12/31/1999" << QDate(1999, 12, 31);
    QTest::newRow("one-digit month and day") << "6/1/2007" << QDate(2007, 6, 1);
    QTest::newRow("one-digit month") << "1/15/2030" << QDate(2030, 1, 15);
    QTest::newRow("leap day") << "02/29/2008" << QDate(2008, 2, 29);
    QTest::newRow("leap day of no leap year") << "02/29/2007" << QDate();
    QTest::newRow("30 February") << "02/30/2007" << QDate();
    QTest::newRow("31 April") << "04/31/2007" << QDate();
    QTest::newRow("day first") << "15/06/2007" << QDate();
    QTest::newRow("month 0") << "00/10/2007" << QDate();
    QTest::newRow("day 0") << "06/00/2007" << QDate();
    QTest::newRow("two-digit year") << "06/15/07" << QDate();
    QTest::newRow("five-digit year") << "06/15/20071" << QDate();
    QTest::newRow("year 0") << "06/15/0000" << QDate();
    QTest::newRow("three-digit month") << "006/15/2007" << QDate();
    QTest::newRow("leading blank") << " 06/15/2007" << QDate();
    QTest::newRow("trailing blank") << "06/15/2007 " << QDate();
    QTest::newRow("blanks") << "   " << QDate();
    QTest::newRow("empty") << "" << QDate();
    QTest::newRow("placeholder") << "mm/dd/aaaa" << QDate();
    QTest::newRow("dashes") << "06-15-2007" << QDate();
    QTest::newRow("dots") << "06.15.2007" << QDate();
    QTest::newRow("sign") << "+6/15/2007" << QDate();
    QTest::newRow("fourth field") << "06/15/2007/1" << QDate();
    QTest::newRow("missing field") << "06/15" << QDate();
    QTest::newRow("empty field") << "06//2007" << QDate();
    QTest::newRow("non-ASCII digits") << QString::fromUtf8("٠٦/١٥/٢٠٠٧") << QDate();
    QTest::newRow("month name") << "jun/15/2007" << QDate();
}

void TestFrameTime::date()
{
    QFETCH(QString, text);
    QFETCH(QDate, expected);
    const std::optional<QDate> parsed = parseClockDate(text);
    QCOMPARE(parsed.has_value(), expected.isValid());
    if (parsed)
        QCOMPARE(*parsed, expected);
}

void TestFrameTime::time_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QTime>("expected"); // invalid: does not convert

    QTest::newRow("noon") << "12:00:00" << QTime(12, 0, 0);
    QTest::newRow("afternoon, 24-hour") << "18:30:45" << QTime(18, 30, 45);
    QTest::newRow("midnight") << "00:00:00" << QTime(0, 0, 0);
    QTest::newRow("last second") << "23:59:59" << QTime(23, 59, 59);
    QTest::newRow("one-digit hour") << "9:05:07" << QTime(9, 5, 7);
    QTest::newRow("one-digit hour 0") << "0:00:01" << QTime(0, 0, 1);
    QTest::newRow("hour 24") << "24:00:00" << QTime();
    QTest::newRow("minute 60") << "12:60:00" << QTime();
    QTest::newRow("second 60") << "12:00:60" << QTime();
    QTest::newRow("one-digit minute") << "12:0:00" << QTime();
    QTest::newRow("one-digit second") << "12:00:0" << QTime();
    QTest::newRow("three-digit hour") << "012:00:00" << QTime();
    QTest::newRow("no seconds") << "12:00" << QTime();
    QTest::newRow("fraction") << "12:00:00.5" << QTime();
    QTest::newRow("12-hour suffix") << "12:00:00 PM" << QTime();
    QTest::newRow("dots") << "12.00.00" << QTime();
    QTest::newRow("negative") << "-1:00:00" << QTime();
    QTest::newRow("leading blank") << " 12:00:00" << QTime();
    QTest::newRow("blanks") << "        " << QTime();
    QTest::newRow("empty") << "" << QTime();
    QTest::newRow("placeholder") << "hh:mm:ss" << QTime();
    QTest::newRow("empty field") << "12::00" << QTime();
}

void TestFrameTime::time()
{
    QFETCH(QString, text);
    QFETCH(QTime, expected);
    const std::optional<QTime> parsed = parseClockTime(text);
    QCOMPARE(parsed.has_value(), expected.isValid());
    if (parsed)
        QCOMPARE(*parsed, expected);
}

void TestFrameTime::convert_data()
{
    QTest::addColumn<QDate>("date");
    QTest::addColumn<QTime>("time");
    QTest::addColumn<bool>("summer");
    QTest::addColumn<QDateTime>("expected"); // invalid: does not convert

    // `utc`, an ISO date and time, is empty for a wall time that does not convert.
    const auto row = [](const char *tag, QDate date, QTime time, bool summer, const char *utc) {
        QTest::newRow(tag) << date << time << summer
                           << QDateTime::fromString(QLatin1String(utc), Qt::ISODate);
    };
    const QDate spring(2007, 3, 25);
    const QDate autumn(2007, 10, 28);

    row("summer day", QDate(2007, 6, 15), QTime(12, 0), true, "2007-06-15T10:00:00Z");
    row("winter day", QDate(2007, 1, 15), QTime(12, 0), false, "2007-01-15T11:00:00Z");
    row("flag ignored on a summer day", QDate(2007, 6, 15), QTime(12, 0), false,
        "2007-06-15T10:00:00Z");
    row("flag ignored on a winter day", QDate(2007, 1, 15), QTime(12, 0), true,
        "2007-01-15T11:00:00Z");
    row("local midnight is the day before in UTC", QDate(2008, 1, 1), QTime(0, 30), false,
        "2007-12-31T23:30:00Z");

    row("spring: last second before the gap", spring, QTime(1, 59, 59), false,
        "2007-03-25T00:59:59Z");
    row("spring: gap start, winter flag", spring, QTime(2, 0), false, "");
    row("spring: gap start, summer flag", spring, QTime(2, 0), true, "");
    row("spring: inside the gap, winter flag", spring, QTime(2, 30), false, "");
    row("spring: inside the gap, summer flag", spring, QTime(2, 30), true, "");
    row("spring: gap end", spring, QTime(2, 59, 59), true, "");
    row("spring: first second after the gap", spring, QTime(3, 0), true, "2007-03-25T01:00:00Z");

    row("autumn: before the repeated hour", autumn, QTime(1, 59, 59), true, "2007-10-27T23:59:59Z");
    row("autumn: repeated hour starts, summer", autumn, QTime(2, 0), true, "2007-10-28T00:00:00Z");
    row("autumn: repeated hour starts, winter", autumn, QTime(2, 0), false, "2007-10-28T01:00:00Z");
    row("autumn: inside the repeated hour, summer", autumn, QTime(2, 30), true,
        "2007-10-28T00:30:00Z");
    row("autumn: inside the repeated hour, winter", autumn, QTime(2, 30), false,
        "2007-10-28T01:30:00Z");
    row("autumn: last repeated second, summer", autumn, QTime(2, 59, 59), true,
        "2007-10-28T00:59:59Z");
    row("autumn: last repeated second, winter", autumn, QTime(2, 59, 59), false,
        "2007-10-28T01:59:59Z");
    row("autumn: after the repeated hour, summer flag ignored", autumn, QTime(3, 0), true,
        "2007-10-28T02:00:00Z");

    row("2025 spring gap", QDate(2025, 3, 30), QTime(2, 15), false, "");
    row("2025 autumn, summer", QDate(2025, 10, 26), QTime(2, 15), true, "2025-10-26T00:15:00Z");
    row("2025 autumn, winter", QDate(2025, 10, 26), QTime(2, 15), false, "2025-10-26T01:15:00Z");
}

void TestFrameTime::convert()
{
    QFETCH(QDate, date);
    QFETCH(QTime, time);
    QFETCH(bool, summer);
    QFETCH(QDateTime, expected);

    const std::optional<UtcTime> converted =
        localToUtc(date, time, summer, QTimeZone(QByteArrayLiteral("Europe/Madrid")));
    QCOMPARE(converted.has_value(), expected.isValid());
    if (converted) {
        const qint64 seconds =
            std::chrono::duration_cast<std::chrono::seconds>(converted->time_since_epoch()).count();
        QCOMPARE(QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC), expected);
    }
}

void TestFrameTime::otherZoneGivesOtherInstant()
{
    // The zone handed in is the one used: the same wall time in New York is six hours later.
    const std::optional<UtcTime> madrid = localToUtc(QDate(2007, 6, 15), QTime(12, 0), true,
                                                     QTimeZone(QByteArrayLiteral("Europe/Madrid")));
    const std::optional<UtcTime> newYork = localToUtc(
        QDate(2007, 6, 15), QTime(12, 0), true, QTimeZone(QByteArrayLiteral("America/New_York")));
    QVERIFY(madrid && newYork);
    QVERIFY(*newYork - *madrid == std::chrono::hours(6));
}

void TestFrameTime::offset_data()
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

    const auto row = [](const char *tag, const char *time, const char *date, bool summer,
                        int arrivalMs, qint64 offsetUs, bool valid, int delayMs) {
        QTest::newRow(tag) << QString::fromLatin1(time) << QString::fromLatin1(date) << summer
                           << arrivalMs << offsetUs << valid << delayMs;
    };
    row("device and computer agree", "12:00:00", "06/15/2007", true, 0, 0, true, 0);
    row("device 2.5 s ahead", "12:00:00", "06/15/2007", true, -2500, 2500000, true, 0);
    row("device behind", "11:59:59", "06/15/2007", true, 4, -1004000, true, 0);
    row("arrival long after the pair was read", "12:01:00", "06/15/2007", true, 60000, 0, true, 0);
    row("winter flag outside the repeated hour changes nothing", "12:00:00", "06/15/2007", false, 0,
        0, true, 0);
    row("three days ahead", "12:00:00", "06/18/2007", true, 0, qint64(3) * 24 * 3600 * 1000000,
        true, 0);
    row("impossible date", "12:00:00", "02/30/2007", true, 0, 0, false, 0);
    row("skipped spring hour", "02:30:00", "03/25/2007", true, 0, 0, false, 0);
    row("device delay 300 ms, calibrated", "12:00:00", "06/15/2007", true, 0, 0, true, 300);
    row("delay 140 ms, device 1 s behind", "11:59:59", "06/15/2007", true, 0, -1000000, true, 140);
    row("garbled time", "0H:4F:3A", "06/15/2007", true, 0, 0, false, 0);
}

void TestFrameTime::offset()
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

void TestFrameTime::secondBeganBeforeTheMarker_data()
{
    QTest::addColumn<int>("delayMs");
    QTest::addColumn<qint64>("latenessNs");

    // A "$" is complete, and read, after its stop bit: 10 bits at 4800 baud, 2.083 ms.
    QTest::newRow("line only") << 0 << 2'083'333LL;
    QTest::newRow("GPS receiver, 140 ms") << 140 << 142'083'333LL;
    QTest::newRow("GPS receiver, 500 ms") << 500 << 502'083'333LL;
}

void TestFrameTime::secondBeganBeforeTheMarker()
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

void TestFrameTime::clockPairReadsBothClocksTogether()
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

QTEST_GUILESS_MAIN(TestFrameTime)
#include "tst_frametime.moc"
