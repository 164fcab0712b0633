// How exactly "Poner en hora el PC" sets the clock: the window in this process reads
// quorvel-sim, whose clock runs a few days ahead, through a real pseudo-terminal; the button is
// pressed at 20 random moments over more than 30 seconds, and each SetTime that the fake
// timedated receives is compared with the device's time at the instant it arrived. The same is
// printed for the naive rule of setting exactly the shown values. Prints figures; fails only
// when the run itself cannot be made.
#include "frametime/frametime.h"
#include "tests/e2e/programonsimulator.h"

#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimeZone>

#include <algorithm>
#include <cstdio>
#include <random>

using namespace std::chrono_literals;

namespace {

constexpr std::chrono::milliseconds Offset = 3 * 24h + 250ms;
constexpr int Presses = 20;
// Press i comes at i * Spacing plus a random part of a second: 20 presses span over 30 s,
// and each finds the previous one answered.
constexpr std::chrono::milliseconds Spacing = 1650ms;

double milliseconds(qint64 usec)
{
    return double(usec) / 1000.0;
}

struct Figures
{
    double median = 0;
    double maximum = 0;
};

Figures figuresOf(QList<double> errors)
{
    std::sort(errors.begin(), errors.end());
    const qsizetype n = errors.size();
    const double median = n % 2 == 1 ? errors[n / 2] : (errors[n / 2 - 1] + errors[n / 2]) / 2;
    return Figures{median, errors.last()};
}

QString listed(const QList<double> &errors)
{
    QStringList texts;
    for (double error : errors)
        texts.append(QString::number(error, 'f', 1));
    return texts.join(u' ');
}

} // namespace

class BenchClockAccuracy : public QObject
{
    Q_OBJECT

private slots:
    void settingFollowsTheDevice();
    void offsetShownFollowsTheDevice_data();
    void offsetShownFollowsTheDevice();
};

void BenchClockAccuracy::settingFollowsTheDevice()
{
    ProgramOnSimulator program;
    QVERIFY2(program.start(Offset, {}), qPrintable(program.error));
    QVERIFY(runEventLoopUntil([&] { return !program.shown.isEmpty(); }, 15s));

    const quint32 seed = std::random_device()();
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> jitterMs(0, 999);
    auto *button = program.window->control<QPushButton>(QStringLiteral("Command1"));
    QSignalSpy finished(program.clock.get(), &ClockSetting::finished);
    const qint64 offsetUsec = std::chrono::duration_cast<std::chrono::microseconds>(Offset).count();

    QList<double> compensated; // |time set - device time when timedated got the call|, ms
    QList<double> naive;       // the same for the shown values as they stand
    const auto begin = MonotonicClock::now();
    for (int press = 0; press < Presses; ++press) {
        const auto at = begin + press * Spacing + std::chrono::milliseconds(jitterMs(random));
        runEventLoopFor(std::max(
            std::chrono::duration_cast<std::chrono::milliseconds>(at - MonotonicClock::now()),
            0ms));

        const std::optional<Frame> shown = program.window->form.latestFrame();
        QVERIFY(shown);
        const std::optional<UtcTime> shownUtc = frameInstant(*shown, QTimeZone::systemTimeZone());
        QVERIFY2(shownUtc, qPrintable(shown->date + u' ' + shown->time));

        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(runEventLoopUntil([&] { return finished.count() == press + 1; }, 20s));
        const QList<FakeTimedatedProcess::Call> calls = program.timedated.calls();
        QCOMPARE(calls.size(), press + 1);
        const qint64 deviceUsec = calls.last().receivedUsec + offsetUsec;
        compensated.append(milliseconds(std::abs(calls.last().setToUsec() - deviceUsec)));
        naive.append(milliseconds(std::abs(shownUtc->time_since_epoch().count() - deviceUsec)));
    }
    const double span =
        double(std::chrono::duration_cast<std::chrono::milliseconds>(MonotonicClock::now() - begin)
                   .count())
        / 1000.0;
    QCOMPARE(program.messagesShown(), QStringList());
    QVERIFY(program.fallback.asked.isEmpty());

    const Figures set = figuresOf(compensated);
    const Figures shownAsIs = figuresOf(naive);
    std::printf("clock accuracy: %d presses over %.1f s (seed %u), device clock %+.3f s\n", Presses,
                span, seed, double(Offset.count()) / 1000.0);
    std::printf("  |time set - device time| (Quorvel):          median %7.2f ms, max %7.2f ms"
                "  (target: median <= 5, max <= 15)\n",
                set.median, set.maximum);
    std::printf("  |shown values - device time| (naive rule):   median %7.2f ms, max %7.2f ms\n",
                shownAsIs.median, shownAsIs.maximum);
    std::printf("  each press, Quorvel (ms): %s\n", qPrintable(listed(compensated)));
    std::printf("  each press, naive (ms):   %s\n", qPrintable(listed(naive)));
    std::fflush(stdout);
}

void BenchClockAccuracy::offsetShownFollowsTheDevice_data()
{
    QTest::addColumn<int>("busyMs"); // of every 100 ms, the window's thread does nothing else

    QTest::newRow("window idle") << 0;
    QTest::newRow("window busy 30 ms of every 100") << 30;
}

void BenchClockAccuracy::offsetShownFollowsTheDevice()
{
    // The device's clock runs 2.5 s ahead; after each frame the offset line should say so.
    QFETCH(int, busyMs);
    constexpr auto Ahead = 2500ms;
    constexpr int Frames = 15;
    ProgramOnSimulator program;
    QVERIFY2(program.start(Ahead, {}), qPrintable(program.error));
    // A load on the window's thread, as drawing or a screen reader's questions would be.
    QTimer load;
    QObject::connect(&load, &QTimer::timeout, [busyMs] {
        const MonotonicTime until = MonotonicClock::now() + std::chrono::milliseconds(busyMs);
        while (MonotonicClock::now() < until) {
        }
    });
    if (busyMs > 0)
        load.start(100ms);
    QVERIFY(runEventLoopUntil([&] { return program.shown.size() >= Frames; }, 15s + Frames * 1s));
    load.stop();

    QList<double> errors;
    for (const ProgramOnSimulator::Shown &shown : std::as_const(program.shown)) {
        const std::optional<std::chrono::milliseconds> behind = computerBehind(shown.offsetLine);
        QVERIFY2(behind, qPrintable(shown.offsetLine));
        errors.append(std::abs(double((*behind - Ahead).count())));
    }
    const Figures figures = figuresOf(errors);
    std::printf("offset shown, %s: |shown - true offset| over %d frames: median %.0f ms, max "
                "%.0f ms  (target: median <= 2)\n",
                QTest::currentDataTag(), int(errors.size()), figures.median, figures.maximum);
    std::fflush(stdout);
}

QTEST_MAIN(BenchClockAccuracy)
#include "bench_clockaccuracy.moc"
