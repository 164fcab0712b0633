#include "refclock/chronysocket.h"
#include "refclock/refclockoptions.h"
#include "refclock/referenceclock.h"
#include "tests/refclock/recordingrefclocklog.h"
#include "tests/refclock/recordingsink.h"
#include "tools/sim/scriptedserialport.h"

#include <QDateTime>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace std::chrono_literals;
using std::chrono::microseconds;

namespace {

// A sample as chrony reads it (refclock_sock.c), byte for byte.
struct DecodedSample
{
    qint64 seconds = 0;
    qint64 micro = 0;
    double offset = 0;
    int pulse = -1;
    int leap = -1;
    int magic = 0;
};

DecodedSample decode(const QByteArray &bytes)
{
    DecodedSample sample;
    if (bytes.size() != 40)
        return sample;
    std::memcpy(&sample.seconds, bytes.constData(), 8);
    std::memcpy(&sample.micro, bytes.constData() + 8, 8);
    std::memcpy(&sample.offset, bytes.constData() + 16, 8);
    std::memcpy(&sample.pulse, bytes.constData() + 24, 4);
    std::memcpy(&sample.leap, bytes.constData() + 28, 4);
    std::memcpy(&sample.magic, bytes.constData() + 36, 4);
    return sample;
}

UtcTime utc(const QString &isoDateTime)
{
    const QDateTime when = QDateTime::fromString(isoDateTime, Qt::ISODateWithMs);
    return UtcTime(microseconds(when.toMSecsSinceEpoch() * 1000));
}

const QTimeZone Madrid("Europe/Madrid");

// The frame of 12:00:00 on 2007-06-15 in Madrid (summer), `seconds` later.
QString frameAt(int seconds)
{
    const QDateTime when = QDateTime(QDate(2007, 6, 15), QTime(12, 0), Madrid).addSecs(seconds);
    return QStringLiteral("$%1,%2,5,1\r\n")
        .arg(when.toString(QStringLiteral("HH:mm:ss")),
             when.toString(QStringLiteral("MM/dd/yyyy")));
}

// `line` with its time `seconds` earlier, when its time reads; else `line` as it is.
QString earlier(const QString &line, int seconds)
{
    const QTime time = QTime::fromString(line.mid(1, 8), QStringLiteral("HH:mm:ss"));
    if (!line.startsWith(u'$') || !time.isValid())
        return line;
    return line.left(1) + time.addSecs(-seconds).toString(QStringLiteral("HH:mm:ss")) + line.mid(9);
}

// A reference clock on a scripted port and a fake chrony, with the computer's clocks at `now`
// (real time) and its monotonic reading `monotonicNow`; both advance by a second after each
// frame, as they do between a device's frames.
// The line's character time, in seconds to the microsecond: a "$" arrives that long after
// the second it names began.
constexpr double LineLateness = 0.002083;

struct Rig
{
    // How long a new time of the device must hold to be followed, in the rig.
    static constexpr std::chrono::seconds AcceptStepAfter{10};

    ScriptedSerialPort port;
    RecordingSink socket;
    RecordingRefclockLog log;
    MonotonicTime monotonicNow = MonotonicClock::now();
    UtcTime now;
    std::unique_ptr<ReferenceClock> clock;

    explicit Rig(UtcTime realNow = utc(QStringLiteral("2007-06-15T10:00:00.450Z")),
                 microseconds delay = microseconds(0))
        : now(realNow)
    {
        port.open = false;
        clock = std::make_unique<ReferenceClock>(
            &port, &socket, &log,
            ReferenceClock::Settings{Madrid, QStringLiteral("puerto 1"),
                                     QStringLiteral("/run/chrony.quorvel.sock"), false, delay,
                                     QStringLiteral("chrony"), AcceptStepAfter,
                                     utc(QStringLiteral("2007-01-01T00:00:00.000Z"))},
            [this] {
                return ClockPair{monotonicNow, now};
            });
    }

    void polls(int count)
    {
        for (int i = 0; i < count; ++i)
            clock->poll();
    }

    // Has the device send `line`, its "$" arriving `age` before the clocks' reading, and
    // polls until the frame is taken (the next poll is quiet).
    void frame(const QString &line, std::chrono::milliseconds age = 200ms)
    {
        port.chunks = QStringList{line, QString()};
        port.chunkArrival = {monotonicNow - age, monotonicNow};
        polls(2);
        monotonicNow += 1s;
        now += 1s;
    }

