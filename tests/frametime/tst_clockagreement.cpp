#include "frametime/clockagreement.h"

#include <QTest>

#include <limits>

using namespace std::chrono_literals;
using std::chrono::milliseconds;

namespace {

// One frame: the device's time and the "$"'s arrival, in ms from a common start; NoInstant
// names no instant.
struct Step
{
    qint64 deviceMs;
    qint64 arrivalMs;
};

constexpr qint64 NoInstant = std::numeric_limits<qint64>::min();
const UtcTime DeviceStart = UtcTime(std::chrono::seconds(1181901600));
const MonotonicTime ArrivalStart = MonotonicTime(1000h);
// The rules under test: nothing before a day ahead of DeviceStart's is believed, and a new time
// is followed once it held 10 s.
const UtcTime Earliest = DeviceStart - 24h;
constexpr auto AcceptAfter = std::chrono::seconds(10);
// A device time some years before Earliest: a flat backup battery.
constexpr qint64 YearsBack = -8LL * 365 * 86400 * 1000;

// "S" Starting, "A" Agreeing, "J" Jumped, "P" stopped (parado), "I" implausible: the state
// after each frame.
QString run(ClockAgreement &agreement, const QList<Step> &steps)
{
    QString states;
    for (const Step &step : steps) {
        std::optional<UtcTime> device;
        if (step.deviceMs != NoInstant)
            device = DeviceStart + milliseconds(step.deviceMs);
        switch (agreement.add(device, ArrivalStart + milliseconds(step.arrivalMs))) {
        case ClockAgreement::State::Starting:
            states += u'S';
            break;
        case ClockAgreement::State::Agreeing:
            states += u'A';
            break;
        case ClockAgreement::State::Jumped:
            states += u'J';
            break;
        case ClockAgreement::State::Stopped:
            states += u'P';
            break;
        case ClockAgreement::State::Implausible:
            states += u'I';
            break;
        }
    }
    return states;
}

// Frames once a second from `first` to `last`, the device `shiftMs` off; `arrivalLateMs` adds
// to each arrival.
QList<Step> seconds(int first, int last, qint64 shiftMs = 0, qint64 arrivalLateMs = 0)
{
    QList<Step> steps;
    for (int second = first; second <= last; ++second)
        steps.append({second * 1000 + shiftMs, second * 1000 + arrivalLateMs});
    return steps;
}

} // namespace

Q_DECLARE_METATYPE(QList<Step>)

class TestClockAgreement : public QObject
{
    Q_OBJECT

private slots:
    void states_data();
    void states();
    void jumpSize();
    void resetStartsAnew();
};

