// Devices that go away: the pseudo-terminal's other side closes while a frame is half
// received, between the steps of opening the port, and while the clock is being set; and a
// port that another program holds.
#include "clock/clocksetting.h"
#include "tests/robustness/tickwatch.h"
#include "tests/support/environmentsetting.h"
#include "tests/support/processusage.h"
#include "tests/support/windowonline.h"
#include "tests/support/withoutcapabilities.h"

#ifdef FAKE_TIMEDATED_PATH
#include "clock/timedatedbackend.h"
#include "tests/support/faketimedatedprocess.h"
#include "tests/support/privatebus.h"
#include "tests/support/recordingclockbackend.h"
#endif

#include <QDateTime>
#include <QLabel>
#include <QPushButton>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTest>
#include <QTimeZone>
#include <QTimer>

#include <memory>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

const QByteArray FirstFrame("$12:00:00,06/15/2007,5,1\r\n");
const QStringList FirstLabels{"12:00:00", "06/15/2007", "Viernes", "Verano"};
const QByteArray LaterFrame("$12:00:09,06/16/2007,6,1\r\n");
const QStringList LaterLabels{"12:00:09", "06/16/2007", "Sabado", "Verano"};
const QString Unavailable = QStringLiteral("Puerto no disponible");

// A closed port is asked ten times a second and costs next to nothing.
constexpr auto SpinLimit = 300ms;
constexpr auto AnswerLimit = 2000ms;
constexpr int QuietPolls = 3;

// The window on a device that can be pulled out and plugged in again, with a watch on its
// polls.
class Rig : public WindowOnLine
{
public:
    explicit Rig(ClockSetting *clock = nullptr) : WindowOnLine(clock), watch(timer1()) {}

    // Lets `polls` polls pass.
    bool waitPolls(int polls)
    {
        const int until = watch.ticks() + polls;
        return QTest::qWaitFor([&] { return watch.ticks() >= until; }, 10000);
    }

    TickWatch watch;
};

// Starts the window on a plugged-in device and waits until the first frame is shown.
void startWithFirstFrame(Rig &rig)
{
    QVERIFY(rig.plugIn());
    rig.form.Form_Load();
    rig.form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&rig.form));
    QVERIFY(rig.portIsOpen());
    QVERIFY(rig.send(FirstFrame));
    QTRY_COMPARE(rig.labels(), FirstLabels);
}

// Once the device is gone: the port reads as closed, the window keeps polling, a second of it
// costs next to no CPU, and the labels still show `labels`.
void verifyCalmWithoutDevice(Rig &rig, const QStringList &labels)
{
    QTRY_VERIFY_WITH_TIMEOUT(!rig.portIsOpen(), 5000);
    rig.watch.restart();
    const auto cpuBefore = cpuTime();
    QTest::qWait(1000);
    const auto cpu = std::chrono::duration_cast<std::chrono::milliseconds>(cpuTime() - cpuBefore);
    qInfo("without device: %d polls in a second, longest gap %lld ms, CPU %lld ms",
          rig.watch.ticks(), qlonglong(rig.watch.longestGap().count()), qlonglong(cpu.count()));
    QVERIFY2(rig.watch.ticks() >= 5, "the window stopped polling");
    QVERIFY2(rig.watch.longestGap() < AnswerLimit, "the window stopped answering");
    QVERIFY2(cpu < SpinLimit, "the event loop spins without the device");
    QVERIFY(!rig.portIsOpen());
    QCOMPARE(rig.labels(), labels);
}

// The device is back: picking "Com1" again opens it and the next frame is shown.
void verifyReceptionResumes(Rig &rig)
{
    const qsizetype messagesBefore = rig.messages.shown.size();
    QVERIFY(rig.plugIn());
    rig.pick(0);
    QVERIFY(rig.portIsOpen());
    QCOMPARE(rig.messages.shown.size(), messagesBefore);
    QVERIFY(rig.send(LaterFrame));
    QTRY_COMPARE(rig.labels(), LaterLabels);
    QCOMPARE(rig.device->takeWritten(), QByteArray());
}

// The first line of each message.
QStringList firstLines(const QStringList &messages)
{
    QStringList lines;
    for (const QString &message : messages)
        lines.append(message.section(QLatin1String("\r\n"), 0, 0));
    return lines;
}

} // namespace

