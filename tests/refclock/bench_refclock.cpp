// How close chronyd's estimate of the device's offset comes to the simulated offset, over 60 s,
// with quorvel-refclock dating each sample at its frame's "$"; beside it, the same on a line
// with noise, broken frames and pauses inside frames, and the naive rule that dates each sample
// at the 100 ms poll that takes the frame (--date-at-poll). The three chains run at once, each
// with its own quorvel-sim and chronyd. Prints figures; fails only when a chain cannot be
// measured at all.

#include "tests/refclock/refclockchain.h"

#include <QElapsedTimer>
#include <QTest>

#include <algorithm>

namespace {

constexpr double SimulatedOffset = 0.25;
constexpr int MeasuredSeconds = 60;

struct Figures
{
    double median = 0;
    double maximum = 0;
};

// Median and maximum of the absolute differences of `values` from the simulated offset, in ms.
Figures figures(const QList<double> &values)
{
    QList<double> errors;
    for (const double value : values)
        errors.append(qAbs(value - SimulatedOffset) * 1000);
    if (errors.isEmpty())
        return {};
    std::sort(errors.begin(), errors.end());
    const qsizetype n = errors.size();
    const double median = n % 2 ? errors.at(n / 2) : (errors.at(n / 2 - 1) + errors.at(n / 2)) / 2;
    return {median, errors.constLast()};
}

} // namespace

class BenchRefclock : public QObject
{
    Q_OBJECT

private slots:
    void chronysEstimate();
};

void BenchRefclock::chronysEstimate()
{
    const QString reason = Chronyd::unavailableReason();
    if (!reason.isEmpty())
        QSKIP(qPrintable(reason));

    RefclockChain atMarker;
    RefclockChain noisy;
    RefclockChain atPoll;
    const QStringList device{QStringLiteral("--offset"), QString::number(SimulatedOffset)};
    const QString verbose = QStringLiteral("--verbose");
    QElapsedTimer sinceStart;
    sinceStart.start();
    START_CHRONYD(atMarker.chronyd, atMarker.refclockSocket());
    START_CHRONYD(noisy.chronyd, noisy.refclockSocket());
    START_CHRONYD(atPoll.chronyd, atPoll.refclockSocket());
    QVERIFY(atMarker.plug(device));
    QVERIFY(noisy.plug(device
                       + QStringList{QStringLiteral("--noise"), QStringLiteral("--malformed"),
                                     QStringLiteral("--split")}));
    QVERIFY(atPoll.plug(device));
    QVERIFY(atMarker.startRefclock({verbose}));
    QVERIFY(noisy.startRefclock({verbose}));
    QVERIFY(atPoll.startRefclock({verbose, QStringLiteral("--date-at-poll")}));

    QVERIFY2(atMarker.chronyd.waitForSelection(60000) >= 0, qPrintable(atMarker.chronyd.log()));
    QVERIFY2(noisy.chronyd.waitForSelection(60000) >= 0, qPrintable(noisy.chronyd.log()));
    QVERIFY2(atPoll.chronyd.waitForSelection(60000) >= 0, qPrintable(atPoll.chronyd.log()));
    const double selected = double(sinceStart.elapsed()) / 1000;
    const qsizetype samplesBeforeMarker = atMarker.sentOffsets().size();
    const qsizetype samplesBeforeNoisy = noisy.sentOffsets().size();
    const qsizetype samplesBeforePoll = atPoll.sentOffsets().size();

    // Once a second for 60 s, what each chronyd estimates.
    QList<double> estimatesMarker;
    QList<double> estimatesNoisy;
    QList<double> estimatesPoll;
    QElapsedTimer clock;
    clock.start();
    for (int second = 1; second <= MeasuredSeconds; ++second) {
        atMarker.refclock.runFor(int(qMax<qint64>(0, second * 1000 - clock.elapsed())));
        noisy.refclock.lines();
        atPoll.refclock.lines();
        if (const std::optional<double> estimate = atMarker.chronyd.estimatedOffset())
            estimatesMarker.append(*estimate);
        if (const std::optional<double> estimate = noisy.chronyd.estimatedOffset())
            estimatesNoisy.append(*estimate);
        if (const std::optional<double> estimate = atPoll.chronyd.estimatedOffset())
            estimatesPoll.append(*estimate);
    }
    QVERIFY(estimatesMarker.size() >= MeasuredSeconds / 2);
    QVERIFY(estimatesNoisy.size() >= MeasuredSeconds / 2);
    QVERIFY(estimatesPoll.size() >= MeasuredSeconds / 2);

    const Figures chronyMarker = figures(estimatesMarker);
    const Figures chronyNoisy = figures(estimatesNoisy);
    const Figures chronyPoll = figures(estimatesPoll);
    const Figures samplesMarker = figures(atMarker.sentOffsets().mid(samplesBeforeMarker));
    const Figures samplesNoisy = figures(noisy.sentOffsets().mid(samplesBeforeNoisy));
    const Figures samplesPoll = figures(atPoll.sentOffsets().mid(samplesBeforePoll));
    qInfo("device %+.3f s ahead; %d s measured, chronyd asked once a second", SimulatedOffset,
          MeasuredSeconds);
    qInfo("the three chronyds selected their device within %.1f s of starting", selected);
    qInfo("| rule | chronyd's estimate: median | maximum | samples sent: median | maximum |");
    qInfo("| quorvel-refclock, dated at the \"$\" | %.2f ms | %.2f ms | %.2f ms | %.2f ms |",
          chronyMarker.median, chronyMarker.maximum, samplesMarker.median, samplesMarker.maximum);
    qInfo("| the same, noise, broken frames, pauses | %.2f ms | %.2f ms | %.2f ms | %.2f ms |",
          chronyNoisy.median, chronyNoisy.maximum, samplesNoisy.median, samplesNoisy.maximum);
    qInfo("| naive, dated at the 100 ms poll | %.2f ms | %.2f ms | %.2f ms | %.2f ms |",
          chronyPoll.median, chronyPoll.maximum, samplesPoll.median, samplesPoll.maximum);
    qInfo("(absolute differences from the simulated offset; target: chronyd within 5 ms)");
}

QTEST_GUILESS_MAIN(BenchRefclock)
#include "bench_refclock.moc"