    // Sends `line` after the two frames before it, so that the device's clock is trusted
    // (three frames that agree) by the time `line` comes, two seconds from now.
    void trustedFrame(const QString &line)
    {
        frame(earlier(line, 2));
        frame(earlier(line, 1));
        frame(line);
    }

    int opens() const { return int(port.calls.count(QStringLiteral("open"))); }
};

} // namespace

class TestRefclock : public QObject
{
    Q_OBJECT

private slots:
    void options_data();
    void options();
    void badOptions_data();
    void badOptions();
    void sampleLayout_data();
    void sampleLayout();
    void samplesFromFrames_data();
    void samplesFromFrames();
    void calibrationOptions_data();
    void calibrationOptions();
    void serviceOptions();
    void delayOfTheDeviceMovesTheSecondEarlier();
    void busyLineLosesNoFrame();
    void disagreeingDeviceIsNotFollowed_data();
    void disagreeingDeviceIsNotFollowed();
    void opensAgainEveryTwoSecondsAndLogsOnlyChanges();
    void openFailureSaysWhy_data();
    void openFailureSaysWhy();
    void deviceBackAfterAStopIsLogged();
    void portThatFailsToReadIsOpenedAgain();
    void chronyNotListeningIsLoggedOnce();
    void stopClosesThePort();
    void unixSocketReachesChronyAfterRestart();
};

void TestRefclock::options_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("socket");
    QTest::addColumn<QByteArray>("zone"); // empty: the computer's
    QTest::addColumn<bool>("verbose");
    QTest::addColumn<qint64>("delayUs");
    QTest::addColumn<qint64>("acceptStepAfterS");

    const QString conventional = QStringLiteral("/run/chrony.quorvel.sock");
    QTest::newRow("port number") << QStringList{"--port", "1"} << 1 << QString() << conventional
                                 << QByteArray() << false << qint64(0) << qint64(900);
    QTest::newRow("window's name")
        << QStringList{"--port", "Com4"} << 4 << QString() << conventional << QByteArray() << false
        << qint64(0) << qint64(900);
    QTest::newRow("device path, everything set")
        << QStringList{"--port", "/dev/ttyUSB0",     "--socket", "/tmp/q.sock",
                       "--zone", "America/New_York", "--verbose"}
        << 0 << QStringLiteral("/dev/ttyUSB0") << QStringLiteral("/tmp/q.sock")
        << QByteArray("America/New_York") << true << qint64(0) << qint64(900);
    QTest::newRow("= form, delay in seconds")
        << QStringList{"--port=3", "--delay=0.1320"} << 3 << QString() << conventional
        << QByteArray() << false << qint64(132000) << qint64(900);
    QTest::newRow("delay in milliseconds")
        << QStringList{"--port", "2", "--delay", "130ms"} << 2 << QString() << conventional
        << QByteArray() << false << qint64(130000) << qint64(900);
    QTest::newRow("a lasting step followed after 90 s")
        << QStringList{"--port", "1", "--accept-step-after", "90s"} << 1 << QString()
        << conventional << QByteArray() << false << qint64(0) << qint64(90);
}

void TestRefclock::options()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, number);
    QFETCH(QString, device);
    QFETCH(QString, socket);
    QFETCH(QByteArray, zone);
    QFETCH(bool, verbose);
    QFETCH(qint64, delayUs);
    QFETCH(qint64, acceptStepAfterS);

    const ParsedRefclockOptions parsed =
        parseRefclockOptions(QStringList{QStringLiteral("quorvel-refclock")} + arguments);
    QCOMPARE(parsed.error, QString());
    QVERIFY(!parsed.help);
    QCOMPARE(parsed.options.portNumber, number);
    QCOMPARE(parsed.options.devicePath, device);
    QCOMPARE(parsed.options.socketPath, socket);
    QCOMPARE(parsed.options.zone.id(), zone.isEmpty() ? QTimeZone::systemTimeZone().id() : zone);
    QCOMPARE(parsed.options.verbose, verbose);
    QCOMPARE(parsed.options.delay, microseconds(delayUs));
    QCOMPARE(parsed.options.acceptStepAfter, microseconds(std::chrono::seconds(acceptStepAfterS)));
    QVERIFY(!parsed.options.calibrate);
}