class TestUnplug : public QObject
{
    Q_OBJECT

private slots:
    void pulledWhileFrameHalfReceived_data();
    void pulledWhileFrameHalfReceived();
    void pulledWhilePortOpens_data();
    void pulledWhilePortOpens();
    void pulledWhileClockIsSet();
    void portHeldByAnotherProgram_data();
    void portHeldByAnotherProgram();
};

void TestUnplug::pulledWhileFrameHalfReceived_data()
{
    QTest::addColumn<QByteArray>("half");     // what arrived of the frame the device was sending
    QTest::addColumn<QByteArray>("whenBack"); // what the device sends first once it is back

    QTest::newRow("cut in the date, back with a whole frame")
        << QByteArray("$12:00:05,06/1") << QByteArray();
    // Plugged in again while the device was sending a frame: what arrives first is the end of
    // that frame, which must not complete the frame cut short before.
    QTest::newRow("cut in the date, back in the middle of a date")
        << QByteArray("$12:00:05,06/1") << QByteArray("5/2007,5,1\r\n");
    QTest::newRow("cut in the weekday, back in the middle of a weekday")
        << QByteArray("$12:00:05,06/15/2007,") << QByteArray("5,1\r\n");
}

void TestUnplug::pulledWhileFrameHalfReceived()
{
    QFETCH(QByteArray, half);
    QFETCH(QByteArray, whenBack);

    Rig rig;
    startWithFirstFrame(rig);
    if (QTest::currentTestFailed())
        return;
    QVERIFY(rig.send(half));
    QTRY_VERIFY(rig.receiveText().endsWith(QString::fromLatin1(half)));

    rig.pull();
    verifyCalmWithoutDevice(rig, FirstLabels);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(rig.messages.shown, QStringList());

    if (!whenBack.isEmpty()) {
        QVERIFY(rig.plugIn());
        rig.pick(0);
        QVERIFY(rig.portIsOpen());
        QVERIFY(rig.send(whenBack));
        QTRY_VERIFY(rig.receiveText().contains(QString::fromLatin1(whenBack.left(3))));
        QVERIFY(rig.waitPolls(QuietPolls));
        QCOMPARE(rig.labels(), FirstLabels);
        QVERIFY(rig.send(LaterFrame));
        QTRY_COMPARE(rig.labels(), LaterLabels);
        QCOMPARE(rig.messages.shown, QStringList());
        return;
    }
    verifyReceptionResumes(rig);
    QCOMPARE(rig.messages.shown, QStringList());
}

void TestUnplug::pulledWhilePortOpens_data()
{
    QTest::addColumn<QString>("after"); // the step of the port selection the device goes after
    QTest::addColumn<QStringList>("messages");

    QTest::newRow("after asking whether the port is open")
        << "portOpen" << QStringList{Unavailable};
    QTest::newRow("after closing the port") << "close" << QStringList{Unavailable};
    QTest::newRow("after setting the port number") << "setCommPort" << QStringList{Unavailable};
    // The port opened: the device going away afterwards closes it without a word.
    QTest::newRow("after opening the port") << "open" << QStringList{};
}

void TestUnplug::pulledWhilePortOpens()
{
    QFETCH(QString, after);
    QFETCH(QStringList, messages);

    Rig rig;
    startWithFirstFrame(rig);
    if (QTest::currentTestFailed())
        return;

    // The user picks "Com1" again, and the device goes away in the middle of it.
    bool pulled = false;
    rig.pick(0, [&] {
        rig.port.after = after;
        rig.port.between = [&] {
            rig.pull();
            pulled = true;
        };
    });
    QVERIFY(pulled);
    QCOMPARE(firstLines(rig.messages.shown), messages);

    verifyCalmWithoutDevice(rig, FirstLabels);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(firstLines(rig.messages.shown), messages);
    verifyReceptionResumes(rig);
}

