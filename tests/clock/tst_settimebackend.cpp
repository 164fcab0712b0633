#include "clock/settimebackend.h"

#include <QSignalSpy>
#include <QTest>

#include <cerrno>

// The direct clock_settime backend, with both system calls replaced by recorders: the real
// ones are never handed in, so this test cannot change the machine's clock.
class TestSetTimeBackend : public QObject
{
    Q_OBJECT

private slots:
    void setTime_data();
    void setTime();
    void offsetIsAddedToTheClockAsReadThen_data();
    void offsetIsAddedToTheClockAsReadThen();
};

namespace {

// 2007-06-15 10:00:00.250001 UTC, as clock_gettime gives it.
constexpr timespec Reading{1181901600, 250001000};

} // namespace

void TestSetTimeBackend::setTime_data()
{
    QTest::addColumn<bool>("mayset");
    QTest::addColumn<int>("error");
    QTest::addColumn<bool>("called");
    QTest::addColumn<ClockBackend::Outcome>("outcome");
    QTest::addColumn<QString>("systemText");

    QTest::newRow("holds the right: set")
        << true << 0 << true << ClockBackend::Outcome::Set << QString();
    QTest::newRow("lacks the right: refused without trying")
        << false << 0 << false << ClockBackend::Outcome::NoPermission << QString();
    QTest::newRow("the system says EPERM")
        << true << EPERM << true << ClockBackend::Outcome::NoPermission << qt_error_string(EPERM);
    QTest::newRow("the system says EINVAL")
        << true << EINVAL << true << ClockBackend::Outcome::Refused << qt_error_string(EINVAL);
}

void TestSetTimeBackend::setTime()
{
    QFETCH(bool, mayset);
    QFETCH(int, error);
    QFETCH(bool, called);
    QFETCH(ClockBackend::Outcome, outcome);
    QFETCH(QString, systemText);

    QList<timespec> values;
    int reads = 0;
    RealtimeClockCalls calls{[mayset] { return mayset; },
                             [&reads] {
                                 ++reads;
                                 return Reading;
                             },
                             [&values, error](const timespec &value) {
                                 values.append(value);
                                 return error;
                             }};
    SetTimeBackend backend(calls);
    QSignalSpy finished(&backend, &ClockBackend::finished);

    // From 2007-06-15 10:00:00.250001 UTC, 2.5 s ahead.
    backend.setTimeBy(std::chrono::microseconds(2500000));

    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished[0][0].value<ClockBackend::Outcome>(), outcome);
    QCOMPARE(finished[0][1].toString(), systemText);
    QCOMPARE(values.size(), called ? 1 : 0);
    // The clock is read only to be set at once.
    QCOMPARE(reads, called ? 1 : 0);
    if (called) {
        QCOMPARE(qint64(values[0].tv_sec), qint64(1181901602));
        QCOMPARE(qint64(values[0].tv_nsec), qint64(750001000));
    }
}

void TestSetTimeBackend::offsetIsAddedToTheClockAsReadThen_data()
{
    QTest::addColumn<qint64>("readSec");
    QTest::addColumn<qint64>("readNsec");
    QTest::addColumn<qint64>("offsetUsec");
    QTest::addColumn<qint64>("setSec");
    QTest::addColumn<qint64>("setNsec");

    const auto row = [](const char *tag, qint64 readSec, qint64 readNsec, qint64 offsetUsec,
                        qint64 setSec, qint64 setNsec) {
        QTest::newRow(tag) << readSec << readNsec << offsetUsec << setSec << setNsec;
    };
    row("ahead, within the second", Reading.tv_sec, Reading.tv_nsec, 1, 1181901600, 250002000);
    row("ahead, into the next second", 1181901600, 999999999, 1, 1181901601, 999);
    row("behind, back over a second", 1181901600, 250001000, -500000, 1181901599, 750001000);
    row("2 hours behind", 1181901600, 123, -7200000000, 1181894400, 123);
    row("nothing to move", 1181901600, 5, 0, 1181901600, 5);
    row("past 32-bit seconds", 2147483647, 500000000, 600000, 2147483648, 100000000);
}

void TestSetTimeBackend::offsetIsAddedToTheClockAsReadThen()
{
    QFETCH(qint64, readSec);
    QFETCH(qint64, readNsec);
    QFETCH(qint64, offsetUsec);
    QFETCH(qint64, setSec);
    QFETCH(qint64, setNsec);

    QList<timespec> values;
    RealtimeClockCalls calls{[] { return true; },
                             [readSec, readNsec] {
                                 timespec now{};
                                 now.tv_sec = time_t(readSec);
                                 now.tv_nsec = long(readNsec);
                                 return now;
                             },
                             [&values](const timespec &value) {
                                 values.append(value);
                                 return 0;
                             }};
    SetTimeBackend backend(calls);
    backend.setTimeBy(std::chrono::microseconds(offsetUsec));

    QCOMPARE(values.size(), 1);
    QCOMPARE(qint64(values[0].tv_sec), setSec);
    QCOMPARE(qint64(values[0].tv_nsec), setNsec);
}

QTEST_GUILESS_MAIN(TestSetTimeBackend)
#include "tst_settimebackend.moc"