void TestClockAgreement::states_data()
{
    QTest::addColumn<QList<Step>>("steps");
    QTest::addColumn<QString>("states");

    QTest::newRow("trusted after three frames") << seconds(0, 4) << "SSAAA";
    QTest::newRow("late arrivals within a quarter second")
        << QList<Step>{{0, 0}, {1000, 1240}, {2000, 2010}, {3000, 3249}} << "SSAA";
    QTest::newRow("a frame missed agrees")
        << QList<Step>{{0, 0}, {1000, 1000}, {4000, 4000}} << "SSA";
    QTest::newRow("two frames in the same second agree")
        << QList<Step>{{0, 0}, {0, 20}, {1000, 1000}} << "SSA";
    QTest::newRow("frames without an instant are ignored")
        << QList<Step>{{0, 0}, {NoInstant, 500}, {1000, 1000}, {NoInstant, 1500}, {2000, 2000}}
        << "SSSSA";
    QTest::newRow("jump of 10 s, then stays jumped")
        << seconds(0, 3) + seconds(4, 8, 10000) << "SSAAJJJJJ";
    QTest::newRow("jump of 10 s, back after two frames, trusted three frames later")
        << seconds(0, 3) + seconds(4, 5, 10000) + seconds(6, 9) << "SSAAJJJJAA";
    QTest::newRow("just over a quarter second is a jump")
        << seconds(0, 3) + QList<Step>{{4000 + 251, 4000}} << "SSAAJ";
    QTest::newRow("backwards jump") << seconds(0, 3) + seconds(4, 5, -3000) << "SSAAJJ";
    QTest::newRow("time stands still")
        << seconds(0, 3) + QList<Step>{{3000, 4000}, {3000, 5000}, {3000, 6000}} << "SSAAPPP";
    QTest::newRow("standing still, then going on from where it stopped: a jump back")
        << seconds(0, 3) + QList<Step>{{3000, 4000}, {3000, 5000}, {4000, 6000}} << "SSAAPPJ";
    QTest::newRow("standing still, then on again in step")
        << seconds(0, 3) + QList<Step>{{3000, 4000}} + seconds(5, 8) << "SSAAPPPAA";
    QTest::newRow("a bad first frame does not keep a good device out")
        << QList<Step>{{50000, 0}} + seconds(1, 4) << "SJJAA";
    QTest::newRow("a device standing still from the start is never trusted")
        << QList<Step>{{0, 0}, {0, 1000}, {0, 2000}, {0, 3000}, {0, 4000}} << "SPPPP";
    const auto times = [](char state, int count) { return QString(count, QLatin1Char(state)); };
    QTest::newRow("a lasting step is followed once it held without a break")
        << seconds(0, 3) + seconds(4, 15, 10000) << "SSAA" + times('J', 10) + "AA";
    QTest::newRow("another jump while waiting starts the wait anew")
        << seconds(0, 3) + seconds(4, 8, 10000) + seconds(9, 20, 20000)
        << "SSAA" + times('J', 15) + "AA";
    QTest::newRow("back on the time followed: the new time watched is forgotten")
        << seconds(0, 3) + seconds(4, 8, 10000) + seconds(9, 11) + seconds(12, 16, 10000)
        << "SSAA" + times('J', 7) + "A" + times('J', 5);
    QList<Step> standing = seconds(0, 3);
    for (int second = 4; second <= 20; ++second)
        standing.append({3000, second * 1000});
    QTest::newRow("a clock standing still is never a new time")
        << standing << "SSAA" + times('P', 17);
    QTest::newRow("a date before the program is never followed")
        << seconds(0, 3, YearsBack) << "IIII";
    QTest::newRow("a flat battery, then the fix: followed from the fix")
        << seconds(0, 2, YearsBack) + seconds(3, 6) << "IIISSAA";
    QTest::newRow("a step to an old date, then back on the time followed")
        << seconds(0, 3) + seconds(4, 20, YearsBack) + seconds(21, 23)
        << "SSAA" + times('I', 17) + "JJA";
}

void TestClockAgreement::states()
{
    QFETCH(QList<Step>, steps);
    QFETCH(QString, states);
    ClockAgreement agreement(Earliest, AcceptAfter);
    QCOMPARE(run(agreement, steps), states);
    QCOMPARE(agreement.agrees(), states.endsWith(u'A'));
    QCOMPARE(agreement.disagrees(), states.endsWith(u'J') || states.endsWith(u'P'));
}

void TestClockAgreement::jumpSize()
{
    ClockAgreement agreement(Earliest, AcceptAfter);
    run(agreement, seconds(0, 3) + seconds(4, 4, 10000, 30));
    QCOMPARE(agreement.lastJump(), std::chrono::microseconds(9970ms));
}

void TestClockAgreement::resetStartsAnew()
{
    ClockAgreement agreement(Earliest, AcceptAfter);
    QCOMPARE(run(agreement, seconds(0, 3) + seconds(4, 5, 10000)), QStringLiteral("SSAAJJ"));
    agreement.reset();
    // The jumped device, plugged in anew, is trusted after three frames.
    QCOMPARE(run(agreement, seconds(6, 9, 10000)), QStringLiteral("SSAA"));
}

QTEST_GUILESS_MAIN(TestClockAgreement)
#include "tst_clockagreement.moc"
