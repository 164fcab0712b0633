// quorvel-refclock with the real chronyd from Debian: chronyd selects the device and estimates
// its offset within 5 ms, serves that time over NTP on the loopback address, and keeps that
// after starting late, a device unplugged and plugged in again, and a line with noise, broken
// frames and pauses inside frames; a device whose clock jumps or stands still is not followed.
// Calibration measures a late device's delay against a chronyd kept in sync by another
// chronyd serving this machine's clock, and refuses a chronyd that is not in sync or follows
// the device. chronyd can never touch this machine's clock (see ChronydProcess).

#include "tests/refclock/refclockchain.h"

#include <QTest>

#include <algorithm>

namespace {

constexpr double SimulatedOffset = 0.25; // seconds the device is ahead
constexpr double Tolerance = 0.005;      // the target: chrony within 5 ms
constexpr int SelectionTimeout = 60000;  // ms
const QStringList Device{QStringLiteral("--offset"), QStringLiteral("0.25")};

QString describe(RefclockChain &chain)
{
    return QStringLiteral("refclock:\n%1\nchronyd:\n%2")
        .arg(chain.refclock.log(), chain.chronyd.log());
}

// Waits for chronyd to select the device, lets it settle for `settleMs` and returns its
// estimate of the device's offset; fails the test when there is none.
#define VERIFY_ESTIMATE(chain, settleMs)                                                           \
    do {                                                                                           \
        const qint64 selectedAfter = (chain).chronyd.waitForSelection(SelectionTimeout);           \
        QVERIFY2(selectedAfter >= 0, qPrintable(describe(chain)));                                 \
        qInfo("chronyd selected the device after %.1f s", double(selectedAfter) / 1000);           \
        (chain).refclock.runFor(settleMs);                                                         \
        const std::optional<double> estimate = (chain).chronyd.estimatedOffset();                  \
        QVERIFY2(estimate, qPrintable(describe(chain)));                                           \
        qInfo("chronyd's estimate: %+.6f s, simulated %+.6f s, off by %+.3f ms", *estimate,        \
              SimulatedOffset, (*estimate - SimulatedOffset) * 1000);                              \
        QVERIFY2(qAbs(*estimate - SimulatedOffset) <= Tolerance, qPrintable(describe(chain)));     \
    } while (false)

} // namespace

class TestRefclockChrony : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void selectsTheDeviceAndServesItsTime();
    void chronyStartedAfterTheRefclock();
    void deviceUnpluggedAndBack();
    void noisyBrokenSplitLine();
    void deviceThatGoesWrongIsNotFollowed_data();
    void deviceThatGoesWrongIsNotFollowed();
    void calibrationMeasuresTheDelay();
    void calibrationRefusesChrony_data();
    void calibrationRefusesChrony();
};

void TestRefclockChrony::initTestCase()
{
    const QString reason = Chronyd::unavailableReason();
    if (!reason.isEmpty())
        QSKIP(qPrintable(reason));
}

void TestRefclockChrony::selectsTheDeviceAndServesItsTime()
{
    RefclockChain chain;
    const quint16 ntpPort = Chronyd::freeUdpPort();
    QVERIFY(ntpPort != 0);
    START_CHRONYD(chain.chronyd, chain.refclockSocket(), ntpPort);
    QVERIFY(chain.plug(Device));
    QVERIFY(chain.startRefclock());
    VERIFY_ESTIMATE(chain, 5000);

    // A second chronyd, query-only and also without CAP_SYS_TIME, asks the first over NTP.
    // Right after selection the server answers "no suitable source" until its root dispersion
    // settles: ask again until an answer comes.
    QDeadlineTimer deadline(60000);
    std::optional<double> served;
    QString output;
    while (!served && !deadline.hasExpired()) {
        served = Chronyd::queryOverNtp(ntpPort, 8, &output);
        chain.refclock.lines();
    }
    QVERIFY2(served, qPrintable(output + describe(chain)));
    qInfo("served over NTP: %+.6f s, simulated %+.6f s, off by %+.3f ms", *served, SimulatedOffset,
          (*served - SimulatedOffset) * 1000);
    QVERIFY2(qAbs(*served - SimulatedOffset) <= Tolerance, qPrintable(output));
    QCOMPARE(chain.refclock.stopWith(SIGTERM), 0);
}