void TestRefclock::calibrationOptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<qint64>("lengthS");
    QTest::addColumn<bool>("save");
    QTest::addColumn<QString>("settings");
    QTest::addColumn<QString>("chronySocket");

    // No state named: the program's default, $STATE_DIRECTORY/calibration.
    const QString settings;
    QTest::newRow("ten minutes by default") << QStringList{"--port", "1", "--calibrate"}
                                            << qint64(600) << false << settings << QString();
    QTest::newRow("length, saved") << QStringList{"--port", "1", "--calibrate", "90s", "--save"}
                                   << qint64(90) << true << settings << QString();
    QTest::newRow("length in minutes, elsewhere")
        << QStringList{"--calibrate", "2m",     "--port",          "1",          "--save",
                       "--state",     "/tmp/q", "--chrony-socket", "/tmp/c.sock"}
        << qint64(120) << true << "/tmp/q"
        << "/tmp/c.sock";
}

void TestRefclock::calibrationOptions()
{
    QFETCH(QStringList, arguments);
    QFETCH(qint64, lengthS);
    QFETCH(bool, save);
    QFETCH(QString, settings);
    QFETCH(QString, chronySocket);
    const ParsedRefclockOptions parsed =
        parseRefclockOptions(QStringList{QStringLiteral("quorvel-refclock")} + arguments);
    QCOMPARE(parsed.error, QString());
    QVERIFY(parsed.options.calibrate);
    QCOMPARE(parsed.options.calibrationLength, microseconds(std::chrono::seconds(lengthS)));
    QCOMPARE(parsed.options.save, save);
    QCOMPARE(parsed.options.statePath, settings);
    QVERIFY(!parsed.options.delayGiven);
    QCOMPARE(parsed.options.chronyCommandSocket, chronySocket);
}

void TestRefclock::serviceOptions()
{
    const auto parse = [](const QStringList &arguments) {
        return parseRefclockOptions(QStringList{QStringLiteral("quorvel-refclock")} + arguments);
    };
    // The shipped settings name no delay: the service calibrates itself.
    ParsedRefclockOptions parsed = parse({"--port", "/dev/ttyUSB0"});
    QCOMPARE(parsed.error, QString());
    QVERIFY(!parsed.options.delayGiven);
    QCOMPARE(parsed.options.chronyInterval, std::chrono::milliseconds(60000));
    // A --delay left in the settings by the earlier version keeps working, and wins.
    parsed = parse({"--port", "/dev/ttyUSB0", "--delay", "0"});
    QCOMPARE(parsed.error, QString());
    QVERIFY(parsed.options.delayGiven);
    QCOMPARE(parsed.options.delay, microseconds(0));
    parsed = parse({"--port", "1", "--chrony-check", "10s", "--state", "/tmp/s"});
    QCOMPARE(parsed.error, QString());
    QCOMPARE(parsed.options.chronyInterval, std::chrono::milliseconds(10000));
    QCOMPARE(parsed.options.statePath, QStringLiteral("/tmp/s"));
    parsed = parse({"--status"});
    QCOMPARE(parsed.error, QString());
    QVERIFY(parsed.options.status);
}

void TestRefclock::badOptions_data()
{
    QTest::addColumn<QStringList>("arguments");

    QTest::newRow("no port") << QStringList{"--socket", "/tmp/q.sock"};
    QTest::newRow("port 0") << QStringList{"--port", "0"};
    QTest::newRow("step accepted too soon")
        << QStringList{"--port", "1", "--accept-step-after", "5s"};
    QTest::newRow("port 5") << QStringList{"--port", "5"};
    QTest::newRow("device name without path") << QStringList{"--port", "ttyUSB0"};
    QTest::newRow("port without value") << QStringList{"--port"};
    QTest::newRow("unknown zone") << QStringList{"--port", "1", "--zone", "Mars/Olympus"};
    QTest::newRow("empty socket") << QStringList{"--port", "1", "--socket", ""};
    QTest::newRow("socket path too long")
        << QStringList{"--port", "1", "--socket", "/tmp/" + QString(103, u'x')};
    QTest::newRow("stray argument") << QStringList{"--port", "1", "now"};
    QTest::newRow("unknown option") << QStringList{"--port", "1", "--set-clock"};
    QTest::newRow("the benchmark's old hook") << QStringList{"--port", "1", "--date-at-poll"};
    QTest::newRow("delay of a second") << QStringList{"--port", "1", "--delay", "1"};
    QTest::newRow("delay without unit it knows") << QStringList{"--port", "1", "--delay", "5us"};
    QTest::newRow("save without calibrating") << QStringList{"--port", "1", "--save"};
    QTest::newRow("calibration too short") << QStringList{"--port", "1", "--calibrate", "5s"};
    QTest::newRow("calibration length unreadable")
        << QStringList{"--port", "1", "--calibrate", "long"};
    QTest::newRow("calibrating with a delay")
        << QStringList{"--port", "1", "--calibrate", "--delay", "0.1"};
    QTest::newRow("two lengths") << QStringList{"--port", "1", "--calibrate", "1m", "2m"};
    QTest::newRow("empty state path") << QStringList{"--port", "1", "--calibrate", "--state", ""};
    QTest::newRow("the settings are no longer written")
        << QStringList{"--port", "1", "--calibrate", "--save", "--settings", "/tmp/q"};
    QTest::newRow("status with a port") << QStringList{"--status", "--port", "1"};
    QTest::newRow("chrony asked too often") << QStringList{"--port", "1", "--chrony-check", "0.5"};
    QTest::newRow("chrony check unreadable")
        << QStringList{"--port", "1", "--chrony-check", "often"};
}

