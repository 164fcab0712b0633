// What Quorvel costs while it sits beside a device: the CPU time the program (the real
// executable) uses over 60 s while quorvel-sim sends a frame every second, next to the CPU
// time of a bare Qt Widgets window with a 100 ms timer, measured over the same 60 s; and, to
// tell the frames' share from the window's own, the program on a device that sends nothing,
// and the bare window showing a time label that changes once a second.
// Prints figures; fails only when the run itself cannot be made.
//
// The program's clock setting is never used here, and its system bus is a private one with a
// fake timedated on it all the same.
#include "tests/support/faketimedatedprocess.h"
#include "tests/support/privatebus.h"
#include "tests/support/processusage.h"
#include "tests/support/pseudoterminal.h"
#include "tests/support/simulatorprocess.h"
#include "tests/support/windowprogram.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <thread>

#include <ctime>

using namespace std::chrono_literals;

namespace {

constexpr std::chrono::seconds Duration = 60s;
// Start-up (fonts, the first paint, the port selection) is not idling, nor are the first
// seconds in which the caret still blinks after the window appeared.
constexpr std::chrono::seconds Settling = 12s;

// CPU time that process `pid` has used so far, all its threads together.
std::optional<std::chrono::nanoseconds> cpuTimeOf(qint64 pid)
{
    clockid_t clock{};
    timespec used{};
    if (clock_getcpuclockid(pid_t(pid), &clock) != 0 || clock_gettime(clock, &used) != 0)
        return std::nullopt;
    return std::chrono::seconds(used.tv_sec) + std::chrono::nanoseconds(used.tv_nsec);
}

double millisecondsOf(std::chrono::nanoseconds time)
{
    return double(time.count()) / 1e6;
}

// One process whose CPU time is measured.
struct Measured
{
    Measured(const QString &name, const QString &program, const QString &device,
             const QStringList &arguments = {})
        : name(name), device(device)
    {
        options.program = program;
        options.arguments = arguments;
        options.logFrames = false;
    }

    QString name;
    QString device; // the program's "Com1"
    WindowProgram::Options options;
    std::shared_ptr<WindowProgram> window = std::make_shared<WindowProgram>();
    std::optional<std::chrono::nanoseconds> before;
    std::chrono::nanoseconds used{0};
    qint64 wakeUpsBefore = -1;
    qint64 wakeUps = -1;
};

} // namespace

class BenchIdleCost : public QObject
{
    Q_OBJECT

private slots:
    void idleCost();
};

void BenchIdleCost::idleCost()
{
    PrivateBus bus;
    QVERIFY2(bus.start(), "dbus-daemon did not start: is the dbus package installed?");
    FakeTimedatedProcess timedated;
    QVERIFY(timedated.start(bus.address()));
    QProcess simulator;
    const QString device = startSimulator(simulator, {"--offset", "5m"});
    const auto stopSimulator = qScopeGuard([&simulator] {
        if (simulator.state() != QProcess::NotRunning && !stopWith(simulator, SIGTERM))
            simulator.kill();
    });
    QVERIFY2(!device.isEmpty(), "quorvel-sim printed no device path");
    // For comparison, the program on a device that sends nothing.
    PseudoTerminal silent;
    QVERIFY(silent.isValid());

    QList<Measured> measured{
        {QStringLiteral("quorvel"), QString(), device},
        {QStringLiteral("bare window, 100 ms timer"), QStringLiteral(BARE_WINDOW), QString()},
        {QStringLiteral("quorvel, device silent"), QString(), silent.path()},
        // What showing a changing time costs by itself, to read the ratio against.
        {QStringLiteral("bare window + clock label"),
         QStringLiteral(BARE_WINDOW),
         QString(),
         {QStringLiteral("--clock-label")}},
    };
    for (Measured &one : measured) {
        one.options.systemBus = bus.address();
        QVERIFY(one.window->start(one.device, one.options));
    }
    for (const Measured &one : std::as_const(measured)) {
        if (!one.device.isEmpty())
            QVERIFY2(one.window->opensWithin(one.device, 15s), "quorvel did not open its device");
    }

    std::this_thread::sleep_for(Settling);
    for (Measured &one : measured) {
        one.before = cpuTimeOf(one.window->processId());
        one.wakeUpsBefore = wakeUpsOfProcess(one.window->processId());
        QVERIFY(one.before);
    }
    const auto begin = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(Duration);
    QCoreApplication::processEvents(); // takes notice of a process that has ended
    for (Measured &one : measured) {
        const std::optional<std::chrono::nanoseconds> after = cpuTimeOf(one.window->processId());
        QVERIFY2(after && one.window->process.state() == QProcess::Running,
                 qPrintable(one.name + QStringLiteral(" ended during the measurement")));
        one.used = *after - *one.before;
        one.wakeUps = wakeUpsOfProcess(one.window->processId()) - one.wakeUpsBefore;
    }
    const double seconds = double(std::chrono::duration_cast<std::chrono::milliseconds>(
                                      std::chrono::steady_clock::now() - begin)
                                      .count())
                           / 1000.0;
    QVERIFY2(hasOpen(measured[0].window->processId(), device), "quorvel lost the device");
    QCOMPARE(timedated.calls().size(), 0);

    std::printf("idle cost over %.1f s, quorvel-sim sending one frame a second:\n", seconds);
    for (const Measured &one : std::as_const(measured))
        std::printf("  %-28s %8.1f ms CPU (%.3f %% of one core), threads woken %lld times\n",
                    qPrintable(one.name + u':'), millisecondsOf(one.used),
                    millisecondsOf(one.used) / seconds / 10.0, one.wakeUps);
    if (measured[1].used.count() > 0)
        std::printf("  ratio quorvel / bare window:  %8.2f (target: at most 1.5)\n",
                    double(measured[0].used.count()) / double(measured[1].used.count()));
    // What a frame costs the window, over what it costs to wait for a silent device.
    std::printf("  CPU per frame:                %8.2f ms (all threads; was 1.9 ms before the "
                "offset line and the reading thread: at most +15 %% asked)\n",
                (millisecondsOf(measured[0].used) - millisecondsOf(measured[2].used)) / seconds);
    std::fflush(stdout);
}

QTEST_GUILESS_MAIN(BenchIdleCost)
#include "bench_idlecost.moc"
