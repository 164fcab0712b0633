#include "clock/clocksetting.h"
#include "clock/timedatedbackend.h"
#include "tests/support/busasuser.h"
#include "tests/support/clockguards.h"
#include "tests/support/privatebus.h"
#include "tests/support/realtimedatedprocess.h"
#include "ui/windowtexts.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDateTime>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <optional>

#include <unistd.h>

using namespace std::chrono_literals;

namespace {

constexpr int AnswerTimeoutMs = 20000;
// The user that ordinary callers run as: "nobody", who holds no right to set the clock.
constexpr uid_t OrdinaryUser = 65534;
// How far the clock may end from the device's time at the instant it is set: in a typical
// setting (the median of several), and at worst, when the machine is busy with other work.
constexpr std::chrono::microseconds Tolerance = 5ms;
constexpr std::chrono::microseconds Hiccup = 100ms;
constexpr qsizetype Settings = 5;

const QString FirstLine = QStringLiteral("No se pudo poner en hora el PC.");

// Hands ClockSetting a frame of the device's time, in the computer's time zone, whose "$"
// has just arrived.
void setFromDeviceTime(ClockSetting &setting, const QDateTime &deviceTime)
{
    const QDateTime local = deviceTime.toLocalTime();
    setting.setFromFrame(Frame{
        local.toString(QStringLiteral("hh:mm:ss")), local.toString(QStringLiteral("MM/dd/yyyy")),
        local.date().dayOfWeek(), local.isDaylightTime(), MonotonicClock::now()});
}

QList<ClockCall> systemClockChanges(const QList<ClockCall> &calls)
{
    QList<ClockCall> changes;
    for (const ClockCall &call : calls) {
        if (call.changesSystemClock())
            changes.append(call);
    }
    return changes;
}

} // namespace

// The timedated backend against Debian's real systemd-timedated, which the test runs on a
// private bus under three guards that keep it from changing this machine's clock: no
// CAP_SYS_TIME, a seccomp filter that fails the clock system calls, and a preloaded recorder
// that takes the clock calls, logs them and answers success. Each guard is proven on a probe
// first; without all three proven, the cases that run timedated are skipped.
//
// timedated (systemd 252) on a dbus-daemon bus lets a caller set the clock when it runs as the
// same user as timedated (root), whatever the caller's capabilities; anyone else is referred
// to polkit, which is not on the private bus, and so refused.
class TestRealTimedated : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void rootCallerSetsTheClockOnceToTheDevicesTime_data();
    void rootCallerSetsTheClockOnceToTheDevicesTime();
    void refusals_data();
    void refusals();

private:
    PrivateBus m_privateBus;
    QDBusConnection m_bus{QString()};
    QString m_skipReason;
};

#define SKIP_UNLESS_GUARDED()                                                                      \
    do {                                                                                           \
        if (!m_skipReason.isEmpty())                                                               \
            QSKIP(qPrintable(m_skipReason));                                                       \
    } while (false)

void TestRealTimedated::initTestCase()
{
    QVERIFY2(m_privateBus.start(PrivateBus::Users::Anyone),
             "dbus-daemon did not start: is the dbus package installed?");
    // Nothing here may reach the machine's own buses.
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_privateBus.address().toUtf8());
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_privateBus.address().toUtf8());
    m_bus = QDBusConnection::connectToBus(m_privateBus.address(), QStringLiteral("root"));
    QVERIFY(m_bus.isConnected());

    if (!QFileInfo::exists(RealTimedatedProcess::executable())) {
        m_skipReason = QStringLiteral("%1 is not installed (the systemd package)")
                           .arg(RealTimedatedProcess::executable());
        return;
    }
    if (geteuid() != 0) {
        m_skipReason = QStringLiteral("needs root, to run timedated as it runs and to call it as "
                                      "another user");
        return;
    }

    struct Proof
    {
        const char *guard;
        QString (*prove)();
    };
    const Proof proofs[] = {{"without CAP_SYS_TIME (setpriv)", ClockGuards::proveCapability},
                            {"seccomp filter", ClockGuards::proveSeccomp},
                            {"preloaded clock-call recorder", ClockGuards::proveRecorder},
                            {"all three together", ClockGuards::proveTogether}};
    QStringList unproven;
    for (const Proof &proof : proofs) {
        const QString failure = proof.prove();
        qInfo("clock guard %s: %s", proof.guard,
              failure.isEmpty() ? "proven" : qPrintable(QStringLiteral("NOT proven: ") + failure));
        if (!failure.isEmpty())
            unproven.append(QString::fromLatin1(proof.guard) + QStringLiteral(": ") + failure);
    }
    if (!unproven.isEmpty())
        m_skipReason = QStringLiteral("a clock guard could not be proven, so the real "
                                      "systemd-timedated is not run: ")
                       + unproven.join(QStringLiteral("; "));
}