void TestRefclock::badOptions()
{
    QFETCH(QStringList, arguments);
    const ParsedRefclockOptions parsed =
        parseRefclockOptions(QStringList{QStringLiteral("quorvel-refclock")} + arguments);
    QVERIFY(!parsed.error.isEmpty());
    QVERIFY(!parsed.help);
}

void TestRefclock::sampleLayout_data()
{
    QTest::addColumn<qint64>("systemMicro"); // since 1970
    QTest::addColumn<qint64>("offsetMicro");
    QTest::addColumn<qint64>("seconds");
    QTest::addColumn<qint64>("micro");
    QTest::addColumn<double>("offset");

    QTest::newRow("device 0.25 s ahead") << Q_INT64_C(1181901600250000) << Q_INT64_C(250000)
                                         << Q_INT64_C(1181901600) << Q_INT64_C(250000) << 0.25;
    QTest::newRow("device 0.25 s behind") << Q_INT64_C(1181901600250000) << Q_INT64_C(-250000)
                                          << Q_INT64_C(1181901600) << Q_INT64_C(250000) << -0.25;
    QTest::newRow("device 3 days ahead") << Q_INT64_C(1181901600000001) << Q_INT64_C(259200000000)
                                         << Q_INT64_C(1181901600) << Q_INT64_C(1) << 259200.0;
    QTest::newRow("before 1970: microseconds stay positive")
        << Q_INT64_C(-1500000) << Q_INT64_C(1) << Q_INT64_C(-2) << Q_INT64_C(500000) << 1e-6;
}

void TestRefclock::sampleLayout()
{
    QFETCH(qint64, systemMicro);
    QFETCH(qint64, offsetMicro);
    QFETCH(qint64, seconds);
    QFETCH(qint64, micro);
    QFETCH(double, offset);

    const QByteArray bytes =
        ChronySample::encode(UtcTime(microseconds(systemMicro)), microseconds(offsetMicro));
    QCOMPARE(bytes.size(), 40);
    QCOMPARE(ChronySample::size(), 40);
    const DecodedSample sample = decode(bytes);
    QCOMPARE(sample.seconds, seconds);
    QCOMPARE(sample.micro, micro);
    QCOMPARE(sample.offset, offset);
    QCOMPARE(sample.pulse, 0);
    QCOMPARE(sample.leap, 0);
    QCOMPARE(sample.magic, 0x534f434b);
    // The padding is zero, as chrony's own senders leave it.
    QCOMPARE(bytes.mid(32, 4), QByteArray(4, '\0'));
}

