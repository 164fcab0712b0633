#include "frametime/frametime.h"

#include <QDateTime>
#include <QTest>

// Local wall-clock time to universal time in Madrid (CET, CEST from the last Sunday of March at
// 02:00 to the last Sunday of October at 03:00), around both changes, with both summer flags.
class TestLocalToUtc : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void convert_data();
    void convert();
    void otherZoneGivesOtherInstant();
};

void TestLocalToUtc::initTestCase()
{
    if (!QTimeZone(QByteArrayLiteral("Europe/Madrid")).isValid())
        QFAIL("time zone Europe/Madrid unknown: is tzdata installed?");
}

void TestLocalToUtc::convert_data()
{
    QTest::addColumn<QDate>("date");
    QTest::addColumn<QTime>("time");
    QTest::addColumn<bool>("summer");
    QTest::addColumn<QDateTime>("expected"); // invalid: does not convert

    const auto utc = [](int y, int mo, int d, int h, int mi, int s) {
        return QDateTime(QDate(y, mo, d), QTime(h, mi, s), Qt::UTC);
    };
    const QDate spring(2007, 3, 25);
    const QDate autumn(2007, 10, 28);

    QTest::newRow("summer day") << QDate(2007, 6, 15) << QTime(12, 0) << true
                                << utc(2007, 6, 15, 10, 0, 0);
    QTest::newRow("winter day") << QDate(2007, 1, 15) << QTime(12, 0) << false
                                << utc(2007, 1, 15, 11, 0, 0);
    QTest::newRow("flag ignored on a summer day")
        << QDate(2007, 6, 15) << QTime(12, 0) << false << utc(2007, 6, 15, 10, 0, 0);
    QTest::newRow("flag ignored on a winter day")
        << QDate(2007, 1, 15) << QTime(12, 0) << true << utc(2007, 1, 15, 11, 0, 0);
    QTest::newRow("local midnight is the day before in UTC")
        << QDate(2008, 1, 1) << QTime(0, 30) << false << utc(2007, 12, 31, 23, 30, 0);

    QTest::newRow("spring: last second before the gap")
        << spring << QTime(1, 59, 59) << false << utc(2007, 3, 25, 0, 59, 59);
    QTest::newRow("spring: gap start, winter flag")
        << spring << QTime(2, 0) << false << QDateTime();
    QTest::newRow("spring: gap start, summer flag") << spring << QTime(2, 0) << true << QDateTime();
    QTest::newRow("spring: inside the gap, winter flag")
        << spring << QTime(2, 30) << false << QDateTime();
    QTest::newRow("spring: inside the gap, summer flag")
        << spring << QTime(2, 30) << true << QDateTime();
    QTest::newRow("spring: gap end") << spring << QTime(2, 59, 59) << true << QDateTime();
    QTest::newRow("spring: first second after the gap")
        << spring << QTime(3, 0) << true << utc(2007, 3, 25, 1, 0, 0);

    QTest::newRow("autumn: before the repeated hour")
        << autumn << QTime(1, 59, 59) << true << utc(2007, 10, 27, 23, 59, 59);
    QTest::newRow("autumn: repeated hour starts, summer")
        << autumn << QTime(2, 0) << true << utc(2007, 10, 28, 0, 0, 0);
    QTest::newRow("autumn: repeated hour starts, winter")
        << autumn << QTime(2, 0) << false << utc(2007, 10, 28, 1, 0, 0);
    QTest::newRow("autumn: inside the repeated hour, summer")
        << autumn << QTime(2, 30) << true << utc(2007, 10, 28, 0, 30, 0);
    QTest::newRow("autumn: inside the repeated hour, winter")
        << autumn << QTime(2, 30) << false << utc(2007, 10, 28, 1, 30, 0);
    QTest::newRow("autumn: last repeated second, summer")
        << autumn << QTime(2, 59, 59) << true << utc(2007, 10, 28, 0, 59, 59);
    QTest::newRow("autumn: last repeated second, winter")
        << autumn << QTime(2, 59, 59) << false << utc(2007, 10, 28, 1, 59, 59);
    QTest::newRow("autumn: after the repeated hour, summer flag ignored")
        << autumn << QTime(3, 0) << true << utc(2007, 10, 28, 2, 0, 0);

    QTest::newRow("2025 spring gap") << QDate(2025, 3, 30) << QTime(2, 15) << false << QDateTime();
    QTest::newRow("2025 autumn, summer")
        << QDate(2025, 10, 26) << QTime(2, 15) << true << utc(2025, 10, 26, 0, 15, 0);
    QTest::newRow("2025 autumn, winter")
        << QDate(2025, 10, 26) << QTime(2, 15) << false << utc(2025, 10, 26, 1, 15, 0);
}

void TestLocalToUtc::convert()
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

void TestLocalToUtc::otherZoneGivesOtherInstant()
{
    // The zone handed in is the one used: the same wall time in New York is six hours later.
    const std::optional<UtcTime> madrid = localToUtc(QDate(2007, 6, 15), QTime(12, 0), true,
                                                     QTimeZone(QByteArrayLiteral("Europe/Madrid")));
    const std::optional<UtcTime> newYork = localToUtc(
        QDate(2007, 6, 15), QTime(12, 0), true, QTimeZone(QByteArrayLiteral("America/New_York")));
    QVERIFY(madrid && newYork);
    QVERIFY(*newYork - *madrid == std::chrono::hours(6));
}

QTEST_GUILESS_MAIN(TestLocalToUtc)
#include "tst_localtoutc.moc"