void TestRefclockChrony::chronyStartedAfterTheRefclock()
{
    RefclockChain chain;
    QVERIFY(chain.plug(Device));
    QVERIFY(chain.startRefclock());
    QVERIFY2(chain.refclock.waitForLines(QStringLiteral("no escucha"), 1, 5000),
             qPrintable(chain.refclock.log()));
    chain.refclock.runFor(3000);

    START_CHRONYD(chain.chronyd, chain.refclockSocket());
    VERIFY_ESTIMATE(chain, 5000);
    QCOMPARE(chain.refclock.linesWith(QStringLiteral("no escucha")).size(), 1);
    QCOMPARE(chain.refclock.linesWith(QStringLiteral("recibe")).size(), 1);
    QCOMPARE(chain.refclock.stopWith(SIGTERM), 0);
}

void TestRefclockChrony::deviceUnpluggedAndBack()
{
    RefclockChain chain;
    START_CHRONYD(chain.chronyd, chain.refclockSocket());
    QVERIFY(chain.plug(Device));
    QVERIFY(chain.startRefclock());
    VERIFY_ESTIMATE(chain, 2000);

    chain.unplug();
    QVERIFY2(chain.refclock.waitForLines(QStringLiteral("perdió"), 1, 3000),
             qPrintable(chain.refclock.log()));
    chain.refclock.runFor(5000);
    QVERIFY(chain.plug(Device));
    QVERIFY2(chain.refclock.waitForLines(QStringLiteral("Leyendo"), 2, 3000),
             qPrintable(chain.refclock.log()));
    chain.refclock.runFor(3000);
    VERIFY_ESTIMATE(chain, 3000);
    // One line for the loss and one for the return, none for the tries between.
    QCOMPARE(chain.refclock.lines().size(), 4);
    QCOMPARE(chain.refclock.stopWith(SIGTERM), 0);
}

void TestRefclockChrony::noisyBrokenSplitLine()
{
    RefclockChain chain;
    START_CHRONYD(chain.chronyd, chain.refclockSocket());
    QVERIFY(chain.plug(Device
                       + QStringList{QStringLiteral("--noise"), QStringLiteral("--malformed"),
                                     QStringLiteral("--split")}));
    QVERIFY(chain.startRefclock({QStringLiteral("--verbose")}));
    VERIFY_ESTIMATE(chain, 20000);

    const QList<double> offsets = chain.sentOffsets();
    // Every second frame is broken: about half of some 30 s of frames gave a sample.
    QVERIFY2(offsets.size() >= 10, qPrintable(chain.refclock.log()));
    // Signed: a sample dated too early (the "$" stamped before it came, as by the noise before
    // it) reads as the device further ahead, one dated too late (woken late on a busy machine)
    // as less far.
    double early = 0;
    double late = 0;
    for (const double offset : offsets) {
        early = std::max(early, offset - SimulatedOffset);
        late = std::max(late, SimulatedOffset - offset);
    }
    qInfo("%d samples sent, the earliest dated %.3f ms early, the latest %.3f ms late",
          int(offsets.size()), early * 1000, late * 1000);
    // No "$" may be dated by anything that came before it: never more than 5 ms early. How
    // late a busy machine wakes is no fault of the program, and its figure is printed by
    // bench_refclock, which runs this line too; what must never happen even then is a sample
    // dated at the poll that takes its frame, 100 ms and more late.
    QVERIFY2(early <= Tolerance, qPrintable(chain.refclock.log()));
    QVERIFY2(late <= 0.1, qPrintable(chain.refclock.log()));
    QVERIFY(!chain.refclock.linesWith(QStringLiteral("Trama mal formada")).isEmpty());
    QCOMPARE(chain.refclock.stopWith(SIGTERM), 0);
}

void TestRefclockChrony::deviceThatGoesWrongIsNotFollowed_data()
{
    QTest::addColumn<QStringList>("fault");
    QTest::addColumn<QString>("line"); // what the refclock logs of it

    // The jump as measured between two frames' arrivals: 10 s give or take a millisecond.
    QTest::newRow("jump of 10 s") << QStringList{QStringLiteral("--jump"), QStringLiteral("10s@30")}
                                  << QStringLiteral("saltó");
    QTest::newRow("time standing still")
        << QStringList{QStringLiteral("--freeze"), QStringLiteral("30")}
        << QStringLiteral("está parado");
}