void TestRefclock::samplesFromFrames_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("computerNow"); // the computer's clock when the frame is taken
    QTest::addColumn<bool>("sample");
    QTest::addColumn<QString>("arrival"); // the computer's clock at the "$"
    QTest::addColumn<double>("offset");   // how far the device is ahead, in seconds

    // The "$" arrives 200 ms before the frame is taken.
    QTest::newRow("summer, device 0.25 s behind")
        << "$12:00:00,06/15/2007,5,1\r\n"
        << "2007-06-15T10:00:00.450Z" << true << "2007-06-15T10:00:00.250Z" << -0.25;
    QTest::newRow("winter, device 3 days ahead")
        << "$09:30:00,01/18/2007,4,0\r\n"
        << "2007-01-15T08:29:59.700Z" << true << "2007-01-15T08:29:59.500Z" << 259200.5;
    QTest::newRow("autumn hour twice, summer flag")
        << "$02:30:00,10/28/2007,7,1\r\n"
        << "2007-10-28T00:30:00.200Z" << true << "2007-10-28T00:30:00.000Z" << 0.0;
    QTest::newRow("autumn hour twice, winter flag")
        << "$02:30:00,10/28/2007,7,0\r\n"
        << "2007-10-28T00:30:00.200Z" << true << "2007-10-28T00:30:00.000Z" << 3600.0;
    QTest::newRow("hour skipped in spring") << "$02:30:00,03/25/2007,7,0\r\n"
                                            << "2007-03-25T01:30:00.200Z" << false << "" << 0.0;
    QTest::newRow("impossible date") << "$12:00:00,02/30/2007,5,0\r\n"
                                     << "2007-03-02T11:00:00.200Z" << false << "" << 0.0;
    QTest::newRow("garbled time") << "$0H:4F:3A,06/15/2007,5,1\r\n"
                                  << "2007-06-15T10:00:00.200Z" << false << "" << 0.0;
    QTest::newRow("summer field missing") << "$12:00:00,06/15/2007,5\r\n"
                                          << "2007-06-15T10:00:00.200Z" << false << "" << 0.0;
    QTest::newRow("all fields empty") << "$,,,\r\n"
                                      << "2007-06-15T10:00:00.200Z" << false << "" << 0.0;
    QTest::newRow("cut short") << "$07:4"
                               << "2007-06-15T10:00:00.200Z" << false << "" << 0.0;
}

void TestRefclock::samplesFromFrames()
{
    QFETCH(QString, line);
    QFETCH(QString, computerNow);
    QFETCH(bool, sample);
    QFETCH(QString, arrival);
    QFETCH(double, offset);

    Rig rig(utc(computerNow) - 2s);
    rig.polls(1); // opens the port
    rig.trustedFrame(line);
    QCOMPARE(rig.socket.attempts, sample ? 1 : 0);
    if (!sample)
        return;
    QCOMPARE(rig.socket.received.size(), 1);
    const RecordingSink::Sample sent = rig.socket.received.constFirst();
    QCOMPARE(sent.stamp, utc(arrival));
    // The "$" arrived the line's character time after the device's second began: the device
    // is that much further ahead than the arrival alone says.
    QCOMPARE(sent.offsetSeconds(), offset + LineLateness);
}

void TestRefclock::delayOfTheDeviceMovesTheSecondEarlier()
{
    // A device that sends its "$" 300 ms into its second was 300 ms further ahead.
    Rig rig(utc(QStringLiteral("2007-06-15T10:00:00.450Z")) - 2s, 300ms);
    rig.polls(1);
    rig.trustedFrame(QStringLiteral("$12:00:00,06/15/2007,5,1\r\n"));
    QCOMPARE(rig.socket.received.size(), 1);
    const RecordingSink::Sample sent = rig.socket.received.constFirst();
    QCOMPARE(sent.stamp, utc(QStringLiteral("2007-06-15T10:00:00.250Z")));
    QCOMPARE(sent.offsetSeconds(), -0.25 + 0.3 + LineLateness);
}

void TestRefclock::busyLineLosesNoFrame()
{
    // A device that also sends other lines, so that no poll is ever quiet, with a stray "$"
    // in noise right after each frame: every frame is taken at its line end.
    Rig rig;
    rig.polls(1);
    const QString other =
        QStringLiteral("$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n");
    for (int second = 0; second < 5; ++second) {
        rig.port.chunks = QStringList{frameAt(second) + QStringLiteral("*$~") + other, other};
        rig.port.chunkArrival = {rig.monotonicNow - 200ms, rig.monotonicNow - 100ms};
        rig.polls(2);
        rig.monotonicNow += 1s;
        rig.now += 1s;
    }
    // The first two frames make the device's clock trusted; the next three are samples.
    QCOMPARE(rig.socket.received.size(), 3);
}

