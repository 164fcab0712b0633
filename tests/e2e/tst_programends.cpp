// The program itself ends cleanly when asked to: SIGTERM, SIGINT and SIGHUP close its port as
// "Cerrar" does, so that no lock file stays behind and the next program, of any user, can open
// the device; and a lock file left by a crash does not keep the port from opening again.
#include "tests/support/lockfiles.h"
#include "tests/support/processusage.h"
#include "tests/support/pseudoterminal.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTest>

#include <csignal>
#include <sys/stat.h>

using namespace std::chrono_literals;

namespace {

// The program on "Com1" = `device`, offscreen, run through `wrapper` (a command and its
// arguments put in front, such as setpriv) when one is given. It logs the frames it shows,
// which the test reads from its output.
bool startProgram(QProcess &program, const QString &device, const QStringList &wrapper = {})
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QUORVEL_COM1"), device);
    environment.insert(QStringLiteral("QT_LOGGING_RULES"),
                       QStringLiteral("quorvel.frames.info=true"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // No clock service is asked anything here; a bus address that leads nowhere keeps it so.
    environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"),
                       QStringLiteral("unix:path=/nonexistent/quorvel-test-bus"));
    program.setProcessEnvironment(environment);
    program.setProcessChannelMode(QProcess::MergedChannels);
    QStringList command = wrapper + QStringList{QStringLiteral(QUORVEL_PROGRAM)};
    program.start(command.takeFirst(), command);
    return program.waitForStarted(10000);
}

// Whether the program showed the frame "$`text`" CR LF within `time`.
bool showsWithin(QProcess &program, const QByteArray &text, std::chrono::milliseconds time)
{
    QByteArray output;
    return QTest::qWaitFor(
        [&] {
            output += program.readAll();
            return output.contains("frame shown: " + text);
        },
        int(time.count()));
}

// Whether the program has opened `device` within `time`.
bool opensWithin(const QProcess &program, const QString &device, std::chrono::milliseconds time)
{
    return QTest::qWaitFor([&] { return hasOpen(program.processId(), device); }, int(time.count()));
}

} // namespace

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
    QProcess first;
    QVERIFY(startProgram(first, line.path()));
    QVERIFY2(opensWithin(first, line.path(), 15s), "the program did not open the device");
    QVERIFY2(!existingLockFiles(line.path()).isEmpty(), "QSerialPort keeps no lock file here");

    QCOMPARE(::kill(pid_t(first.processId()), signal), 0);
    QVERIFY(first.waitForFinished(10000));
    QCOMPARE(first.exitStatus(), QProcess::NormalExit);
    QCOMPARE(first.exitCode(), 0);
    QCOMPARE(existingLockFiles(line.path()), QStringList());

    // Another user, without any capability, opens the same device next.
    const QByteArray path = line.path().toLocal8Bit();
    QCOMPARE(::chmod(path.constData(), 0666), 0);
    QProcess second;
    QVERIFY(
        startProgram(second, line.path(),
                     {QStringLiteral("setpriv"), QStringLiteral("--reuid=nobody"),
                      QStringLiteral("--regid=nogroup"), QStringLiteral("--clear-groups"),
                      QStringLiteral("--inh-caps=-all"), QStringLiteral("--bounding-set=-all")}));
    QVERIFY2(opensWithin(second, line.path(), 15s),
             "a user's program could not open the device after the first one ended");
    const QByteArray frame("12:00:00,06/15/2007,5,1");
    QVERIFY(line.send("$" + frame + "\r\n"));
    QVERIFY2(showsWithin(second, frame, 5s), "the user's program showed no frame");
    QCOMPARE(::kill(pid_t(second.processId()), SIGTERM), 0);
    QVERIFY(second.waitForFinished(10000));
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(existingLockFiles(line.path()), QStringList());
}

void TestProgramEnds::lockFileOfACrashIsStale()
{
    PseudoTerminal line;
    QVERIFY(line.isValid());
    QProcess crashed;
    QVERIFY(startProgram(crashed, line.path()));
    QVERIFY2(opensWithin(crashed, line.path(), 15s), "the program did not open the device");
    crashed.kill(); // SIGKILL: nothing closes the port
    QVERIFY(crashed.waitForFinished(10000));
    QVERIFY2(!existingLockFiles(line.path()).isEmpty(), "the crash left no lock file to test with");

    QProcess next;
    QVERIFY(startProgram(next, line.path()));
    QVERIFY2(opensWithin(next, line.path(), 15s),
             "the lock file of the crashed program kept the port from opening");
    QCOMPARE(::kill(pid_t(next.processId()), SIGTERM), 0);
    QVERIFY(next.waitForFinished(10000));
    QCOMPARE(next.exitCode(), 0);
    QCOMPARE(existingLockFiles(line.path()), QStringList());
}

QTEST_GUILESS_MAIN(TestProgramEnds)
#include "tst_programends.moc"