void TestRefclockChrony::deviceThatGoesWrongIsNotFollowed()
{
    QFETCH(QStringList, fault);
    QFETCH(QString, line);
    RefclockChain chain;
    START_CHRONYD(chain.chronyd, chain.refclockSocket());
    QVERIFY(chain.plug(Device + fault));
    QVERIFY(chain.startRefclock());
    VERIFY_ESTIMATE(chain, 10000);
    QVERIFY2(chain.refclock.waitForLines(line, 1, 40000), qPrintable(describe(chain)));

    // For 15 s after the fault, chronyd's estimate stays where the device was: it drifts a
    // little on what it had (the figure is printed), where a device followed would have
    // moved it by a second and more.
    double worst = 0;
    for (int second = 0; second < 15; ++second) {
        chain.refclock.runFor(1000);
        if (const std::optional<double> estimate = chain.chronyd.estimatedOffset())
            worst = std::max(worst, qAbs(*estimate - SimulatedOffset));
    }
    qInfo("after the fault chronyd's estimate was at most %.3f ms off", worst * 1000);
    QVERIFY2(worst <= 0.05, qPrintable(describe(chain)));
    QCOMPARE(chain.refclock.linesWith(line).size(), 1);

    // The device agrees again once plugged in anew, working.
    chain.plug(Device);
    QVERIFY2(chain.refclock.waitForLines(QStringLiteral("avanza de nuevo"), 1, 15000),
             qPrintable(describe(chain)));
    VERIFY_ESTIMATE(chain, 5000);
    QCOMPARE(chain.refclock.stopWith(SIGTERM), 0);
}

void TestRefclockChrony::calibrationMeasuresTheDelay()
{
    // This machine's clock, served by one chronyd and followed by another: synchronised to
    // a source other than the device.
    ChronydProcess server;
    const quint16 ntpPort = Chronyd::freeUdpPort();
    QVERIFY(ntpPort != 0);
    START_CHRONYD(server, QStringList{QStringLiteral("local stratum 1")}, ntpPort);
    RefclockChain chain;
    START_CHRONYD(chain.chronyd,
                  QStringList{QStringLiteral("server 127.0.0.1 port %1 iburst "
                                             "minpoll -4 maxpoll -4")
                                  .arg(ntpPort)},
                  quint16(0));
    QVERIFY2(chain.chronyd.waitForServerSync(30000), qPrintable(chain.chronyd.log()));

    // A device 130 ms late, and up to 3 ms later still: half its frames come within
    // 131.5 ms of their second.
    constexpr double Median = 0.1315;
    QVERIFY(
        chain.plug({QStringLiteral("--delay"), QStringLiteral("130ms"), QStringLiteral("--jitter"),
                    QStringLiteral("3ms"), QStringLiteral("--seed"), QStringLiteral("7")}));
    QCOMPARE(chain.calibrate(QStringLiteral("30s"), chain.chronyd.commandSocket()), 0);
    const QString output = chain.calibration.output();
    qInfo().noquote() << output.trimmed();
    const std::optional<double> delay = chain.calibratedDelay();
    QVERIFY2(delay, qPrintable(output + chain.calibration.log()));
    qInfo("calibrated %.4f s, the device's median lateness %.4f s: off by %+.3f ms", *delay, Median,
          (*delay - Median) * 1000);
    QVERIFY2(qAbs(*delay - Median) <= 0.001, qPrintable(output));
    QVERIFY(output.contains(QStringLiteral("Retraso mediano del dispositivo: ")));
    QVERIFY(output.contains(QStringLiteral("frente al reloj del ordenador, que chrony "
                                           "sincroniza con 127.0.0.1.")));

    // Over SNTP, against the chronyd serving this machine's clock on loopback (as on Windows,
    // where nothing else keeps the clock): the same delay.
    const QString ntpServer = QStringLiteral("127.0.0.1:%1").arg(ntpPort);
    QCOMPARE(chain.calibrate(QStringLiteral("20s"), QString(),
                             {QStringLiteral("--sntp-server"), ntpServer}),
             0);
    const QString overSntp = chain.calibration.output();
    const std::optional<double> sntpDelay = chain.calibratedDelay();
    QVERIFY2(sntpDelay && qAbs(*sntpDelay - Median) <= 0.001,
             qPrintable(overSntp + chain.calibration.log()));
    QVERIFY2(overSntp.contains(
                 QStringLiteral("frente a %1 por SNTP (reloj del ordenador a ").arg(ntpServer)),
             qPrintable(overSntp));

    // The service calibrates itself over SNTP too, and --status says so.
    QTemporaryDir stateFolder;
    QVERIFY(chain.refclock.shareIn(stateFolder.filePath(QStringLiteral("share"))));
    QVERIFY(
        chain.startRefclock({QStringLiteral("--sntp-server"), ntpServer, QStringLiteral("--state"),
                             stateFolder.filePath(QStringLiteral("calibration"))}));
    QVERIFY2(
        chain.refclock.waitForLines(
            QStringLiteral("Calibrando %1 frente a %2 por SNTP").arg(chain.devicePath(), ntpServer),
            1, 20000),
        qPrintable(chain.refclock.lines().join(u'\n')));
    RefclockProcess status;
    QVERIFY(status.startByHand({QStringLiteral("--status")}));
    QCOMPARE(status.waitForExit(10000), 0);
    QVERIFY2(status.output().contains(
                 QStringLiteral("SNTP: %1 responde; el reloj del ordenador iba ").arg(ntpServer)),
             qPrintable(status.output()));
    QVERIFY2(status.output().contains(QStringLiteral("calibrando (")), qPrintable(status.output()));
    chain.refclock.stopWith(SIGTERM);

    // With --save, the delay goes into the service's state, never into its settings.
    QTemporaryDir folder;
    const QString settings = folder.filePath(QStringLiteral("calibration"));
    QFile file(settings);
    RefclockChain again;
    QVERIFY(again.plug({QStringLiteral("--delay"), QStringLiteral("130ms")}));
    // Long enough for the ten frames a median needs, after the three that earn trust.
    QCOMPARE(again.calibrate(QStringLiteral("20s"), chain.chronyd.commandSocket(),
                             {QStringLiteral("--save"), QStringLiteral("--state"), settings}),
             0);
    const std::optional<double> saved = again.calibratedDelay();
    QVERIFY2(saved, qPrintable(again.calibration.output() + again.calibration.log()));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString state = QString::fromUtf8(file.readAll());
    QVERIFY2(state.contains(QStringLiteral("\ndelay=%1\n").arg(*saved, 0, 'f', 4)),
             qPrintable(state));
    QVERIFY2(state.contains(QStringLiteral("\nagainst=127.0.0.1\n")), qPrintable(state));
}

