#include "clock/timedatedbackend.h"
#include "tests/support/faketimedatedprocess.h"
#include "tests/support/privatebus.h"
#include "tests/support/recordingclockbackend.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <memory>

using namespace std::chrono_literals;

namespace {

const QString Service = QStringLiteral("org.freedesktop.timedate1");
constexpr int AnswerTimeoutMs = 20000;

// 2007-06-15 10:00:00.250001 UTC
const UtcTime Shown(std::chrono::microseconds(1181901600250001));

qint64 usec(UtcTime utc)
{
    return utc.time_since_epoch().count();
}

} // namespace

// The timedated backend against a fake timedated on a dbus-daemon of the test's own. Both
// DBUS_SYSTEM_BUS_ADDRESS and DBUS_SESSION_BUS_ADDRESS point at that daemon, and the fallback
// is always a recorder, so nothing here can reach the machine's clock.
class TestTimedatedBackend : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void callCarriesTheTime();
    void refusals_data();
    void refusals();
    void slowAnswerIsFollowedByTheTimeAsItStandsThen();
    void missingServiceGoesToFallback_data();
    void missingServiceGoesToFallback();
    void noBusGoesToFallback();
    void missingServiceWithoutFallbackIsARefusal();
    void callDoesNotBlock();
    void systemBusIsTheOneNamedByTheEnvironment();

private:
    MonotonicTime now() const { return m_now; }
    TimedatedBackend *backend(const QDBusConnection &bus, RecordingClockBackend *fallback);

    PrivateBus m_privateBus;
    QDBusConnection m_bus{QString()};
    std::unique_ptr<FakeTimedatedProcess> m_fake;
    MonotonicTime m_now = MonotonicTime(1000h);
};

void TestTimedatedBackend::initTestCase()
{
    QVERIFY2(m_privateBus.start(), "dbus-daemon did not start: is the dbus package installed?");
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_privateBus.address().toUtf8());
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_privateBus.address().toUtf8());
    m_bus = QDBusConnection::connectToBus(m_privateBus.address(), QStringLiteral("private"));
    QVERIFY(m_bus.isConnected());
}

void TestTimedatedBackend::cleanup()
{
    m_fake.reset();
    // The next test's fake must find the name free.
    QTRY_VERIFY(!m_bus.interface()->isServiceRegistered(Service));
}

TimedatedBackend *TestTimedatedBackend::backend(const QDBusConnection &bus,
                                                RecordingClockBackend *fallback)
{
    return new TimedatedBackend(bus, fallback, fallback, [this] { return now(); });
}

void TestTimedatedBackend::callCarriesTheTime()
{
    m_fake = std::make_unique<FakeTimedatedProcess>();
    QVERIFY(m_fake->start(m_privateBus.address()));
    RecordingClockBackend fallback;
    TimedatedBackend *timedated = backend(m_bus, &fallback);
    QSignalSpy finished(timedated, &ClockBackend::finished);

    timedated->setTime(Shown);
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, AnswerTimeoutMs);

    QCOMPARE(finished[0][0].value<ClockBackend::Outcome>(), ClockBackend::Outcome::Set);
    const QList<FakeTimedatedProcess::Call> calls = m_fake->calls();
    QCOMPARE(calls.size(), 1);
    QCOMPARE(calls[0].usecUtc, usec(Shown));
    QCOMPARE(calls[0].relative, false);
    QCOMPARE(calls[0].interactive, true);
    QVERIFY(calls[0].receivedUsec > 0);
    QVERIFY(fallback.asked.isEmpty());
}

