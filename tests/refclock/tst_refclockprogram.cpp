// The real quorvel-refclock: on a pseudo-terminal, on quorvel-sim behind a device path that
// comes and goes, and sending to a fake chrony that comes and goes.

#include "frametime/clockagreement.h"
#include "serial/deviceserialport.h"
#include "tests/refclock/fakechrony.h"
#include "tests/support/lockfiles.h"
#include "tests/support/pseudoterminal.h"
#include "tests/support/refclockprocess.h"
#include "tests/support/simulatorprocess.h"

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <QThread>
#include <thread>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>

namespace {

// Points the device path `link` at `target` (empty: nothing there, as with no device plugged).
bool plugIn(const QString &link, const QString &target)
{
    QFile::remove(link);
    return target.isEmpty() || QFile::link(target, link);
}

// The offset a sample carries, in seconds, and when it was measured, in seconds since 1970;
// nothing when the datagram is not a chrony sample.
struct Sample
{
    double offset = 0;
    double when = 0;
};

std::optional<Sample> sampleOf(const QByteArray &datagram)
{
    qint64 seconds = 0;
    qint64 micro = 0;
    double offset = 0;
    int magic = 0;
    if (datagram.size() != 40)
        return std::nullopt;
    std::memcpy(&seconds, datagram.constData(), 8);
    std::memcpy(&micro, datagram.constData() + 8, 8);
    std::memcpy(&offset, datagram.constData() + 16, 8);
    std::memcpy(&magic, datagram.constData() + 36, 4);
    if (magic != 0x534f434b)
        return std::nullopt;
    return Sample{offset, double(seconds) + double(micro) / 1e6};
}

} // namespace

class TestRefclockProgram : public QObject
{
    Q_OBJECT

private slots:
    void commandLine_data();
    void commandLine();
    void endsCleanlyOnSignal_data();
    void endsCleanlyOnSignal();
    void followsDeviceAndChronyWithOneLinePerChange();
    void markerAfterNoiseIsDatedAtItsArrival();
    void windowAndRefclockTakeThePortInTurn();
};

void TestRefclockProgram::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("printed"); // on stdout for help, on stderr for a mistake

    QTest::newRow("help") << QStringList{"--help"} << 0 << "--socket <path>";
    QTest::newRow("no port") << QStringList{} << 2 << "--port";
    QTest::newRow("port 9") << QStringList{"--port", "9"} << 2 << "\"9\"";
    QTest::newRow("unknown zone") << QStringList{"--port", "1", "--zone", "Mars/Olympus"} << 2
                                  << "Mars/Olympus";
}

void TestRefclockProgram::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, printed);

    QProcess program;
    program.start(QStringLiteral(QUORVEL_REFCLOCK), arguments);
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), status);
    const QString output = QString::fromLocal8Bit(status == 0 ? program.readAllStandardOutput()
                                                              : program.readAllStandardError());
    QVERIFY2(output.contains(printed), qPrintable(output));
}

void TestRefclockProgram::endsCleanlyOnSignal_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("SIGHUP") << int(SIGHUP);
}

void TestRefclockProgram::endsCleanlyOnSignal()
{
    QFETCH(int, signalNumber);
    QTemporaryDir folder;
    PseudoTerminal line; // its device side stays open all along
    QVERIFY(folder.isValid() && line.isValid());
    FakeChrony chrony(folder.filePath(QStringLiteral("chrony.sock")));
    QVERIFY(chrony.listen());

    RefclockProcess refclock;
    QVERIFY(refclock.start({QStringLiteral("--port"), line.path(), QStringLiteral("--socket"),
                            folder.filePath(QStringLiteral("chrony.sock"))}));
    QVERIFY2(refclock.waitForLines(QStringLiteral("Leyendo"), 1, 5000), qPrintable(refclock.log()));
    // Holding the port, as its lock file shows, and busy with a frame.
    QVERIFY(!existingLockFiles(line.path()).isEmpty());
    // Three frames a second apart: the third, with the device's clock trusted, gives a sample.
    const QDateTime now = QDateTime::currentDateTime();
    for (int frame = 0; frame < ClockAgreement::FramesToAgree; ++frame) {
        if (frame > 0)
            QThread::msleep(1000);
        QVERIFY(line.send(QStringLiteral("$%1,%2,1,0\r\n")
                              .arg(now.addSecs(frame).toString(QStringLiteral("hh:mm:ss")),
                                   now.addSecs(frame).toString(QStringLiteral("MM/dd/yyyy")))
                              .toLatin1()));
    }
    QTRY_COMPARE_WITH_TIMEOUT(chrony.received().size(), 1, 3000);

    QCOMPARE(refclock.stopWith(signalNumber), 0);
    qInfo().noquote() << refclock.log();
    QCOMPARE(existingLockFiles(line.path()), QStringList());
    // It only listens.
    QCOMPARE(line.written(), QByteArray());
}