void TestRefclock::disagreeingDeviceIsNotFollowed_data()
{
    // The device's time at each frame, in seconds from 12:00:00, one frame a second.
    QTest::addColumn<QList<int>>("device");
    QTest::addColumn<int>("sent");
    QTest::addColumn<QStringList>("lines"); // what the log says of the device's clock

    // A jump at frame `index`: its new time is followed if it holds for the rig's 10 s, from
    // its "$" on, as the computer's clock reads it.
    const auto jumpedAt = [](int index) {
        const UtcTime resumes = utc(QStringLiteral("2007-06-15T10:00:00.450Z")) + index * 1s - 200ms
                                + Rig::AcceptStepAfter;
        return QStringLiteral("El reloj del dispositivo saltó 10.000 s: no se envían muestras "
                              "hasta que vuelva a la hora anterior, o hasta las %1 si mantiene la "
                              "nueva sin saltos (%2 min).")
            .arg(QDateTime::fromMSecsSinceEpoch(resumes.time_since_epoch().count() / 1000)
                     .toString(QStringLiteral("HH:mm:ss")))
            .arg(std::chrono::duration<double, std::ratio<60>>(Rig::AcceptStepAfter).count());
    };
    const QString jumped = jumpedAt(4);
    const QString stopped = QStringLiteral(
        "El reloj del dispositivo está parado: no se envían muestras hasta que avance de nuevo "
        "con el del ordenador.");
    const QString again = QStringLiteral("El reloj del dispositivo avanza de nuevo con el del "
                                         "ordenador: se vuelven a enviar muestras.");
    QTest::newRow("in step: from the third frame")
        << QList<int>{0, 1, 2, 3, 4} << 3 << QStringList();
    QTest::newRow("jumped for good")
        << QList<int>{0, 1, 2, 3, 14, 15, 16, 17, 18} << 2 << QStringList{jumped};
    QTest::newRow("jumped and back")
        << QList<int>{0, 1, 2, 3, 14, 15, 6, 7, 8, 9} << 4 << QStringList{jumped, again};
    QTest::newRow("standing still") << QList<int>{0, 1, 2, 3, 3, 3, 3} << 2 << QStringList{stopped};
    QTest::newRow("standing still, then on in step")
        << QList<int>{0, 1, 2, 3, 3, 5, 6, 7, 8} << 4 << QStringList{stopped, again};
    QTest::newRow("standing still, then jumping")
        << QList<int>{0, 1, 2, 3, 3, 3, 16} << 2 << QStringList{stopped, jumpedAt(6)};
    QList<int> lasting{0, 1, 2, 3};
    for (int second = 14; second <= 25; ++second)
        lasting.append(second);
    QTest::newRow("a lasting step: followed once it held")
        << lasting << 4
        << QStringList{jumped,
                       QStringLiteral("El reloj del dispositivo mantuvo su nueva hora %1 "
                                      "min sin saltos: se sigue esa hora y se vuelven a "
                                      "enviar muestras.")
                           .arg(std::chrono::duration<double, std::ratio<60>>(Rig::AcceptStepAfter)
                                    .count())};
    // A year before the rig's earliest believable date, 2007-01-01.
    constexpr int YearBack = -365 * 86400;
    const QString oldDate = QStringLiteral(
        "El reloj del dispositivo da una fecha anterior a la de este programa (2006-06-15): no se "
        "envían muestras hasta que dé una fecha posible.");
    QTest::newRow("a date before the program: never a sample")
        << QList<int>{YearBack, YearBack + 1, YearBack + 2, YearBack + 3} << 0
        << QStringList{oldDate};
    QTest::newRow("a date before the program, then the fix")
        << QList<int>{YearBack, YearBack + 1, 2, 3, 4, 5} << 2 << QStringList{oldDate, again};
}

void TestRefclock::disagreeingDeviceIsNotFollowed()
{
    QFETCH(QList<int>, device);
    QFETCH(int, sent);
    QFETCH(QStringList, lines);
    Rig rig;
    rig.polls(1);
    for (const int second : device)
        rig.frame(frameAt(second));
    QCOMPARE(rig.socket.attempts, sent);
    QCOMPARE(rig.log.lines.filter(QStringLiteral("reloj del dispositivo")), lines);
}