void TestTimedatedBackend::refusals_data()
{
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("message");
    QTest::addColumn<ClockBackend::Outcome>("outcome");
    QTest::addColumn<QString>("systemText");

    QTest::newRow("access denied")
        << "org.freedesktop.DBus.Error.AccessDenied"
        << "Permission denied" << ClockBackend::Outcome::NoPermission << "Permission denied";
    QTest::newRow("password prompt dismissed")
        << "org.freedesktop.PolicyKit1.Error.Cancelled"
        << "Authorization cancelled" << ClockBackend::Outcome::NoPermission
        << "Authorization cancelled";
    QTest::newRow("interactive authorization required")
        << "org.freedesktop.DBus.Error.InteractiveAuthorizationRequired"
        << "Interactive authentication required." << ClockBackend::Outcome::NoPermission
        << "Interactive authentication required.";
    QTest::newRow("automatic time sync enabled")
        << "org.freedesktop.timedate1.AutomaticTimeSyncEnabled"
        << "Automatic time synchronization is enabled" << ClockBackend::Outcome::AutomaticSync
        << "Automatic time synchronization is enabled";
    QTest::newRow("other failure: its text")
        << "org.freedesktop.DBus.Error.Failed"
        << "Failed to set time: Invalid argument" << ClockBackend::Outcome::Refused
        << "Failed to set time: Invalid argument";
    QTest::newRow("other failure without text: its name")
        << "org.freedesktop.DBus.Error.Failed"
        << "" << ClockBackend::Outcome::Refused << "org.freedesktop.DBus.Error.Failed";
}

void TestTimedatedBackend::refusals()
{
    QFETCH(QString, error);
    QFETCH(QString, message);
    QFETCH(ClockBackend::Outcome, outcome);
    QFETCH(QString, systemText);

    m_fake = std::make_unique<FakeTimedatedProcess>();
    QVERIFY(m_fake->start(m_privateBus.address(), {QStringLiteral("--error"), error,
                                                   QStringLiteral("--message"), message}));
    RecordingClockBackend fallback;
    TimedatedBackend *timedated = backend(m_bus, &fallback);
    QSignalSpy finished(timedated, &ClockBackend::finished);

    timedated->setTime(Shown);
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, AnswerTimeoutMs);

    QCOMPARE(finished[0][0].value<ClockBackend::Outcome>(), outcome);
    QCOMPARE(finished[0][1].toString(), systemText);
    QCOMPARE(m_fake->calls().size(), 1);
    QVERIFY(fallback.asked.isEmpty());
}

void TestTimedatedBackend::slowAnswerIsFollowedByTheTimeAsItStandsThen()
{
    // The user spends 12 s at polkit's password prompt: once allowed, the time is sent again,
    // without a prompt, 12 s later than first asked.
    m_fake = std::make_unique<FakeTimedatedProcess>();
    QVERIFY(m_fake->start(m_privateBus.address()));
    RecordingClockBackend fallback;
    TimedatedBackend *timedated = backend(m_bus, &fallback);
    QSignalSpy finished(timedated, &ClockBackend::finished);

    timedated->setTime(Shown);
    m_now += 12s;
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, AnswerTimeoutMs);

    QCOMPARE(finished[0][0].value<ClockBackend::Outcome>(), ClockBackend::Outcome::Set);
    const QList<FakeTimedatedProcess::Call> calls = m_fake->calls();
    QCOMPARE(calls.size(), 2);
    QCOMPARE(calls[0].usecUtc, usec(Shown));
    QCOMPARE(calls[0].interactive, true);
    QCOMPARE(calls[1].usecUtc, usec(Shown + 12s));
    QCOMPARE(calls[1].relative, false);
    QCOMPARE(calls[1].interactive, false);
}

void TestTimedatedBackend::missingServiceGoesToFallback_data()
{
    QTest::addColumn<ClockBackend::Outcome>("fallbackOutcome");
    QTest::addColumn<QString>("fallbackText");

    QTest::newRow("fallback sets") << ClockBackend::Outcome::Set << "";
    QTest::newRow("fallback lacks the right") << ClockBackend::Outcome::NoPermission << "";
    QTest::newRow("fallback refused") << ClockBackend::Outcome::Refused << "Invalid argument";
}

void TestTimedatedBackend::missingServiceGoesToFallback()
{
    // No fake runs: the bus answers that nobody owns org.freedesktop.timedate1. The fallback
    // gets the time as it stands when the answer came.
    QFETCH(ClockBackend::Outcome, fallbackOutcome);
    QFETCH(QString, fallbackText);

    RecordingClockBackend fallback;
    fallback.outcome = fallbackOutcome;
    fallback.systemText = fallbackText;
    TimedatedBackend *timedated = backend(m_bus, &fallback);
    QSignalSpy finished(timedated, &ClockBackend::finished);

    timedated->setTime(Shown);
    m_now += 3s;
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, AnswerTimeoutMs);

    QCOMPARE(fallback.asked.size(), 1);
    QCOMPARE(usec(fallback.asked[0]), usec(Shown + 3s));
    QCOMPARE(finished[0][0].value<ClockBackend::Outcome>(), fallbackOutcome);
    QCOMPARE(finished[0][1].toString(), fallbackText);
}

