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

// The device's time minus the computer's: 2.500001 s ahead.
constexpr std::chrono::microseconds Ahead(2500001);

// A timedated backend on `bus` whose fallback only records, and the answers it gave.
struct Setting
{
    explicit Setting(const QDBusConnection &bus) : timedated(bus, &fallback) {}

    // Asks to move the clock by `offset` and waits for the one answer.
    bool setBy(std::chrono::microseconds offset)
    {
        timedated.setTimeBy(offset);
        return QTest::qWaitFor([this] { return finished.count() == 1; }, AnswerTimeoutMs);
    }
    ClockBackend::Outcome outcome() const { return finished[0][0].value<ClockBackend::Outcome>(); }
    QString systemText() const { return finished[0][1].toString(); }

    RecordingClockBackend fallback;
    TimedatedBackend timedated;
    QSignalSpy finished{&timedated, &ClockBackend::finished};
};

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
    void callCarriesTheOffset_data();
    void callCarriesTheOffset();
    void refusals_data();
    void refusals();
    void slowAnswerIsTheOnlyCall();
    void missingServiceGoesToFallback_data();
    void missingServiceGoesToFallback();
    void noBusGoesToFallback();
    void missingServiceWithoutFallbackIsARefusal();
    void callDoesNotBlock();
    void systemBusIsTheOneNamedByTheEnvironment();

private:
    // Starts the fake timedated with `options` on the private bus.
    bool startFake(const QStringList &options = {});

    PrivateBus m_privateBus;
    QDBusConnection m_bus{QString()};
    std::unique_ptr<FakeTimedatedProcess> m_fake;
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

bool TestTimedatedBackend::startFake(const QStringList &options)
{
    m_fake = std::make_unique<FakeTimedatedProcess>();
    return m_fake->start(m_privateBus.address(), options);
}

void TestTimedatedBackend::callCarriesTheOffset_data()
{
    QTest::addColumn<qint64>("offsetUsec");

    QTest::newRow("device 2.500001 s ahead") << qint64(Ahead.count());
    QTest::newRow("device 2 hours behind") << -qint64(std::chrono::microseconds(2h).count());
    QTest::newRow("device 40 years ahead") << qint64(std::chrono::microseconds(40 * 8766h).count());
}

void TestTimedatedBackend::callCarriesTheOffset()
{
    // One call, relative: timedated adds the offset to the clock as it reads it when it sets it.
    QFETCH(qint64, offsetUsec);
    QVERIFY(startFake());
    Setting setting(m_bus);
    QVERIFY(setting.setBy(std::chrono::microseconds(offsetUsec)));

    QCOMPARE(setting.outcome(), ClockBackend::Outcome::Set);
    const QList<FakeTimedatedProcess::Call> calls = m_fake->calls();
    QCOMPARE(calls.size(), 1);
    QCOMPARE(calls[0].usecUtc, offsetUsec);
    QCOMPARE(calls[0].relative, true);
    QCOMPARE(calls[0].interactive, true);
    QVERIFY(calls[0].receivedUsec > 0);
    QVERIFY(setting.fallback.asked.isEmpty());
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

    QVERIFY(startFake({QStringLiteral("--error"), error, QStringLiteral("--message"), message}));
    Setting setting(m_bus);
    QVERIFY(setting.setBy(Ahead));

    QCOMPARE(setting.outcome(), outcome);
    QCOMPARE(setting.systemText(), systemText);
    QCOMPARE(m_fake->calls().size(), 1);
    QVERIFY(setting.fallback.asked.isEmpty());
}

void TestTimedatedBackend::slowAnswerIsTheOnlyCall()
{
    // The user spends a while at polkit's password prompt: the relative change timedated makes
    // once allowed is right as it is, so nothing is sent after the answer.
    QVERIFY(startFake({QStringLiteral("--delay-ms"), QStringLiteral("1200")}));
    Setting setting(m_bus);
    QVERIFY(setting.setBy(Ahead));
    QTest::qWait(300); // a second call would go out at once

    QCOMPARE(setting.finished.count(), 1);
    QCOMPARE(setting.outcome(), ClockBackend::Outcome::Set);
    const QList<FakeTimedatedProcess::Call> calls = m_fake->calls();
    QCOMPARE(calls.size(), 1);
    QCOMPARE(calls[0].usecUtc, qint64(Ahead.count()));
    QCOMPARE(calls[0].relative, true);
    QCOMPARE(calls[0].interactive, true);
    QVERIFY(setting.fallback.asked.isEmpty());
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
    // gets the same offset, which is still right when the answer came.
    QFETCH(ClockBackend::Outcome, fallbackOutcome);
    QFETCH(QString, fallbackText);

    Setting setting(m_bus);
    setting.fallback.outcome = fallbackOutcome;
    setting.fallback.systemText = fallbackText;
    QVERIFY(setting.setBy(Ahead));

    QCOMPARE(setting.fallback.asked, QList<std::chrono::microseconds>{Ahead});
    QCOMPARE(setting.outcome(), fallbackOutcome);
    QCOMPARE(setting.systemText(), fallbackText);
}

void TestTimedatedBackend::noBusGoesToFallback()
{
    const QDBusConnection none = QDBusConnection::connectToBus(
        QStringLiteral("unix:path=/nonexistent/quorvel-no-bus"), QStringLiteral("none"));
    QVERIFY(!none.isConnected());
    Setting setting(none);
    QVERIFY(setting.setBy(-Ahead));

    QCOMPARE(setting.fallback.asked, QList<std::chrono::microseconds>{-Ahead});
    QCOMPARE(setting.outcome(), ClockBackend::Outcome::Set);
}

void TestTimedatedBackend::missingServiceWithoutFallbackIsARefusal()
{
    TimedatedBackend timedated(m_bus, nullptr);
    QSignalSpy finished(&timedated, &ClockBackend::finished);

    timedated.setTimeBy(Ahead);
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, AnswerTimeoutMs);
    QCOMPARE(finished[0][0].value<ClockBackend::Outcome>(), ClockBackend::Outcome::Refused);
    QVERIFY(!finished[0][1].toString().isEmpty());
}

void TestTimedatedBackend::callDoesNotBlock()
{
    // While timedated (polkit) takes its time, the event loop goes on: the window repaints.
    QVERIFY(startFake({QStringLiteral("--delay-ms"), QStringLiteral("300")}));
    Setting setting(m_bus);
    QStringList order;
    connect(&setting.timedated, &ClockBackend::finished, this,
            [&order] { order.append(QStringLiteral("answer")); });

    setting.timedated.setTimeBy(Ahead);
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

    QVERIFY(startFake());
    Setting setting(system);
    QVERIFY(setting.setBy(Ahead));
    QCOMPARE(m_fake->calls().size(), 1);
    QCOMPARE(m_fake->calls()[0].usecUtc, qint64(Ahead.count()));
}

QTEST_GUILESS_MAIN(TestTimedatedBackend)
#include "tst_timedatedbackend.moc"
