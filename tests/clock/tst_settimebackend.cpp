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
};

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
    RealtimeClockCalls calls{[mayset] { return mayset; },
                             [&values, error](const timespec &value) {
                                 values.append(value);
                                 return error;
                             }};
    SetTimeBackend backend(calls);
    QSignalSpy finished(&backend, &ClockBackend::finished);

    // 2007-06-15 10:00:00.250001 UTC
    backend.setTime(UtcTime(std::chrono::microseconds(1181901600250001)));

    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished[0][0].value<ClockBackend::Outcome>(), outcome);
    QCOMPARE(finished[0][1].toString(), systemText);
    QCOMPARE(values.size(), called ? 1 : 0);
    if (called) {
        QCOMPARE(qint64(values[0].tv_sec), qint64(1181901600));
        QCOMPARE(qint64(values[0].tv_nsec), qint64(250001000));
    }
}

QTEST_GUILESS_MAIN(TestSetTimeBackend)
#include "tst_settimebackend.moc"