void TestTimedatedBackend::noBusGoesToFallback()
{
    const QDBusConnection none = QDBusConnection::connectToBus(
        QStringLiteral("unix:path=/nonexistent/quorvel-no-bus"), QStringLiteral("none"));
    QVERIFY(!none.isConnected());
    RecordingClockBackend fallback;
    TimedatedBackend *timedated = backend(none, &fallback);
    QSignalSpy finished(timedated, &ClockBackend::finished);

    timedated->setTime(Shown);
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, AnswerTimeoutMs);

    QCOMPARE(fallback.asked.size(), 1);
    QCOMPARE(usec(fallback.asked[0]), usec(Shown));
    QCOMPARE(finished[0][0].value<ClockBackend::Outcome>(), ClockBackend::Outcome::Set);
}

void TestTimedatedBackend::missingServiceWithoutFallbackIsARefusal()
{
    TimedatedBackend timedated(m_bus, nullptr, nullptr, [this] { return now(); });
    QSignalSpy finished(&timedated, &ClockBackend::finished);

    timedated.setTime(Shown);
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, AnswerTimeoutMs);
    QCOMPARE(finished[0][0].value<ClockBackend::Outcome>(), ClockBackend::Outcome::Refused);
    QVERIFY(!finished[0][1].toString().isEmpty());
}

void TestTimedatedBackend::callDoesNotBlock()
{
    // While timedated (polkit) takes its time, the event loop goes on: the window repaints.
    m_fake = std::make_unique<FakeTimedatedProcess>();
    QVERIFY(m_fake->start(m_privateBus.address(),
                          {QStringLiteral("--delay-ms"), QStringLiteral("300")}));
    RecordingClockBackend fallback;
    TimedatedBackend *timedated = backend(m_bus, &fallback);
    QStringList order;
    connect(timedated, &ClockBackend::finished, this,
            [&order] { order.append(QStringLiteral("answer")); });

    timedated->setTime(Shown);
    QVERIFY(order.isEmpty());
    QTimer::singleShot(0, this, [&order] { order.append(QStringLiteral("event loop ran")); });
    QTRY_COMPARE_WITH_TIMEOUT(order.size(), 2, AnswerTimeoutMs);
    QCOMPARE(order, (QStringList{QStringLiteral("event loop ran"), QStringLiteral("answer")}));
}

void TestTimedatedBackend::systemBusIsTheOneNamedByTheEnvironment()
{
    // The program talks to QDBusConnection::systemBus(); tests and end-to-end runs rely on it
    // following DBUS_SYSTEM_BUS_ADDRESS. Make sure it is the private bus before calling on it.
    const QString probe = QStringLiteral("org.quorvel.PrivateBusProbe");
    QVERIFY(m_bus.registerService(probe));
    const QDBusConnection system = QDBusConnection::systemBus();
    const bool isPrivate = system.isConnected() && system.interface()->isServiceRegistered(probe);
    m_bus.unregisterService(probe);
    QVERIFY2(isPrivate, "the system bus connection is not the test's private bus");

    m_fake = std::make_unique<FakeTimedatedProcess>();
    QVERIFY(m_fake->start(m_privateBus.address()));
    RecordingClockBackend fallback;
    TimedatedBackend *timedated = backend(system, &fallback);
    QSignalSpy finished(timedated, &ClockBackend::finished);

    timedated->setTime(Shown);
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, AnswerTimeoutMs);
    QCOMPARE(m_fake->calls().size(), 1);
    QCOMPARE(m_fake->calls()[0].usecUtc, usec(Shown));
}

QTEST_GUILESS_MAIN(TestTimedatedBackend)
#include "tst_timedatedbackend.moc"
