// The real quorvel-refclock: on a pseudo-terminal, on quorvel-sim behind a device path that
// comes and goes, and sending to a fake chrony that comes and goes; and the window reading the
// device through it, beside clients that misbehave.

#include "frametime/clockagreement.h"
#include "refclock/chronysocket.h"
#include "refclock/refclocklog.h"
#include "refclock/refclockoptions.h"
#include "refclock/refclockservice.h"
#include "serial/deviceserialport.h"
#include "share/serviceclientport.h"
#include "share/shareprotocol.h"
#include "tests/refclock/fakechrony.h"
#include "tests/support/environmentsetting.h"
#include "tests/support/linereader.h"
#include "tests/support/lockfiles.h"
#include "tests/support/pseudoterminal.h"
#include "tests/support/refclockprocess.h"
#include "tests/support/simulatorprocess.h"
#include "tests/support/windowonline.h"
#include "tools/sim/frametext.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <QMutex>
#include <QThread>
#include <QTimeZone>
#include <thread>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <grp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

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

// The offset line's "El PC va 2,500 s atrasado" in milliseconds, whatever it says after it of
// the service; nothing for any other text.
std::optional<qint64> computerBehindMs(const QString &offsetLine)
{
    static const QRegularExpression pattern(
        QStringLiteral("^El PC va (\\d+),(\\d{3}) s atrasado( · el servicio .*)?$"));
    const QRegularExpressionMatch match = pattern.match(offsetLine);
    if (!match.hasMatch())
        return std::nullopt;
    return match.captured(1).toLongLong() * 1000 + match.captured(2).toLongLong();
}