void TestUnplug::pulledWhileClockIsSet()
{
#ifndef FAKE_TIMEDATED_PATH
    QSKIP("needs the fake timedated");
#else
    // The clock is set through a fake timedated on a bus of the test's own that answers only
    // after a while, as when the system asks for a password; the fallback only records. Nothing
    // here can reach the machine's clock.
    PrivateBus bus;
    QVERIFY2(bus.start(), "dbus-daemon did not start: is the dbus package installed?");
    const EnvironmentSetting systemBus("DBUS_SYSTEM_BUS_ADDRESS", bus.address().toUtf8());
    const EnvironmentSetting sessionBus("DBUS_SESSION_BUS_ADDRESS", bus.address().toUtf8());
    FakeTimedatedProcess fake;
    QVERIFY(fake.start(bus.address(), {QStringLiteral("--delay-ms"), QStringLiteral("1500")}));
    const QDBusConnection connection =
        QDBusConnection::connectToBus(bus.address(), QStringLiteral("unplug"));
    QVERIFY(connection.isConnected());
    RecordingClockBackend fallback;
    TimedatedBackend backend(connection, &fallback);
    ClockSetting clock(&backend, nullptr, ClockPair::now,
                       [] { return QTimeZone("Europe/Madrid"); });
    QSignalSpy finished(&clock, &ClockSetting::finished);

    {
        Rig rig(&clock);
        startWithFirstFrame(rig);
        if (QTest::currentTestFailed())
            return;

        QTest::mouseClick(rig.control("Command1"), Qt::LeftButton);
        QCOMPARE(finished.size(), 0); // the answer is still to come
        rig.pull();
        verifyCalmWithoutDevice(rig, FirstLabels);
        if (QTest::currentTestFailed())
            return;

        // The setting ends as if nothing had happened, with the time of the frame shown.
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 20000);
        QCOMPARE(finished[0][0].value<ClockBackend::Outcome>(), ClockBackend::Outcome::Set);
        QCOMPARE(rig.messages.shown, QStringList());
        QVERIFY(fallback.asked.isEmpty());
        const QList<FakeTimedatedProcess::Call> calls = fake.calls();
        QVERIFY(!calls.isEmpty());
        const QDateTime shown(QDate(2007, 6, 15), QTime(10, 0), QTimeZone::utc());
        const qint64 set = calls.first().setToUsec() / 1000;
        QVERIFY2(
            set >= shown.toMSecsSinceEpoch() && set < shown.addSecs(60).toMSecsSinceEpoch(),
            qPrintable(
                QDateTime::fromMSecsSinceEpoch(set, QTimeZone::utc()).toString(Qt::ISODateWithMs)));

        verifyReceptionResumes(rig);
    }
#endif
}

void TestUnplug::portHeldByAnotherProgram_data()
{
    QTest::addColumn<bool>("exclusiveMode"); // held with TIOCEXCL rather than with QSerialPort

    QTest::newRow("open in QSerialPort") << false;
    QTest::newRow("open in exclusive mode") << true;
}

void TestUnplug::portHeldByAnotherProgram()
{
    QFETCH(bool, exclusiveMode);

    // Root (CAP_SYS_ADMIN) would open a terminal held in exclusive mode all the same.
    WithoutCapabilities withoutBypass{CAP_SYS_ADMIN};
    if (!withoutBypass.isActive())
        QSKIP("cannot act without CAP_SYS_ADMIN, which opens terminals in exclusive mode");
    Rig rig;
    QVERIFY(rig.plugIn());
    // The other program: a QSerialPort (lock file and exclusive mode), or a plain descriptor
    // in exclusive mode.
    QSerialPort other(rig.device->path());
    int descriptor = -1;
    if (exclusiveMode) {
        descriptor = ::open(rig.device->path().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
        QVERIFY(descriptor >= 0);
        QCOMPARE(::ioctl(descriptor, TIOCEXCL), 0);
    } else {
        QVERIFY(other.open(QIODevice::ReadOnly));
    }

    rig.form.Form_Load();
    rig.form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&rig.form));
    QCOMPARE(firstLines(rig.messages.shown), QStringList{Unavailable});
    // The second line says that another program has the device.
    QVERIFY2(rig.messages.shown.first().contains(QStringLiteral("Otro programa tiene abierto ")
                                                 + rig.device->path()),
             qPrintable(rig.messages.shown.first()));
    QVERIFY(!rig.portIsOpen());
    QVERIFY(rig.waitPolls(QuietPolls));
    QCOMPARE(rig.messages.shown.size(), 1);

    // The other program lets go: picking the entry again opens the port.
    // (Exclusive mode ends with the terminal's last close; our own handle on the device side
    // keeps it open, so the holder ends exclusive mode itself.)
    if (descriptor >= 0) {
        QCOMPARE(::ioctl(descriptor, TIOCNXCL), 0);
        ::close(descriptor);
    }
    other.close();
    rig.pick(0);
    QVERIFY(rig.portIsOpen());
    QCOMPARE(rig.messages.shown.size(), 1);
    QVERIFY(rig.send(FirstFrame));
    QTRY_COMPARE(rig.labels(), FirstLabels);
}

QTEST_MAIN(TestUnplug)
#include "tst_unplug.moc"