void TestRefclock::opensAgainEveryTwoSecondsAndLogsOnlyChanges()
{
    Rig rig;
    rig.port.failOpen = SerialNoDevice;
    rig.polls(1);
    QCOMPARE(rig.opens(), 1);
    QCOMPARE(rig.log.lines.size(), 1); // missing

    // One try every 20 polls of 100 ms; no line for a try that fails the same way.
    rig.polls(19);
    QCOMPARE(rig.opens(), 1);
    rig.polls(1);
    QCOMPARE(rig.opens(), 2);
    rig.polls(60);
    QCOMPARE(rig.opens(), 5);
    QCOMPARE(rig.log.lines.size(), 1);

    // The device is there but cannot be opened: that is a change.
    rig.port.failOpen = SerialOpenFailed;
    rig.polls(20);
    QCOMPARE(rig.log.lines.size(), 2);

    rig.port.failOpen = SerialOk;
    rig.polls(20);
    QVERIFY(rig.port.open);
    QCOMPARE(rig.log.lines.size(), 3); // open
    rig.trustedFrame(QStringLiteral("$12:00:00,06/15/2007,5,1\r\n"));
    QCOMPARE(rig.socket.received.size(), 1);
    QCOMPARE(rig.log.lines.size(), 4); // chrony listening

    // Pulled out: one line, and at once a try to open it again.
    rig.port.open = false;
    rig.port.failOpen = SerialNoDevice;
    const int opensBefore = rig.opens();
    rig.polls(1);
    QCOMPARE(rig.opens(), opensBefore + 1);
    QCOMPARE(rig.log.lines.size(), 5);
    rig.polls(100);
    QCOMPARE(rig.opens(), opensBefore + 6);
    QCOMPARE(rig.log.lines.size(), 5);

    // Back.
    rig.port.failOpen = SerialOk;
    rig.polls(20);
    QVERIFY(rig.port.open);
    QCOMPARE(rig.log.lines.size(), 6);
    // A device plugged in again is another start: its third frame gives the next sample,
    // wherever its clock stands now.
    rig.frame(QStringLiteral("$13:00:01,06/15/2007,5,1\r\n"));
    rig.frame(QStringLiteral("$13:00:02,06/15/2007,5,1\r\n"));
    QCOMPARE(rig.socket.received.size(), 1);
    rig.frame(QStringLiteral("$13:00:03,06/15/2007,5,1\r\n"));
    QCOMPARE(rig.socket.received.size(), 2);
    QCOMPARE(rig.log.lines.size(), 6);
}

void TestRefclock::openFailureSaysWhy_data()
{
    QTest::addColumn<int>("error");
    QTest::addColumn<int>("kind"); // PortFailure::Kind
    QTest::addColumn<QString>("group");
    QTest::addColumn<QString>("holder");
    QTest::addColumn<QString>("why");

    const auto kind = [](PortFailure::Kind value) { return int(value); };
    QTest::newRow("no serial port for the number")
        << int(SerialNoDevice) << kind(PortFailure::Kind::NoDevice) << QString() << QString()
        << "ningún puerto serie de este equipo es el puerto 1";
    QTest::newRow("nothing at the path")
        << int(SerialOpenFailed) << kind(PortFailure::Kind::DeviceMissing) << QString() << QString()
        << "no hay ningún dispositivo en /dev/ttyUSB0";
    QTest::newRow("no permission, and the group to join")
        << int(SerialOpenFailed) << kind(PortFailure::Kind::PermissionDenied) << "dialout"
        << QString() << "sin permiso para abrir /dev/ttyUSB0, que pertenece al grupo dialout";
    QTest::newRow("another program has it")
        << int(SerialOpenFailed) << kind(PortFailure::Kind::InUse) << QString() << "minicom"
        << "otro programa tiene abierto /dev/ttyUSB0: minicom (proceso 4321)";
    QTest::newRow("nothing known")
        << int(SerialOpenFailed) << kind(PortFailure::Kind::None) << QString() << QString()
        << "no se puede abrir: ocupado o sin permiso";
}

void TestRefclock::openFailureSaysWhy()
{
    QFETCH(int, error);
    QFETCH(int, kind);
    QFETCH(QString, group);
    QFETCH(QString, holder);
    QFETCH(QString, why);
    Rig rig;
    rig.port.failOpen = error;
    rig.port.failure =
        PortFailure{PortFailure::Kind(kind),     1, QStringLiteral("/dev/ttyUSB0"), group, holder,
                    holder.isEmpty() ? 0 : 4321, {}};
    rig.polls(1);
    QCOMPARE(rig.log.lines,
             QStringList{QStringLiteral("Dispositivo no disponible en puerto 1 (%1); se reintenta "
                                        "cada 2 s.")
                             .arg(why)});
}

void TestRefclock::deviceBackAfterAStopIsLogged()
{
    Rig rig;
    rig.polls(1);
    for (const int second : {0, 1, 2, 3, 3, 3})
        rig.frame(frameAt(second));
    QCOMPARE(rig.log.lines.filter(QStringLiteral("parado")).size(), 1);
    rig.port.open = false;
    rig.polls(1); // lost, and open again at once
    for (const int second : {6, 7, 8, 9})
        rig.frame(frameAt(second));
    QCOMPARE(rig.socket.attempts, 2 + 2);
    QCOMPARE(rig.log.lines.filter(QStringLiteral("avanza de nuevo")).size(), 1);

    // A lasting step followed, then the device plugged in again: a new start, where nothing
    // is followed anew and so nothing is told of it.
    for (int second = 30; second <= 41; ++second)
        rig.frame(frameAt(second));
    QCOMPARE(rig.log.lines.filter(QStringLiteral("mantuvo su nueva hora")).size(), 1);
    rig.port.open = false;
    rig.polls(1);
    for (const int second : {42, 43, 44})
        rig.frame(frameAt(second));
    QCOMPARE(rig.log.lines.filter(QStringLiteral("mantuvo su nueva hora")).size(), 1);
}