// What a process of user `user` in group `group` alone gets connecting to the socket at `path`:
// 0 it connects, 1 it is refused, 2 it could not become that user (-1: it did not run). The
// process is a fork of this one that only makes system calls.
int connectAs(const QString &path, uid_t user, gid_t group)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(path);
    std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
    const pid_t child = ::fork();
    if (child == 0) {
        const int socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
        if (::setgroups(1, &group) != 0 || ::setgid(group) != 0 || ::setuid(user) != 0)
            ::_exit(2);
        ::_exit(::connect(socket, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0
                    ? 0
                    : 1);
    }
    int status = 0;
    if (child <= 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

// Reads `port` until `bytes` have come or `timeoutMs` passed; the chunks read.
QList<ReceivedChunk> readChunks(SerialPort &port, qsizetype bytes, int timeoutMs)
{
    QList<ReceivedChunk> all;
    qsizetype got = 0;
    QDeadlineTimer deadline(timeoutMs);
    while (got < bytes && !deadline.hasExpired()) {
        QList<ReceivedChunk> chunks;
        if (port.input(&chunks) != SerialOk)
            break;
        for (const ReceivedChunk &chunk : std::as_const(chunks))
            got += chunk.bytes.size();
        all += chunks;
        QTest::qWait(10);
    }
    return all;
}

// quorvel-refclock's service built in this process, as the program builds it, on a thread of
// its own so that the test's clients may wait on it: for what only a parameter sets, such as
// a client's bound.
class ServiceOnThread : public RefclockLog
{
public:
    ServiceOnThread(const QString &device, const QString &chronySocket, qint64 clientBuffer)
    {
        m_context.moveToThread(&m_thread);
        m_thread.start();
        QMetaObject::invokeMethod(
            &m_context,
            [=] {
                RefclockOptions options;
                options.devicePath = device;
                m_sink = std::make_unique<ChronySocket>(chronySocket);
                RefclockService::Settings settings{
                    {QTimeZone::systemTimeZone(), device, chronySocket}};
                settings.clientBuffer = clientBuffer;
                m_service =
                    std::make_unique<RefclockService>(options, settings, m_sink.get(), this);
                m_service->start();
            },
            Qt::BlockingQueuedConnection);
    }
    ~ServiceOnThread() override
    {
        QMetaObject::invokeMethod(
            &m_context,
            [this] {
                m_service.reset();
                m_sink.reset();
            },
            Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }
    ServiceOnThread(const ServiceOnThread &) = delete;
    ServiceOnThread &operator=(const ServiceOnThread &) = delete;

    void write(const QString &line) override
    {
        const QMutexLocker lock(&m_mutex);
        m_lines.append(line);
    }
    QStringList linesWith(const QString &text)
    {
        const QMutexLocker lock(&m_mutex);
        return m_lines.filter(text);
    }
    QString log()
    {
        const QMutexLocker lock(&m_mutex);
        return m_lines.join(u'\n');
    }

private:
    QThread m_thread;
    QObject m_context;
    std::unique_ptr<ChronySocket> m_sink;
    std::unique_ptr<RefclockService> m_service;
    QMutex m_mutex;
    QStringList m_lines;
};

QByteArray joined(const QList<ReceivedChunk> &chunks)
{
    QByteArray bytes;
    for (const ReceivedChunk &chunk : chunks)
        bytes += chunk.bytes;
    return bytes;
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
    void clientReadsTheBytesWithTheirArrival();
    void onlyTheSocketsGroupMayConnect();
    void windowReadsThroughTheService();
    void statusTellsHowTheServiceKeepsTime();
    void misbehavingClientIsDropped_data();
    void misbehavingClientIsDropped();
    void windowFollowsTheServiceThroughARestart_data();
    void windowFollowsTheServiceThroughARestart();
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

    RefclockProcess program;
    QVERIFY(program.start(arguments));
    QCOMPARE(program.waitForExit(10000), status);
    const QString output = status == 0 ? program.output() : program.log();
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
    QVERIFY2(refclock.startReading(line.path(), folder.filePath(QStringLiteral("chrony.sock"))),
             qPrintable(refclock.log()));
    // Holding the port, as its lock file shows, and busy with a frame.
    QVERIFY(!existingLockFiles(line.path()).isEmpty());
    // Three frames a second apart: the third, with the device's clock trusted, gives a sample.
    const QDateTime now = QDateTime::currentDateTime();
    for (int frame = 0; frame < ClockAgreement::FramesToAgree; ++frame) {
        if (frame > 0)
            QThread::msleep(1000);
        QVERIFY(line.send(frameText(now.addSecs(frame))));
    }
    QTRY_COMPARE_WITH_TIMEOUT(chrony.received().size(), 1, 3000);

    QCOMPARE(refclock.stopWith(signalNumber), 0);
    qInfo().noquote() << refclock.log();
    QCOMPARE(existingLockFiles(line.path()), QStringList());
    // It only listens.
    QCOMPARE(line.takeWritten(), QByteArray());
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
    QVERIFY2(refclock.startReading(line.path(), folder.filePath(QStringLiteral("chrony.sock"))),
             qPrintable(refclock.log()));

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
        const QByteArray frame = frameText(QDateTime::fromSecsSinceEpoch(second));
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

void TestRefclockProgram::clientReadsTheBytesWithTheirArrival()
{
    QTemporaryDir folder;
    PseudoTerminal line;
    QVERIFY(folder.isValid() && line.isValid());
    RefclockProcess refclock;
    QVERIFY2(
        refclock.shareIn(folder.filePath(QStringLiteral("share")))
            && refclock.startReading(line.path(), folder.filePath(QStringLiteral("chrony.sock"))),
        qPrintable(refclock.log()));

    // The socket is the device's: read and write for its owner and its group only.
    const QString socketPath = shareSocketPath(line.path());
    struct stat status
    {
    };
    QVERIFY(::stat(QFile::encodeName(socketPath).constData(), &status) == 0);
    QCOMPARE(status.st_mode & 0777, 0660u);

    ServiceClientPort client;
    client.setSocketPath(socketPath);
    QCOMPARE(client.setPortOpen(true), int(SerialOk));
    // The greeting names the device; it comes with the stream, never waited for at the open.
    bool open = false;
    QTRY_VERIFY_WITH_TIMEOUT(
        client.portOpen(&open) == SerialOk && open && client.deviceName() == line.path(), 1000);
    const QByteArray frame = frameText(QDateTime::currentDateTime());
    const MonotonicTime sent = MonotonicClock::now();
    QVERIFY(line.send(frame));
    const QList<ReceivedChunk> chunks = readChunks(client, frame.size(), 3000);
    QCOMPARE(joined(chunks), frame);
    // Dated by the service's reading thread as the bytes came, on the clock this process
    // reads too: the "$" within a few milliseconds of being sent, whatever the polls in
    // between, not at the service's poll nor at this read.
    using namespace std::chrono;
    const auto late = chunks.constFirst().arrivalOf(0) - sent;
    qInfo("\"$\" dated %.3f ms after it was sent", duration<double, std::milli>(late).count());
    QVERIFY(late > -5ms && late < 20ms);
    QCOMPARE(refclock.stopWith(SIGTERM), 0);
}

void TestRefclockProgram::onlyTheSocketsGroupMayConnect()
{
    if (::geteuid() != 0)
        QSKIP("Needs root, to try the socket as other users");
    QTemporaryDir folder;
    PseudoTerminal line;
    QVERIFY(folder.isValid() && line.isValid());
    // The folder may be searched by all, as /run/quorvel-refclock is.
    QVERIFY(QFile::setPermissions(folder.path(), QFile::ReadOwner | QFile::WriteOwner
                                                     | QFile::ExeOwner | QFile::ExeGroup
                                                     | QFile::ExeOther));
    RefclockProcess refclock;
    QVERIFY2(
        refclock.shareIn(folder.filePath(QStringLiteral("share")))
            && refclock.startReading(line.path(), folder.filePath(QStringLiteral("chrony.sock"))),
        qPrintable(refclock.log()));

    // The device's group, or the service's when the service could not give it that one (it
    // says so); read and write for owner and group only.
    const QString socketPath = shareSocketPath(line.path());
    struct stat socketStatus
    {
    };
    struct stat deviceStatus
    {
    };
    QVERIFY(::stat(QFile::encodeName(socketPath).constData(), &socketStatus) == 0);
    QVERIFY(::stat(QFile::encodeName(line.path()).constData(), &deviceStatus) == 0);
    QCOMPARE(socketStatus.st_mode & 0777, 0660u);
    QVERIFY2(socketStatus.st_gid == deviceStatus.st_gid
                 || refclock.linesWith(QStringLiteral("no pasó al grupo")).size() == 1,
             qPrintable(refclock.log()));

    constexpr uid_t Nobody = 65534;
    constexpr gid_t NoGroup = 65534;
    QCOMPARE(connectAs(socketPath, Nobody, socketStatus.st_gid), 0);
    QCOMPARE(connectAs(socketPath, Nobody, NoGroup), 1);
    QCOMPARE(refclock.stopWith(SIGTERM), 0);
}

void TestRefclockProgram::windowReadsThroughTheService()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    FakeChrony chrony(folder.filePath(QStringLiteral("chrony.sock")));
    QVERIFY(chrony.listen());
    QProcess simulator;
    const QString device = folder.filePath(QStringLiteral("device"));
    QVERIFY(plugIn(device,
                   startSimulator(simulator, {QStringLiteral("--offset"), QStringLiteral("2.5")})));
    RefclockProcess refclock;
    QVERIFY2(refclock.shareIn(folder.filePath(QStringLiteral("share")))
                 && refclock.startReading(device, folder.filePath(QStringLiteral("chrony.sock"))),
             qPrintable(refclock.log()));

    // The window on "Com1", the same device: it reads through the service, with no message.
    WindowOnLine rig;
    rig.nameDevice(device);
    rig.form.Form_Load();
    rig.form.show();
    QCOMPARE(rig.messages.shown, QStringList());
    QVERIFY(rig.shared.throughService());
    QVERIFY(rig.portIsOpen());
    QTRY_VERIFY_WITH_TIMEOUT(!rig.labels().constFirst().isEmpty(), 3000);
    // The same frames the device sends (its time, as the simulator says it, 2.5 s ahead) and
    // the same offset as the service's samples, as exact as on the port itself.
    QLabel *offsetLine = rig.control<QLabel>(QStringLiteral("LabelOffset"));
    QTRY_VERIFY_WITH_TIMEOUT(computerBehindMs(offsetLine->text()).has_value(), 3000);
    const qint64 behind = *computerBehindMs(offsetLine->text());
    QVERIFY2(qAbs(behind - 2500) <= 20, qPrintable(offsetLine->text()));
    QTRY_VERIFY_WITH_TIMEOUT(!chrony.received().isEmpty(), 3000);
    const std::optional<Sample> sample = sampleOf(chrony.received().constLast());
    QVERIFY(sample);
    qInfo("window %lld ms behind, service's sample %.3f ms", behind, sample->offset * 1000);
    QVERIFY(qAbs(sample->offset * 1000 - double(behind)) <= 20);
    QCOMPARE(rig.messages.shown, QStringList());

    QCOMPARE(refclock.stopWith(SIGTERM), 0);
    QVERIFY(stopWith(simulator, SIGTERM));
}

void TestRefclockProgram::statusTellsHowTheServiceKeepsTime()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    FakeChrony chrony(folder.filePath(QStringLiteral("chrony.sock")));
    QVERIFY(chrony.listen());
    QProcess simulator;
    const QString device = folder.filePath(QStringLiteral("device"));
    QVERIFY(plugIn(device, startSimulator(simulator, {})));
    // The delay measured for this device, as the state keeps it.
    const QString state = folder.filePath(QStringLiteral("state/calibration"));
    QVERIFY(QDir().mkpath(folder.filePath(QStringLiteral("state"))));
    QFile file(state);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QStringLiteral("device=%1\ndelay=0.1315\nmeasured=2026-12-09T11:00:00Z\n"
                              "against=127.0.0.1\nframes=87\nspread=0.0021\n")
                   .arg(device)
                   .toUtf8());
    file.close();
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray stateBefore = file.readAll();
    file.close();

    // --status with no service: a non-zero exit.
    const QString share = folder.filePath(QStringLiteral("share"));
    RefclockProcess refclock;
    QVERIFY(refclock.shareIn(share));
    const auto status = [](QString *output) {
        QProcess command;
        command.start(QStringLiteral(QUORVEL_REFCLOCK), {QStringLiteral("--status")});
        if (!command.waitForFinished(10000))
            return -1;
        *output =
            QString::fromUtf8(command.readAllStandardOutput() + command.readAllStandardError());
        return command.exitCode();
    };
    QString output;
    QCOMPARE(status(&output), 1);
    QVERIFY2(output.startsWith(QStringLiteral("Ningún servicio quorvel-refclock responde en ")),
             qPrintable(output));

    QVERIFY2(refclock.startReading(device, folder.filePath(QStringLiteral("chrony.sock")),
                                   {QStringLiteral("--state"), state}),
             qPrintable(refclock.log()));
    QVERIFY2(refclock.waitForLines(QStringLiteral("Retraso de %1 calibrado el 2026-12-09: 131,5 "
                                                  "ms.")
                                       .arg(device),
                                   1, 3000),
             qPrintable(refclock.log()));
    QTRY_VERIFY_WITH_TIMEOUT(chrony.received().size() >= 2, 5000);
    QVERIFY2(status(&output) == 0,
             qPrintable(output + QDir(share).entryList(QDir::System).join(u' ')));
    const QStringList lines = output.split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 5);
    QCOMPARE(lines.at(0), QStringLiteral("Dispositivo: %1, abierto.").arg(device));
    QCOMPARE(lines.at(1), QStringLiteral("Reloj del dispositivo: concuerda con el del ordenador."));
    QCOMPARE(lines.at(2), QStringLiteral("Retraso: 131,5 ms, calibrado el 2026-12-09."));
    QVERIFY2(lines.at(3).startsWith(QStringLiteral("Muestras: "))
                 && !lines.at(3).startsWith(QStringLiteral("Muestras: 0 ")),
             qPrintable(lines.at(3)));
    // No chronyd to ask here (chronyc's default finds none).
    QVERIFY2(lines.at(4).startsWith(QStringLiteral("chrony: ")), qPrintable(lines.at(4)));

    // The window reading through the service gets the same state, typed.
    WindowOnLine rig;
    rig.nameDevice(device);
    rig.form.Form_Load();
    QVERIFY(rig.shared.throughService());
    QTRY_VERIFY_WITH_TIMEOUT(rig.shared.service()->serviceState().has_value(), 3000);
    const ServiceState seen = *rig.shared.service()->serviceState();
    QCOMPARE(seen.device, device);
    QCOMPARE(int(seen.delaySource), int(ServiceState::DelaySource::Calibrated));
    QCOMPARE(seen.delay, std::chrono::microseconds(131500));
    QVERIFY(!seen.calibrating);
    // ... and says, after the offset under the receive window, how the service keeps time.
    rig.form.show();
    QVERIFY(rig.shared.keepingTime().has_value());
    auto *offsetLine = rig.control<QLabel>(QStringLiteral("LabelOffset"));
    QTRY_VERIFY2_WITH_TIMEOUT(offsetLine->text().contains(QStringLiteral(" · el servicio ")),
                              qPrintable(offsetLine->text()), 3000);

    QCOMPARE(refclock.stopWith(SIGTERM), 0);
    QCOMPARE(status(&output), 1);
    // A calibrated device is not measured again: its state is as it was.
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), stateBefore);
    QVERIFY(stopWith(simulator, SIGTERM));
}