void TestRefclockProgram::followsDeviceAndChronyWithOneLinePerChange()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString device = folder.filePath(QStringLiteral("device"));
    FakeChrony chrony(folder.filePath(QStringLiteral("chrony.sock")));

    // Neither device nor chrony: one line, however many tries.
    RefclockProcess refclock;
    QVERIFY(refclock.start({QStringLiteral("--port"), device, QStringLiteral("--socket"),
                            folder.filePath(QStringLiteral("chrony.sock"))}));
    refclock.runFor(4500);
    QCOMPARE(refclock.lines().size(), 1);
    QVERIFY(refclock.lines().at(0).contains(QStringLiteral("no disponible")));

    // The device is plugged in: opened at the next try, 2 s at most later; its third frame
    // (the first trusted) finds chrony not listening.
    QProcess first;
    QVERIFY(plugIn(device,
                   startSimulator(first, {QStringLiteral("--offset"), QStringLiteral("0.25")})));
    QVERIFY2(refclock.waitForLines(QStringLiteral("Leyendo"), 1, 3000), qPrintable(refclock.log()));
    QVERIFY2(refclock.waitForLines(QStringLiteral("no escucha"), 1, 5000),
             qPrintable(refclock.log()));
    refclock.runFor(2500);
    QCOMPARE(refclock.lines().size(), 3);

    // chrony comes: the next frame's sample reaches it.
    QVERIFY(chrony.listen());
    QVERIFY2(refclock.waitForLines(QStringLiteral("recibe"), 1, 3000), qPrintable(refclock.log()));
    refclock.runFor(2000);
    const QByteArrayList received = chrony.received();
    QVERIFY(received.size() >= 2);
    const double now = double(QDateTime::currentMSecsSinceEpoch()) / 1000;
    for (const QByteArray &datagram : received) {
        const std::optional<Sample> sample = sampleOf(datagram);
        QVERIFY(sample);
        QVERIFY2(qAbs(sample->offset - 0.25) < 0.05, qPrintable(QString::number(sample->offset)));
        QVERIFY(sample->when > now - 4 && sample->when <= now);
    }

    // Unplugged: one line, none for the tries that follow.
    QVERIFY(stopWith(first, SIGTERM));
    QVERIFY2(refclock.waitForLines(QStringLiteral("perdió"), 1, 3000), qPrintable(refclock.log()));
    refclock.runFor(4500);
    QCOMPARE(refclock.lines().size(), 5);

    // Plugged in again: read again, and samples flow.
    QProcess second;
    QVERIFY(plugIn(device,
                   startSimulator(second, {QStringLiteral("--offset"), QStringLiteral("0.25")})));
    QVERIFY2(refclock.waitForLines(QStringLiteral("Leyendo"), 2, 3000), qPrintable(refclock.log()));
    const qsizetype before = chrony.received().size();
    QTRY_VERIFY_WITH_TIMEOUT(chrony.received().size() > before, 5000);

    // chrony goes away: one line while the device is still read.
    chrony.close();
    QVERIFY2(refclock.waitForLines(QStringLiteral("no escucha"), 2, 3000),
             qPrintable(refclock.log()));
    refclock.runFor(2500);
    QCOMPARE(refclock.lines().size(), 7);

    QCOMPARE(refclock.stopWith(SIGTERM), 0);
    qInfo().noquote() << refclock.log();
    QCOMPARE(refclock.lines().size(), 8);
    QVERIFY(stopWith(second, SIGTERM));
}

