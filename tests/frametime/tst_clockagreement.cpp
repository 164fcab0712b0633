#include "frametime/clockagreement.h"

#include <QTest>

using namespace std::chrono_literals;
using std::chrono::milliseconds;

namespace {

// One frame: the device's time and the "$"'s arrival, in ms from a common start; a device
// time below zero names no instant.
struct Step
{
    qint64 deviceMs;
    qint64 arrivalMs;
};

const UtcTime DeviceStart = UtcTime(std::chrono::seconds(1181901600));
const MonotonicTime ArrivalStart = MonotonicTime(1000h);

// "S" Starting, "A" Agreeing, "J" Jumped, "P" stopped (parado): the state after each frame.
QString run(ClockAgreement &agreement, const QList<Step> &steps)
{
    QString states;
    for (const Step &step : steps) {
        std::optional<UtcTime> device;
        if (step.deviceMs >= 0)
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
        << QList<Step>{{0, 0}, {-1, 500}, {1000, 1000}, {-1, 1500}, {2000, 2000}} << "SSSSA";
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
}

void TestClockAgreement::states()
{
    QFETCH(QList<Step>, steps);
    QFETCH(QString, states);
    ClockAgreement agreement;
    QCOMPARE(run(agreement, steps), states);
    QCOMPARE(agreement.agrees(), states.endsWith(u'A'));
    QCOMPARE(agreement.disagrees(), states.endsWith(u'J') || states.endsWith(u'P'));
}

void TestClockAgreement::jumpSize()
{
    ClockAgreement agreement;
    run(agreement, seconds(0, 3) + seconds(4, 4, 10000, 30));
    QCOMPARE(agreement.lastJump(), std::chrono::microseconds(9970ms));
}

void TestClockAgreement::resetStartsAnew()
{
    ClockAgreement agreement;
    QCOMPARE(run(agreement, seconds(0, 3) + seconds(4, 5, 10000)), QStringLiteral("SSAAJJ"));
    agreement.reset();
    // The jumped device, plugged in anew, is trusted after three frames.
    QCOMPARE(run(agreement, seconds(6, 9, 10000)), QStringLiteral("SSAA"));
}

QTEST_GUILESS_MAIN(TestClockAgreement)
#include "tst_clockagreement.moc"