void TestRefclock::portThatFailsToReadIsOpenedAgain()
{
    Rig rig;
    rig.polls(1);
    QVERIFY(rig.port.open);
    rig.port.failInput = SerialNotOpen;
    rig.polls(1);
    QCOMPARE(rig.port.calls.count(QStringLiteral("close")), 1);
    QCOMPARE(rig.opens(), 2);
    rig.port.failInput = SerialOk;
    rig.trustedFrame(QStringLiteral("$12:00:00,06/15/2007,5,1\r\n"));
    QCOMPARE(rig.socket.received.size(), 1);
}

void TestRefclock::chronyNotListeningIsLoggedOnce()
{
    Rig rig;
    rig.polls(1);
    QCOMPARE(rig.log.lines.size(), 1); // open
    rig.frame(frameAt(-2));
    rig.frame(frameAt(-1));
    QCOMPARE(rig.socket.attempts, 0);
    rig.socket.results = {SampleSink::NotListening, SampleSink::NotListening,
                          SampleSink::Failed,       SampleSink::Sent,
                          SampleSink::Sent,         SampleSink::NotListening};
    const QStringList states = {"dropped", "dropped", "dropped", "sent", "sent", "dropped"};
    const QList<int> lines = {2, 2, 2, 3, 3, 4};
    for (qsizetype i = 0; i < states.size(); ++i) {
        rig.frame(QStringLiteral("$12:00:%1,06/15/2007,5,1\r\n").arg(i, 2, 10, QLatin1Char('0')));
        QCOMPARE(rig.socket.attempts, i + 1);
        QCOMPARE(rig.log.lines.size(), lines.at(i));
    }
    QCOMPARE(rig.clock->samplesSent(), 2);
    QCOMPARE(rig.clock->samplesDropped(), 4);
    // The device is read all along.
    QCOMPARE(rig.port.chunks.size(), 0);
}

void TestRefclock::stopClosesThePort()
{
    Rig rig;
    rig.polls(1);
    QVERIFY(rig.port.open);
    rig.clock->stop();
    QVERIFY(!rig.port.open);
}

void TestRefclock::unixSocketReachesChronyAfterRestart()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString path = folder.filePath(QStringLiteral("chrony.sock"));
    ChronySocket socket(path);
    const QByteArray sample = ChronySample::encode(UtcTime(1s), 250ms);
    QString reason;

    // No socket at the path: chrony is not running.
    QCOMPARE(socket.send(UtcTime(1s), 250ms, &reason), SampleSink::NotListening);
    QVERIFY(!reason.isEmpty());

    // chrony binds the path, as its refclock SOCK driver does.
    const auto bindChrony = [&path] {
        const int receiver = ::socket(AF_UNIX, SOCK_DGRAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.toLocal8Bit().constData(), sizeof address.sun_path - 1);
        ::unlink(address.sun_path);
        if (::bind(receiver, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
            ::close(receiver);
            return -1;
        }
        return receiver;
    };
    int chrony = bindChrony();
    QVERIFY(chrony >= 0);
    QCOMPARE(socket.send(UtcTime(1s), 250ms, &reason), SampleSink::Sent);
    char buffer[64];
    QCOMPARE(::recv(chrony, buffer, sizeof buffer, MSG_DONTWAIT), ssize_t(40));
    QCOMPARE(QByteArray(buffer, 40), sample);

    // chrony ends and leaves its socket file behind: nobody listens there.
    ::close(chrony);
    QCOMPARE(socket.send(UtcTime(1s), 250ms, &reason), SampleSink::NotListening);

    // chrony is back on a new socket at the same path: the next sample reaches it.
    chrony = bindChrony();
    QVERIFY(chrony >= 0);
    QCOMPARE(socket.send(UtcTime(1s), 250ms, &reason), SampleSink::Sent);
    QCOMPARE(::recv(chrony, buffer, sizeof buffer, MSG_DONTWAIT), ssize_t(40));
    ::close(chrony);
}

QTEST_GUILESS_MAIN(TestRefclock)
#include "tst_refclock.moc"