void TestRefclockProgram::markerAfterNoiseIsDatedAtItsArrival()
{
    // The test plays the device: a few noise bytes just after a whole second, then 30 ms later a
    // frame naming that second. The frame's "$" is late, and the sample must say by how much; a
    // "$" stamped when the noise came would make it look 30 ms earlier than it was.
    using namespace std::chrono;
    constexpr milliseconds Gap(30);
    QTemporaryDir folder;
    PseudoTerminal line;
    QVERIFY(folder.isValid() && line.isValid());
    FakeChrony chrony(folder.filePath(QStringLiteral("chrony.sock")));
    QVERIFY(chrony.listen());
    RefclockProcess refclock;
    QVERIFY(refclock.start({QStringLiteral("--port"), line.path(), QStringLiteral("--socket"),
                            folder.filePath(QStringLiteral("chrony.sock"))}));
    QVERIFY2(refclock.waitForLines(QStringLiteral("Leyendo"), 1, 5000), qPrintable(refclock.log()));

    // The noise comes at a different moment of the 100 ms poll in each round, so that neither
    // the poll nor the reading thread's gathering lines up with it the same way twice.
    QList<double> expected; // the true offset of each frame, in seconds
    for (int round = 0; round < 10; ++round) {
        const qint64 second = QDateTime::currentMSecsSinceEpoch() / 1000 + 1;
        const qint64 noiseAt = second * 1000 + round * 10;
        while (QDateTime::currentMSecsSinceEpoch() < noiseAt)
            QThread::usleep(200);
        QVERIFY(line.send(QByteArray("\x01\x7f\x10")));
        QThread::msleep(Gap.count());
        const QDateTime named = QDateTime::fromSecsSinceEpoch(second);
        const QByteArray frame = QStringLiteral("$%1,%2,%3,%4\r\n")
                                     .arg(named.toString(QStringLiteral("hh:mm:ss")),
                                          named.toString(QStringLiteral("MM/dd/yyyy")))
                                     .arg(named.date().dayOfWeek())
                                     .arg(named.isDaylightTime() ? 1 : 0)
                                     .toLatin1();
        const qint64 sentMicro =
            duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
        // At the line's pace, one character after another, as a device sends.
        const auto start = steady_clock::now();
        for (qsizetype c = 0; c < frame.size(); ++c) {
            std::this_thread::sleep_until(start + c * CharacterTime);
            QVERIFY(line.send(frame.mid(c, 1)));
        }
        expected.append(double(second * 1'000'000 - sentMicro) / 1e6);
        refclock.runFor(300);
    }
    // The first two frames only earn the device's clock its trust.
    expected = expected.mid(ClockAgreement::FramesToAgree - 1);
    QTRY_COMPARE_WITH_TIMEOUT(chrony.received().size(), expected.size(), 3000);

    // How much earlier than true each sample made the "$" (positive: stamped before it came).
    double earliest = -1e9;
    double latest = 1e9;
    for (qsizetype i = 0; i < expected.size(); ++i) {
        const std::optional<Sample> sample = sampleOf(chrony.received().at(i));
        QVERIFY(sample);
        const double early = sample->offset - expected.at(i);
        earliest = std::max(earliest, early);
        latest = std::min(latest, early);
    }
    qInfo("8 frames 30 ms after noise: \"$\" stamped from %+.3f to %+.3f ms early", latest * 1000,
          earliest * 1000);
    QCOMPARE(refclock.stopWith(SIGTERM), 0);
    // Late only by the time it takes to be woken, never early.
    QVERIFY2(latest > -0.05, qPrintable(QString::number(latest)));
    QVERIFY2(earliest <= 0.005, qPrintable(QString::number(earliest)));
}

void TestRefclockProgram::windowAndRefclockTakeThePortInTurn()
{
    QTemporaryDir folder;
    PseudoTerminal line;
    QVERIFY(folder.isValid() && line.isValid());
    // The window's serial port holds the device first: the refclock cannot open it.
    DeviceSerialPort window;
    window.setDevicePath(line.path());
    QCOMPARE(window.setPortOpen(true), int(SerialOk));
    RefclockProcess refclock;
    QVERIFY(refclock.start({QStringLiteral("--port"), line.path(), QStringLiteral("--socket"),
                            folder.filePath(QStringLiteral("chrony.sock"))}));
    QVERIFY2(refclock.waitForLines(QStringLiteral("no disponible"), 1, 5000),
             qPrintable(refclock.log()));
    refclock.runFor(2500);
    QCOMPARE(refclock.linesWith(QStringLiteral("Leyendo")).size(), 0);

    // The window lets go: the refclock takes the port at its next try, and now the window
    // cannot open it.
    QCOMPARE(window.setPortOpen(false), int(SerialOk));
    QVERIFY2(refclock.waitForLines(QStringLiteral("Leyendo"), 1, 3000), qPrintable(refclock.log()));
    QVERIFY(window.setPortOpen(true) > SerialOk);

    QCOMPARE(refclock.stopWith(SIGTERM), 0);
    QCOMPARE(window.setPortOpen(true), int(SerialOk));
}

QTEST_GUILESS_MAIN(TestRefclockProgram)
#include "tst_refclockprogram.moc"
