#pragma once

#include "clock/clocksetting.h"
#include "clock/timedatedbackend.h"
#include "tests/support/faketimedatedprocess.h"
#include "tests/support/privatebus.h"
#include "tests/support/recordingclockbackend.h"
#include "tests/support/simulatorprocess.h"
#include "tests/support/windowonline.h"

#include <QDBusConnection>
#include <QEventLoop>
#include <QList>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

// How far behind the device the offset line "El PC va 2,500 s atrasado" says the computer is;
// nothing for any other text.
inline std::optional<std::chrono::milliseconds> computerBehind(const QString &offsetLine)
{
    static const QRegularExpression pattern(
        QStringLiteral("^El PC va (\\d+),(\\d{3}) s atrasado$"));
    const QRegularExpressionMatch match = pattern.match(offsetLine);
    if (!match.hasMatch())
        return std::nullopt;
    return std::chrono::milliseconds(match.captured(1).toLongLong() * 1000
                                     + match.captured(2).toLongLong());
}

// The computer's realtime clock, the one quorvel-sim and the fake timedated go by.
inline std::chrono::nanoseconds realtimeNow()
{
    return std::chrono::system_clock::now().time_since_epoch();
}

// Runs the event loop, the way the program's own does, until `done` holds or `timeout` has
// passed, and returns `done`. Unlike QTest::qWait and the QTRY macros, it never sleeps while
// events wait, so bytes from the device are taken the moment they arrive, as in the program.
inline bool runEventLoopUntil(const std::function<bool()> &done, std::chrono::milliseconds timeout)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    check.start(std::chrono::milliseconds(5));
    QTimer::singleShot(timeout, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
    return done();
}

inline void runEventLoopFor(std::chrono::milliseconds duration)
{
    QEventLoop loop;
    QTimer::singleShot(duration, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

// The whole program in this process, on a simulated device: quorvel-sim plays the GPS clock
// device on a pseudo-terminal that "Com1" names, the real serial port reads it, the real window
// shows it, and "Poner en hora el PC" goes through the real timedated backend to a fake
// timedated on a dbus-daemon of the test's own. The backend's fallback only records, and the
// system bus address points at the private bus: nothing here can reach the machine's clock.
class ProgramOnSimulator
{
public:
    // What the clock display showed after a tick that changed it.
    struct Shown
    {
        std::chrono::nanoseconds seen; // realtime clock
        QStringList labels;            // Label1, Label3, Label5, Label7
        QString offsetLine;            // LabelOffset
    };

    ProgramOnSimulator() = default;
    ProgramOnSimulator(const ProgramOnSimulator &) = delete;
    ProgramOnSimulator &operator=(const ProgramOnSimulator &) = delete;

    ~ProgramOnSimulator()
    {
        window.reset();
        clock.reset();
        backend.reset();
        if (!m_busName.isEmpty())
            QDBusConnection::disconnectFromBus(m_busName);
        if (simulator.state() != QProcess::NotRunning && !stopWith(simulator, SIGTERM))
            simulator.kill();
        timedated.stop();
        bus.stop();
    }

    // Starts the bus, the fake timedated and the simulator, with the device's clock `offset`
    // ahead of the computer's and the simulator's further `arguments`; then builds the window,
    // runs its load step and shows it. False, with `error` set, when a part did not start.
    bool start(std::chrono::milliseconds offset, const QStringList &arguments)
    {
        m_offset = offset;
        if (!bus.start())
            return fail("dbus-daemon did not start: is the dbus package installed?");
        // Whatever might ask for the system bus in this process gets the private one.
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", bus.address().toUtf8());
        if (!timedated.start(bus.address()))
            return fail("fake-timedated did not start");
        m_busName = QStringLiteral("end-to-end ") + bus.address();
        const QDBusConnection connection = QDBusConnection::connectToBus(bus.address(), m_busName);
        if (!connection.isConnected())
            return fail("cannot connect to the private bus");

        const QStringList offsetArguments{QStringLiteral("--offset"),
                                          QString::number(offset.count()) + QStringLiteral("ms")};
        devicePath = startSimulator(simulator, offsetArguments + arguments);
        if (devicePath.isEmpty())
            return fail("quorvel-sim printed no device path");

        backend = std::make_unique<TimedatedBackend>(connection, &fallback);
        clock = std::make_unique<ClockSetting>(backend.get());
        window = std::make_unique<WindowOnLine>(clock.get());
        window->nameDevice(devicePath);
        // Connected after the window's own handler, so it sees the labels that tick left.
        QObject::connect(window->timer1(), &QTimer::timeout, &window->form,
                         [this] { noteDisplay(); });
        window->form.Form_Load();
        window->form.show();
        if (!window->portIsOpen())
            return fail("the window did not open the simulated device");
        return true;
    }

    std::chrono::milliseconds offset() const { return m_offset; }

    // Every message the window showed, those of the clock setting among them.
    QStringList messagesShown() const { return window->messages.shown; }

    // The simulated device's clock now.
    std::chrono::nanoseconds deviceNow() const { return realtimeNow() + m_offset; }

    // Every change of the clock display, in order.
    QList<Shown> shown;
    // Why start() failed.
    QString error;

    // Members in the order they are built; the destructor takes the window down first.
    PrivateBus bus;
    FakeTimedatedProcess timedated;
    QProcess simulator;
    QString devicePath;
    RecordingClockBackend fallback; // would set the clock if timedated were missing
    std::unique_ptr<TimedatedBackend> backend;
    std::unique_ptr<ClockSetting> clock;
    std::unique_ptr<WindowOnLine> window;

private:
    bool fail(const char *text)
    {
        error = QString::fromLatin1(text);
        return false;
    }

    void noteDisplay()
    {
        const QStringList now = window->labels();
        if (shown.isEmpty() ? now != m_initial : now != shown.last().labels)
            shown.append(Shown{realtimeNow(), now,
                               window->control<QLabel>(QStringLiteral("LabelOffset"))->text()});
    }

    std::chrono::milliseconds m_offset{0};
    QString m_busName;
    const QStringList m_initial{QStringLiteral("hh:mm:ss"), QStringLiteral("mm/dd/aaaa"),
                                QStringLiteral("Semana"), QStringLiteral("Inviern/Veran")};
};