void TestRefclockChrony::calibrationRefusesChrony_data()
{
    QTest::addColumn<QString>("chrony"); // none, unsynchronised, device, sntp
    QTest::addColumn<QString>("refusal");

    QTest::newRow("no chrony") << "none"
                               << "No se calibra: no hay chrony (";
    QTest::newRow("not synchronised") << "unsynchronised"
                                      << "No se calibra: chrony no está sincronizado (";
    QTest::newRow("no SNTP answer") << "sntp"
                                    << "No se calibra: sin respuesta SNTP (127.0.0.1:";
    QTest::newRow("following the device")
        << "device"
        << "No se calibra: chrony sigue al propio dispositivo (reloj de referencia "
           "QRVL).";
}

void TestRefclockChrony::calibrationRefusesChrony()
{
    QFETCH(QString, chrony);
    QFETCH(QString, refusal);
    RefclockChain chain;
    QVERIFY(chain.plug(Device));
    QString socket = chain.chronyd.commandSocket(); // nobody there unless started
    if (chrony == u"unsynchronised") {
        // A server that never answers.
        START_CHRONYD(chain.chronyd,
                      QStringList{QStringLiteral("server 127.0.0.1 port %1 minpoll -4 maxpoll -4")
                                      .arg(Chronyd::freeUdpPort())},
                      quint16(0));
    } else if (chrony == u"device") {
        START_CHRONYD(chain.chronyd, chain.refclockSocket());
        QVERIFY(chain.startRefclock());
        QVERIFY2(chain.chronyd.waitForSelection(SelectionTimeout) >= 0,
                 qPrintable(describe(chain)));
        chain.refclock.stopWith(SIGTERM);
    }
    QStringList extra;
    if (chrony == u"sntp") // a port where no server answers
        extra << QStringLiteral("--sntp-server")
              << QStringLiteral("127.0.0.1:%1").arg(Chronyd::freeUdpPort());
    QCOMPARE(chain.calibrate(QStringLiteral("10s"), socket, extra), 1);
    const QString said = chain.calibration.log();
    QVERIFY2(said.contains(refusal), qPrintable(said));
    // It refused before reading the device: nothing measured, nothing printed.
    QCOMPARE(chain.calibration.output(), QString());
}

QTEST_GUILESS_MAIN(TestRefclockChrony)
#include "tst_refclockchrony.moc"