void TestRealTimedated::rootCallerSetsTheClockOnceToTheDevicesTime_data()
{
    QTest::addColumn<qint64>("deviceAheadUsec"); // the device's time minus the computer's
    QTest::addColumn<int>("standInDelayMs");     // how long systemd1 takes to answer timedated

    QTest::newRow("device 3 days ahead") << qint64(std::chrono::microseconds(72h).count()) << 0;
    QTest::newRow("device 2 hours behind") << -qint64(std::chrono::microseconds(2h).count()) << 0;
    QTest::newRow("device 1.5 s ahead") << qint64(1500000) << 0;
    // timedated asks systemd1 about its NTP unit while it handles SetTime, before it reads the
    // clock: a slow answer must not make the change late.
    QTest::newRow("device 1.5 s ahead, systemd1 answers after 1.2 s") << qint64(1500000) << 1200;
}

void TestRealTimedated::rootCallerSetsTheClockOnceToTheDevicesTime()
{
    SKIP_UNLESS_GUARDED();
    QFETCH(qint64, deviceAheadUsec);
    QFETCH(int, standInDelayMs);
    const std::chrono::microseconds deviceAhead(deviceAheadUsec);

    RealTimedatedProcess timedated;
    const QString failure =
        timedated.start(m_privateBus.address(), m_bus, QStringLiteral("inactive"), standInDelayMs);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));

    // The test runs as root, holding CAP_SYS_TIME. Each setting must come out as exactly one
    // change of the system clock, to the device's time at the instant of the change: the
    // computer's time then, plus the offset, however long timedated waited for systemd1.
    TimedatedBackend backend(m_bus, nullptr);
    QSignalSpy finished(&backend, &ClockBackend::finished);
    QList<qint64> errorsUsec;
    QStringList shown;
    for (int setting = 1; setting <= Settings; ++setting) {
        backend.setTimeBy(deviceAhead);
        QVERIFY2(finished.wait(AnswerTimeoutMs), qPrintable(timedated.output()));
        QCOMPARE(finished.size(), setting);
        QCOMPARE(finished.last()[0].value<ClockBackend::Outcome>(), ClockBackend::Outcome::Set);

        const QList<ClockCall> changes = systemClockChanges(timedated.clockCalls());
        for (qsizetype i = errorsUsec.size(); i < changes.size(); ++i) {
            const ClockCall &change = changes[i];
            QCOMPARE(change.name, QByteArray("clock_settime"));
            QCOMPARE(change.field("clock"), qint64(CLOCK_REALTIME));
            const qint64 deviceThenUsec = change.field("real") / 1000 + deviceAhead.count();
            errorsUsec.append(change.setValueUsec() - deviceThenUsec);
            shown.append(QString::number(errorsUsec.last() / 1000.0, 'f', 3));
        }
        QVERIFY2(changes.size() == setting,
                 qPrintable(QStringLiteral("%1 changes after %2 settings, off by (ms): %3")
                                .arg(changes.size())
                                .arg(setting)
                                .arg(shown.join(QLatin1Char(' ')))));
    }
    qInfo("clock set off the device's time at that instant by (ms): %s",
          qPrintable(shown.join(QLatin1Char(' '))));

    // Accuracy: the typical setting, robust against a scheduling hiccup on a busy machine; and
    // no setting off by more than such a hiccup.
    QList<qint64> magnitudes;
    for (qint64 error : errorsUsec)
        magnitudes.append(qAbs(error));
    std::sort(magnitudes.begin(), magnitudes.end());
    QVERIFY2(
        magnitudes[magnitudes.size() / 2] <= Tolerance.count(),
        qPrintable(QStringLiteral("median error %1 us").arg(magnitudes[magnitudes.size() / 2])));
    QVERIFY2(magnitudes.last() <= Hiccup.count(),
             qPrintable(QStringLiteral("worst error %1 us").arg(magnitudes.last())));

    // timedated also copies the time to the hardware clock through /dev/rtc when there is one:
    // the recorder takes that too, once per setting.
    qsizetype hardwareWrites = 0;
    for (const ClockCall &call : timedated.clockCalls())
        hardwareWrites += call.setsHardwareClock();
    QCOMPARE(hardwareWrites, QFileInfo::exists(QStringLiteral("/dev/rtc")) ? Settings : 0);

    // It asked the stand-in whether its NTP unit runs.
    QVERIFY2(timedated.standInCalls().contains(
                 QStringLiteral("org.freedesktop.DBus.Properties.GetAll "
                                "/org/freedesktop/systemd1/unit/systemd_2dtimesyncd_2eservice")),
             qPrintable(timedated.standInCalls().join(QLatin1Char('\n'))));
}