void TestRefclockProgram::misbehavingClientIsDropped_data()
{
    QTest::addColumn<bool>("writesGarbage"); // otherwise it stops reading
    QTest::newRow("stops reading") << false;
    QTest::newRow("writes garbage") << true;
}

void TestRefclockProgram::misbehavingClientIsDropped()
{
    QFETCH(bool, writesGarbage);
    QTemporaryDir folder;
    PseudoTerminal line;
    QVERIFY(folder.isValid() && line.isValid());
    FakeChrony chrony(folder.filePath(QStringLiteral("chrony.sock")));
    QVERIFY(chrony.listen());
    const QString shareFolder = folder.filePath(QStringLiteral("share"));
    QVERIFY(QDir().mkpath(shareFolder));
    const EnvironmentSetting sharing(ShareFolderVariable, QFile::encodeName(shareFolder));
    // A client's bound far below the service's own, so that a few kilobytes exceed it.
    ServiceOnThread refclock(line.path(), folder.filePath(QStringLiteral("chrony.sock")), 512);
    QTRY_VERIFY_WITH_TIMEOUT(!refclock.linesWith(QStringLiteral("Leyendo")).isEmpty(), 3000);

    const QString socketPath = shareSocketPath(line.path());
    ServiceClientPort reader;
    reader.setSocketPath(socketPath);
    QCOMPARE(reader.setPortOpen(true), int(SerialOk));
    LineReader misbehaving(LineReader::UnixSocket{socketPath});
    QVERIFY(misbehaving.isOpen());

    if (writesGarbage) {
        QVERIFY(misbehaving.write(QByteArray(64, '\x5a')));
    } else {
        // Noise, a kilobyte a poll for a few seconds: far more than the bound and the system's
        // buffer for a client that reads nothing of it. The reader reads it all the while.
        const QByteArray noise(1000, '\x01');
        for (int round = 0; round < 30 && refclock.linesWith("desconectado").isEmpty(); ++round) {
            QVERIFY(line.send(noise));
            readChunks(reader, noise.size(), 150);
        }
    }
    QTRY_VERIFY2_WITH_TIMEOUT(!refclock.linesWith(QStringLiteral("desconectado")).isEmpty(),
                              qPrintable(refclock.log()), 5000);
    QVERIFY2(refclock.linesWith(QStringLiteral("desconectado"))
                 .constFirst()
                 .contains(writesGarbage ? "envió datos" : "no lee"),
             qPrintable(refclock.log()));
    QVERIFY(misbehaving.readToHangUp(std::chrono::milliseconds(3000)));

    // The other client keeps its stream and the service its samples.
    bool open = false;
    QCOMPARE(reader.portOpen(&open), int(SerialOk));
    QVERIFY(open);
    readChunks(reader, 1 << 20, 300); // what is still on its way
    const qsizetype samples = chrony.received().size();
    // Frames a second apart, as many as the device's clock needs to be trusted: the last gives
    // a sample, and the reader gets each.
    const QDateTime now = QDateTime::currentDateTime();
    for (int i = 0; i < ClockAgreement::FramesToAgree; ++i) {
        if (i > 0)
            QThread::msleep(1000);
        const QByteArray frame = frameText(now.addSecs(i));
        QVERIFY(line.send(frame));
        QCOMPARE(joined(readChunks(reader, frame.size(), 3000)), frame);
    }
    QTRY_VERIFY_WITH_TIMEOUT(chrony.received().size() > samples, 3000);
    QCOMPARE(refclock.linesWith(QStringLiteral("desconectado")).size(), 1);
}

