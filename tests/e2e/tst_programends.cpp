// The program itself ends cleanly when asked to: SIGTERM, SIGINT and SIGHUP close its port as
// "Cerrar" does, so that no lock file stays behind and the next program, of any user, can open
// the device; and a lock file left by a crash does not keep the port from opening again.
#include "tests/support/lockfiles.h"
#include "tests/support/pseudoterminal.h"
#include "tests/support/windowprogram.h"

#include <QTest>

#include <csignal>
#include <sys/stat.h>

using namespace std::chrono_literals;

class TestProgramEnds : public QObject
{
    Q_OBJECT

private slots:
    void signalClosesThePortAndEndsWithStatusZero_data();
    void signalClosesThePortAndEndsWithStatusZero();
    void lockFileOfACrashIsStale();
};

void TestProgramEnds::signalClosesThePortAndEndsWithStatusZero_data()
{
    QTest::addColumn<int>("signal");

    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
    QTest::newRow("SIGHUP") << SIGHUP;
}

void TestProgramEnds::signalClosesThePortAndEndsWithStatusZero()
{
    QFETCH(int, signal);

    // A device whose side of the line stays open, as a real one would.
    PseudoTerminal line;
    QVERIFY(line.isValid());
    WindowProgram first;
    QVERIFY(first.start(line.path()));
    QVERIFY2(first.opensWithin(line.path(), 15s), "the program did not open the device");
    QVERIFY2(!existingLockFiles(line.path()).isEmpty(), "QSerialPort keeps no lock file here");

    QCOMPARE(first.stopWith(signal), 0);
    QCOMPARE(existingLockFiles(line.path()), QStringList());

    // Another user, without any capability, opens the same device next.
    const QByteArray path = line.path().toLocal8Bit();
    QCOMPARE(::chmod(path.constData(), 0666), 0);
    WindowProgram second;
    WindowProgram::Options asNobody;
    asNobody.wrapper =
        QStringList{QStringLiteral("setpriv"),         QStringLiteral("--reuid=nobody"),
                    QStringLiteral("--regid=nogroup"), QStringLiteral("--clear-groups"),
                    QStringLiteral("--inh-caps=-all"), QStringLiteral("--bounding-set=-all")};
    QVERIFY(second.start(line.path(), asNobody));
    QVERIFY2(second.opensWithin(line.path(), 15s),
             "a user's program could not open the device after the first one ended");
    const QByteArray frame("12:00:00,06/15/2007,5,1");
    QVERIFY(line.send("$" + frame + "\r\n"));
    // A cold start of a sanitized build on a loaded machine may take a few seconds.
    QVERIFY2(second.showsWithin(frame, 15s), "the user's program showed no frame");
    QCOMPARE(second.stopWith(SIGTERM), 0);
    QCOMPARE(existingLockFiles(line.path()), QStringList());
}

void TestProgramEnds::lockFileOfACrashIsStale()
{
    PseudoTerminal line;
    QVERIFY(line.isValid());
    WindowProgram crashed;
    QVERIFY(crashed.start(line.path()));
    QVERIFY2(crashed.opensWithin(line.path(), 15s), "the program did not open the device");
    crashed.process.kill(); // SIGKILL: nothing closes the port
    QVERIFY(crashed.process.waitForFinished(10000));
    QVERIFY2(!existingLockFiles(line.path()).isEmpty(), "the crash left no lock file to test with");

    WindowProgram next;
    QVERIFY(next.start(line.path()));
    QVERIFY2(next.opensWithin(line.path(), 15s),
             "the lock file of the crashed program kept the port from opening");
    QCOMPARE(next.stopWith(SIGTERM), 0);
    QCOMPARE(existingLockFiles(line.path()), QStringList());
}

QTEST_GUILESS_MAIN(TestProgramEnds)
#include "tst_programends.moc"