void TestRealTimedated::refusals_data()
{
    QTest::addColumn<bool>("ordinaryUser");
    QTest::addColumn<QString>("ntpActiveState");
    QTest::addColumn<ClockBackend::Outcome>("outcome");
    QTest::addColumn<QString>("reason");

    const QString permissions = QStringLiteral("Se necesitan permisos de administrador.");
    const QString automatic =
        QStringLiteral("La sincronización automática de la hora está activada.");
    QTest::newRow("ordinary user, no polkit to ask")
        << true << "inactive" << ClockBackend::Outcome::NoPermission << permissions;
    QTest::newRow("root, NTP unit active")
        << false << "active" << ClockBackend::Outcome::AutomaticSync << automatic;
    // timedated looks at its NTP unit before it looks at the caller.
    QTest::newRow("ordinary user, NTP unit active")
        << true << "active" << ClockBackend::Outcome::AutomaticSync << automatic;
}

void TestRealTimedated::refusals()
{
    SKIP_UNLESS_GUARDED();
    QFETCH(bool, ordinaryUser);
    QFETCH(QString, ntpActiveState);
    QFETCH(ClockBackend::Outcome, outcome);
    QFETCH(QString, reason);

    RealTimedatedProcess timedated;
    const QString failure = timedated.start(m_privateBus.address(), m_bus, ntpActiveState);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));

    const QString callerName = QStringLiteral("ordinary user");
    const auto disconnect = qScopeGuard([&] { QDBusConnection::disconnectFromBus(callerName); });
    QDBusConnection caller = m_bus;
    if (ordinaryUser) {
        caller = connectToBusAsUser(m_privateBus.address(), callerName, OrdinaryUser);
        QVERIFY2(caller.isConnected(), qPrintable(caller.lastError().message()));
        // The bus, which timedated asks, sees the caller as that user.
        QCOMPARE(m_bus.interface()->serviceUid(caller.baseService()).value(), OrdinaryUser);
    }

    {
        TimedatedBackend backend(caller, nullptr);
        ClockSetting setting(&backend);
        QSignalSpy answered(&backend, &ClockBackend::finished);
        QSignalSpy done(&setting, &ClockSetting::finished);

        setFromDeviceTime(setting, QDateTime::currentDateTimeUtc().addDays(3));
        QVERIFY2(done.wait(AnswerTimeoutMs), qPrintable(timedated.output()));

        QCOMPARE(answered.size(), 1);
        QCOMPARE(answered[0][0].value<ClockBackend::Outcome>(), outcome);
        QCOMPARE(done.size(), 1);
        const auto ended = done[0][0].value<ClockBackend::Outcome>();
        QCOMPARE(ended, outcome);
        // What the window tells the user of it.
        QCOMPARE(clockSettingText(ended, done[0][1].toString()),
                 FirstLine + QStringLiteral("\r\n") + reason);
    }
    // Refused before it touched any clock, even to read.
    QCOMPARE(timedated.clockCalls().size(), 0);
}

QTEST_GUILESS_MAIN(TestRealTimedated)
#include "tst_realtimedated.moc"