void TestRefclockProgram::windowFollowsTheServiceThroughARestart_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::addColumn<bool>("restarted"); // otherwise the user picks the entry again
    QTest::newRow("stopped and started again") << int(SIGTERM) << true;
    // Killed: no end message, and its socket stays behind with nobody listening.
    QTest::newRow("killed, the entry picked again") << int(SIGKILL) << false;
}

void TestRefclockProgram::windowFollowsTheServiceThroughARestart()
{
    QFETCH(int, signalNumber);
    QFETCH(bool, restarted);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    QProcess simulator;
    const QString device = folder.filePath(QStringLiteral("device"));
    const QString chronySocket = folder.filePath(QStringLiteral("chrony.sock"));
    QVERIFY(plugIn(device, startSimulator(simulator, {})));
    RefclockProcess refclock;
    QVERIFY2(refclock.shareIn(folder.filePath(QStringLiteral("share")))
                 && refclock.startReading(device, chronySocket),
             qPrintable(refclock.log()));
    WindowOnLine rig;
    rig.nameDevice(device);
    rig.form.Form_Load();
    rig.form.show();
    QVERIFY(rig.shared.throughService());
    QTRY_VERIFY_WITH_TIMEOUT(!rig.labels().constFirst().isEmpty(), 3000);
    const int streams = rig.shared.streamsBegun();

    // The service ends: the port stays open and silent, with no message, trying again.
    const int status = refclock.stopWith(signalNumber);
    if (signalNumber == SIGTERM) {
        QCOMPARE(status, 0);
        QVERIFY(!QFile::exists(shareSocketPath(device)));
    }
    QTRY_VERIFY_WITH_TIMEOUT(rig.shared.reconnecting(), 3000);
    QVERIFY(rig.portIsOpen());
    const QStringList shown = rig.labels();
    QCOMPARE(rig.messages.shown, QStringList());

    if (restarted) {
        // Back within the grace the service has: the window reads through it again, on its
        // own, a new stream.
        RefclockProcess again;
        QVERIFY2(again.shareIn(folder.filePath(QStringLiteral("share")))
                     && again.startReading(device, chronySocket),
                 qPrintable(again.log()));
        QTRY_VERIFY_WITH_TIMEOUT(!rig.shared.reconnecting(), 5000);
        QVERIFY(rig.shared.throughService());
        QCOMPARE(rig.shared.streamsBegun(), streams + 1);
        QTRY_VERIFY_WITH_TIMEOUT(rig.labels() != shown, 3000);
        QCOMPARE(rig.messages.shown, QStringList());
        QCOMPARE(again.stopWith(SIGTERM), 0);
    } else {
        // Picking the entry again opens the device itself.
        rig.pick(0);
        QCOMPARE(rig.messages.shown, QStringList());
        QVERIFY(!rig.shared.throughService());
        QVERIFY(!rig.shared.reconnecting());
        QVERIFY(rig.portIsOpen());
        QTRY_VERIFY_WITH_TIMEOUT(rig.labels() != shown, 3000);
    }
    QVERIFY(stopWith(simulator, SIGTERM));
}

QTEST_MAIN(TestRefclockProgram)
#include "tst_refclockprogram.moc"
