#include "core/terminationsignals.h"

#include <QSignalSpy>
#include <QTest>

#include <csignal>

namespace {

// What a handler installed before the object (another library's, say) has seen.
volatile std::sig_atomic_t earlierHandlerRan = 0;

extern "C" void earlierHandler(int signalNumber)
{
    earlierHandlerRan = signalNumber;
}

} // namespace

class TestTerminationSignals : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void signalArrivesOnTheEventLoop_data();
    void signalArrivesOnTheEventLoop();
    void severalSignalsArriveInOrder();
    void earlierHandlersComeBackAfterwards_data();
    void earlierHandlersComeBackAfterwards();
    void onlyOneObjectHoldsTheSignals();
};

void TestTerminationSignals::init()
{
    earlierHandlerRan = 0;
    for (const int signalNumber : {SIGTERM, SIGINT, SIGHUP})
        std::signal(signalNumber, earlierHandler);
}

void TestTerminationSignals::cleanup()
{
    for (const int signalNumber : {SIGTERM, SIGINT, SIGHUP})
        std::signal(signalNumber, SIG_DFL);
}

void TestTerminationSignals::signalArrivesOnTheEventLoop_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("SIGHUP") << int(SIGHUP);
}

void TestTerminationSignals::signalArrivesOnTheEventLoop()
{
    QFETCH(int, signalNumber);
    TerminationSignals watcher;
    QVERIFY(watcher.isActive());
    QSignalSpy spy(&watcher, &TerminationSignals::received);

    QCOMPARE(std::raise(signalNumber), 0);
    // Not from inside the handler: only once the event loop runs.
    QCOMPARE(spy.count(), 0);
    QVERIFY(spy.wait(2000));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toInt(), signalNumber);
    QCOMPARE(int(earlierHandlerRan), 0);
    // One delivery per signal.
    QTest::qWait(50);
    QCOMPARE(spy.count(), 1);
}

void TestTerminationSignals::severalSignalsArriveInOrder()
{
    TerminationSignals watcher;
    QSignalSpy spy(&watcher, &TerminationSignals::received);
    std::raise(SIGHUP);
    std::raise(SIGTERM);
    std::raise(SIGINT);
    QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 3, 2000);
    QCOMPARE(spy.at(0).at(0).toInt(), int(SIGHUP));
    QCOMPARE(spy.at(1).at(0).toInt(), int(SIGTERM));
    QCOMPARE(spy.at(2).at(0).toInt(), int(SIGINT));
    QCOMPARE(int(earlierHandlerRan), 0);
}

void TestTerminationSignals::earlierHandlersComeBackAfterwards_data()
{
    signalArrivesOnTheEventLoop_data();
}

void TestTerminationSignals::earlierHandlersComeBackAfterwards()
{
    QFETCH(int, signalNumber);
    {
        TerminationSignals watcher;
        QVERIFY(watcher.isActive());
    }
    std::raise(signalNumber);
    QCOMPARE(int(earlierHandlerRan), signalNumber);
}

void TestTerminationSignals::onlyOneObjectHoldsTheSignals()
{
    TerminationSignals first;
    QSignalSpy firstSpy(&first, &TerminationSignals::received);
    {
        TerminationSignals second;
        QVERIFY(!second.isActive());
    }
    // The second one's end must not have taken the signals from the first.
    std::raise(SIGTERM);
    QVERIFY(firstSpy.wait(2000));
    QCOMPARE(int(earlierHandlerRan), 0);
}

QTEST_GUILESS_MAIN(TestTerminationSignals)
#include "tst_terminationsignals.moc"
