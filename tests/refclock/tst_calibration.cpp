// The pieces of quorvel-refclock --calibrate and of the service's own calibration: what
// chronyd's answers mean, the median, spread and uncertainty of the delays, the lengths on the
// command line, the state written, the self-calibration's course, the SNTP answers it may
// calibrate against, and the state --status shows.

#include "refclock/calibration.h"
#include "refclock/chronystatus.h"
#include "refclock/refclocklog.h"
#include "refclock/refclockoptions.h"
#include "refclock/selfcalibration.h"
#include "refclock/sntp.h"
#include "refclock/statuscommand.h"
#include "share/shareprotocol.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <memory>

using std::chrono::microseconds;

namespace {

// `tracking -c` for a reference `id`/`name` with leap status `leap`.
QString tracking(const QString &id, const QString &name, const QString &leap)
{
    return QStringLiteral("%1,%2,2,1765245000.123456789,-0.000000123,-0.000000050,0.000000100,"
                          "-1.234,0.001,0.010,0.000012345,0.000123,16.0,%3\n")
        .arg(id, name, leap);
}

} // namespace

class TestCalibration : public QObject
{
    Q_OBJECT

private slots:
    void chronyStatus_data();
    void chronyStatus();
    void refusalsNameWhatWasFound();
    void medianAndSpread();
    void durations_data();
    void durations();
    void deviceSource_data();
    void deviceSource();
    void uncertaintyShrinksWithFrames();
    void stateText_data();
    void stateText();
    void stateFileWrittenInPlace();
    void selfCalibration_data();
    void selfCalibration();
    void selfCalibrationWaitsForAnotherSource();
    void serviceStateTravels();
    void sntpReply_data();
    void sntpReply();
    void timeServiceServer();
};

void TestCalibration::chronyStatus_data()
{
    QTest::addColumn<QString>("tracking");
    QTest::addColumn<QString>("sources");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("reference");
    QTest::addColumn<bool>("otherSources"); // a server or peer reached, followed or not

    const QString server = QStringLiteral("^,*,127.0.0.1,1,-4,377,0,0.000001,0.000001,0.000020\n");
    const QString device = QStringLiteral("#,*,GPS,0,0,377,0,0.000001,0.000001,0.000020\n");
    QTest::newRow("a server") << tracking("7F000001", "127.0.0.1", "Normal")
                              << QStringLiteral("#,-,GPS,0,0,377,0,0,0,0\n") + server
                              << int(ChronyStatus::Synchronised) << "127.0.0.1" << true;
    QTest::newRow("no source yet") << tracking("00000000", "", "Not synchronised") << server
                                   << int(ChronyStatus::NotSynchronised) << "sin fuente" << true;
    QTest::newRow("its own clock")
        << tracking("7F7F0101", "127.127.1.1", "Normal") << QString()
        << int(ChronyStatus::NotSynchronised) << "solo su propio reloj, \"local\"" << false;
    QTest::newRow("the device") << tracking("47505300", "GPS", "Normal")
                                << server.left(2) + "+" + server.mid(3) + device
                                << int(ChronyStatus::FollowsDevice) << "GPS" << true;
    QTest::newRow("nothing selected")
        << tracking("7F000001", "127.0.0.1", "Normal")
        << QStringLiteral("^,?,127.0.0.1,1,-4,0,0,0,0,0\n") << int(ChronyStatus::NotSynchronised)
        << "ninguna fuente seleccionada (127.0.0.1)" << false;
    QTest::newRow("an answer not understood")
        << QStringLiteral("506 Cannot talk to daemon\n") << QString() << int(ChronyStatus::NoChrony)
        << "respuesta de chronyc no reconocida" << false;
}

void TestCalibration::chronyStatus()
{
    QFETCH(QString, tracking);
    QFETCH(QString, sources);
    QFETCH(int, kind);
    QFETCH(QString, reference);
    QFETCH(bool, otherSources);
    const ChronyStatus status = ChronyStatus::fromOutputs(tracking, sources);
    QCOMPARE(int(status.kind), kind);
    QCOMPARE(status.reference, reference);
    QCOMPARE(status.refusal().isEmpty(), kind == ChronyStatus::Synchronised);
    QCOMPARE(ChronyStatus::fromOutputs(tracking, sources).otherSources, otherSources);
}

void TestCalibration::refusalsNameWhatWasFound()
{
    const auto refusal = [](ChronyStatus::Kind kind, const QString &reference) {
        ChronyStatus status;
        status.kind = kind;
        status.reference = reference;
        return status.refusal();
    };
    QVERIFY(refusal(ChronyStatus::NoChrony, QStringLiteral("x"))
                .startsWith(QStringLiteral("No se calibra: no hay chrony (x).")));
    QVERIFY(refusal(ChronyStatus::NotSynchronised, QStringLiteral("sin fuente"))
                .startsWith(QStringLiteral("No se calibra: chrony no está sincronizado (sin "
                                           "fuente).")));
    QVERIFY(refusal(ChronyStatus::FollowsDevice, QStringLiteral("GPS"))
                .startsWith(QStringLiteral("No se calibra: chrony sigue al propio dispositivo "
                                           "(reloj de referencia GPS).")));
}

void TestCalibration::medianAndSpread()
{
    DelayCalibration calibration;
    QCOMPARE(calibration.median(), microseconds(0));
    // Frames 130 to 133 ms late, the device reading behind.
    for (const int late : {131000, 130000, 133000, 132000, 130500})
        calibration.add(microseconds(-late));
    QCOMPARE(calibration.frames(), 5);
    QCOMPARE(calibration.median(), microseconds(131000));
    QCOMPARE(calibration.spread(), microseconds(132000 - 130500));
    calibration.add(microseconds(-134000));
    QCOMPARE(calibration.median(), microseconds(131500));
}

void TestCalibration::durations_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<qint64>("micro");

    QTest::newRow("seconds") << "0.1320" << true << qint64(132000);
    QTest::newRow("milliseconds") << "130ms" << true << qint64(130000);
    QTest::newRow("negative") << "-2.5ms" << true << qint64(-2500);
    QTest::newRow("minutes") << "10m" << true << qint64(600000000);
    QTest::newRow("hour") << "1h" << true << qint64(3600000000);
    QTest::newRow("explicit seconds") << "90s" << true << qint64(90000000);
    QTest::newRow("unknown unit") << "3d" << false << qint64(0);
    QTest::newRow("comma") << "0,132" << false << qint64(0);
    QTest::newRow("empty") << "" << false << qint64(0);
    QTest::newRow("beyond a day") << "25h" << false << qint64(0);
}

void TestCalibration::durations()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(qint64, micro);
    const std::optional<microseconds> parsed = parseDurationOption(text);
    QCOMPARE(bool(parsed), valid);
    if (valid) {
        QCOMPARE(*parsed, microseconds(micro));
        QCOMPARE(parseDurationOption(delayOptionValue(*parsed)),
                 microseconds((micro + (micro < 0 ? -50 : 50)) / 100 * 100));
    }
}

void TestCalibration::deviceSource_data()
{
    QTest::addColumn<QString>("sources");
    QTest::addColumn<bool>("found");
    QTest::addColumn<bool>("selected");
    QTest::addColumn<qint64>("offsetNs");

    const QString server = QStringLiteral("^,*,127.0.0.1,1,-4,377,0,0.000001,0.000001,0.000020\n");
    QTest::newRow("selected") << QStringLiteral("#,*,GPS,0,0,377,0,-0.000250,-0.000300,0.000020\n")
                              << true << true << qint64(-250000);
    QTest::newRow("beside a server")
        << server + QStringLiteral("#,-,GPS,0,0,377,0,0.131500,0.131500,0.002000\n") << true
        << false << qint64(131500000);
    QTest::newRow("not among the sources") << server << false << false << qint64(0);
}

void TestCalibration::deviceSource()
{
    QFETCH(QString, sources);
    QFETCH(bool, found);
    QFETCH(bool, selected);
    QFETCH(qint64, offsetNs);
    const ChronyDeviceSource device = ChronyDeviceSource::fromSources(sources);
    QCOMPARE(device.found, found);
    QCOMPARE(device.selected, selected);
    QCOMPARE(qint64(device.offset.count()), offsetNs);
}

void TestCalibration::uncertaintyShrinksWithFrames()
{
    // Frames spread evenly over 3 ms: the middle half lies 1.5 ms apart.
    DelayCalibration calibration;
    for (int i = 0; i < 60; ++i)
        calibration.add(microseconds(-130000 - (i % 4) * 1000));
    const microseconds sixty = calibration.uncertainty();
    for (int i = 0; i < 180; ++i)
        calibration.add(microseconds(-130000 - (i % 4) * 1000));
    QVERIFY(calibration.uncertainty() < sixty);
    // 1.96 * 1.2533 * (spread / 1.349) / sqrt(frames)
    QCOMPARE(calibration.uncertainty().count(),
             std::llround(1.96 * 1.2533 * (double(calibration.spread().count()) / 1.349)
                          / std::sqrt(240.0)));
    QVERIFY(calibration.isDelay());
    DelayCalibration wrong;
    wrong.add(microseconds(3'600'000'000LL));
    QVERIFY(!wrong.isDelay());
}

void TestCalibration::stateText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("device");
    QTest::addColumn<qint64>("delayUs");

    const QString whole =
        QStringLiteral("device=/dev/ttyUSB0\ndelay=0.1315\nmeasured=2026-12-09T11:00:00Z\n"
                       "against=127.0.0.1\nframes=87\nspread=0.0021\n");
    QTest::newRow("as written") << whole << true << "/dev/ttyUSB0" << qint64(131500);
    QTest::newRow("unknown key skipped") << whole + "later=1\n"
                                         << true << "/dev/ttyUSB0" << qint64(131500);
    QTest::newRow("no file") << QString() << false << QString() << qint64(0);
    QTest::newRow("no delay") << QString(whole).remove(QStringLiteral("delay=0.1315\n")) << false
                              << QString() << qint64(0);
    QTest::newRow("not a delay") << QString(whole).replace(QStringLiteral("0.1315"),
                                                           QStringLiteral("3600"))
                                 << false << QString() << qint64(0);
    QTest::newRow("no date") << QString(whole).remove(
        QStringLiteral("measured=2026-12-09T11:00:00Z\n"))
                             << false << "/dev/ttyUSB0" << qint64(131500);
}

void TestCalibration::stateText()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(QString, device);
    QFETCH(qint64, delayUs);
    const CalibrationState state = CalibrationState::fromText(text);
    QCOMPARE(state.valid(), valid);
    QCOMPARE(state.device, device);
    QCOMPARE(qint64(state.delay.count()), delayUs);
    if (valid) {
        QCOMPARE(state.frames, 87);
        QCOMPARE(state.spread, microseconds(2100));
        QCOMPARE(state.against, QStringLiteral("127.0.0.1"));
        QCOMPARE(state.text(), CalibrationState::fromText(state.text()).text());
    }
}

void TestCalibration::stateFileWrittenInPlace()
{
    QTemporaryDir folder;
    qputenv("STATE_DIRECTORY", folder.path().toUtf8());
    QCOMPARE(CalibrationState::defaultPath(), folder.filePath(QStringLiteral("calibration")));
    qunsetenv("STATE_DIRECTORY");
    QCOMPARE(CalibrationState::defaultPath(),
             QStringLiteral("/var/lib/quorvel-refclock/calibration"));

    const QString path = folder.filePath(QStringLiteral("made/calibration"));
    CalibrationState state;
    state.device = QStringLiteral("/dev/ttyUSB0");
    state.delay = microseconds(130000);
    state.measured = QDateTime(QDate(2026, 12, 9), QTime(11, 0), QTimeZone::utc());
    QString error;
    QVERIFY2(state.write(path, &error), qPrintable(error));
    state.delay = microseconds(131000);
    QVERIFY2(state.write(path, &error), qPrintable(error));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("device=/dev/ttyUSB0\ndelay=0.1310\n"
                                        "measured=2026-12-09T11:00:00Z\nagainst=\nframes=0\n"
                                        "spread=0.0000\n"));
    QCOMPARE(CalibrationState::read(path).delay, microseconds(131000));
    QFile blocker(folder.filePath(QStringLiteral("file")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QVERIFY(!state.write(folder.filePath(QStringLiteral("file/calibration")), &error));
    QVERIFY(!error.isEmpty());
}

namespace {

// A self-calibration in front of a recording sink, on a clock the test moves.
struct SelfRig
{
    struct Sink : SampleSink
    {
        int sent = 0;
        Result send(UtcTime, microseconds, QString *) override
        {
            ++sent;
            return Sent;
        }
    };
    struct Log : RefclockLog
    {
        QStringList lines;
        void write(const QString &line) override { lines << line; }
    };

    QTemporaryDir folder;
    Sink chrony;
    Log log;
    microseconds applied{-1};
    MonotonicTime now = MonotonicClock::now();
    std::unique_ptr<SelfCalibration> calibration;

    explicit SelfRig(std::optional<microseconds> administrator = std::nullopt,
                     bool overSntp = false)
    {
        calibration = std::make_unique<SelfCalibration>(
            &chrony, &log, SelfCalibration::Settings{statePath(), administrator, overSntp},
            [this](microseconds delay) { applied = delay; },
            [] { return QDateTime(QDate(2026, 12, 9), QTime(11, 0), QTimeZone::utc()); },
            [this] { return now; });
    }
    QString statePath() const { return folder.filePath(QStringLiteral("calibration")); }
    // One frame a second, `lateUs` late, on a computer's clock `behindUs` behind the true time.
    SampleSink::Result frame(qint64 lateUs, qint64 behindUs = 0)
    {
        now += std::chrono::seconds(1);
        return calibration->send(UtcTime(), microseconds(behindUs - lateUs), nullptr);
    }
};

// chrony following a server; or the server measured over SNTP, `behindUs` ahead of the
// computer's clock.
ChronyStatus synchronised(qint64 behindUs = 0)
{
    ChronyStatus status{ChronyStatus::Synchronised, QStringLiteral("127.0.0.1")};
    status.clockOffset = microseconds(behindUs);
    return status;
}

} // namespace

void TestCalibration::selfCalibration_data()
{
    QTest::addColumn<int>("jitterUs"); // frames late by 130 ms + 0..jitter, evenly
    QTest::addColumn<qint64>("lateUs");
    QTest::addColumn<bool>("saved");
    QTest::addColumn<int>("minFrames");
    QTest::addColumn<int>("maxFrames");
    QTest::addColumn<QString>("said");
    // Over SNTP, with the computer's clock this far behind the server's; 0: chrony keeps it.
    QTest::addColumn<qint64>("behindUs");

    QTest::newRow("3 ms of jitter")
        << 3000 << qint64(130000) << true << 60 << 200 << "Calibración guardada en " << qint64(0);
    QTest::newRow("no jitter: sixty frames")
        << 0 << qint64(130000) << true << 60 << 60 << "Calibración guardada en " << qint64(0);
    QTest::newRow("too wide for ten minutes")
        << 40000 << qint64(130000) << false << 600 << 600
        << "Calibración rechazada: las tramas llegan demasiado dispersas" << qint64(0);
    QTest::newRow("not a delay") << 0 << qint64(3600000000) << false << 60 << 60
                                 << "Calibración rechazada: la mediana, " << qint64(0);
    QTest::newRow("over SNTP, the computer 40 ms behind")
        << 3000 << qint64(130000) << true << 60 << 200 << "Calibración guardada en "
        << qint64(40000);
    QTest::newRow("over SNTP, the computer 2 s ahead")
        << 0 << qint64(130000) << true << 60 << 60 << "Calibración guardada en "
        << qint64(-2000000);
}

void TestCalibration::selfCalibration()
{
    QFETCH(int, jitterUs);
    QFETCH(qint64, lateUs);
    QFETCH(bool, saved);
    QFETCH(int, minFrames);
    QFETCH(int, maxFrames);
    QFETCH(QString, said);
    QFETCH(qint64, behindUs);

    SelfRig rig(std::nullopt, behindUs != 0);
    rig.calibration->setDevice(QStringLiteral("/dev/ttyUSB0"));
    QCOMPARE(rig.applied, microseconds(0));
    QCOMPARE(int(rig.calibration->source()), int(ServiceState::DelaySource::None));
    rig.calibration->chronySaid(synchronised(behindUs));
    QVERIFY(rig.calibration->calibrating());
    QVERIFY(rig.log.lines.last().startsWith(QStringLiteral("Calibrando /dev/ttyUSB0 frente a "
                                                           "127.0.0.1")));
    int frames = 0;
    // Meanwhile chrony gets nothing.
    while (rig.calibration->calibrating() && frames < 1000) {
        QCOMPARE(
            rig.frame(lateUs + (jitterUs == 0 ? 0 : (frames * 7919) % (jitterUs + 1)), behindUs),
            SampleSink::Withheld);
        ++frames;
    }
    QCOMPARE(rig.chrony.sent, 0);
    QVERIFY2(frames >= minFrames && frames <= maxFrames, qPrintable(QString::number(frames)));
    QVERIFY2(rig.log.lines.last().startsWith(said), qPrintable(rig.log.lines.last()));
    QCOMPARE(rig.log.lines.size(), 2);
    const CalibrationState state = CalibrationState::read(rig.statePath());
    QCOMPARE(state.valid(), saved);
    if (saved) {
        QVERIFY(qAbs(state.delay.count() - (lateUs + jitterUs / 2)) <= 250);
        QCOMPARE(state.device, QStringLiteral("/dev/ttyUSB0"));
        QCOMPARE(state.against, QStringLiteral("127.0.0.1"));
        QCOMPARE(state.frames, frames);
        QCOMPARE(rig.applied, state.delay);
        QCOMPARE(int(rig.calibration->source()), int(ServiceState::DelaySource::Calibrated));
    } else {
        QCOMPARE(rig.applied, microseconds(0));
    }
    // From then on the samples go to chrony; no second calibration for this device.
    QCOMPARE(rig.frame(lateUs), SampleSink::Sent);
    rig.calibration->chronySaid(synchronised());
    QVERIFY(!rig.calibration->calibrating());

    // The state is read at the next start; another device is calibrated anew.
    SelfRig again;
    QVERIFY(QFile::copy(rig.statePath(), again.statePath()) || !saved);
    again.calibration->setDevice(QStringLiteral("/dev/ttyUSB0"));
    QCOMPARE(again.applied, saved ? state.delay : microseconds(0));
    again.calibration->chronySaid(synchronised());
    QCOMPARE(again.calibration->calibrating(), !saved);
    again.calibration->setDevice(QStringLiteral("/dev/ttyUSB1"));
    QCOMPARE(again.applied, microseconds(0));
    again.calibration->chronySaid(synchronised());
    QVERIFY(again.calibration->calibrating());
}

void TestCalibration::selfCalibrationWaitsForAnotherSource()
{
    SelfRig rig;
    rig.calibration->setDevice(QStringLiteral("/dev/ttyUSB0"));
    // Before chrony's first answer nothing goes out uncalibrated.
    QCOMPARE(rig.frame(130000), SampleSink::Withheld);
    // chrony reaches a server it does not follow yet: samples 130 ms off would keep it from
    // ever choosing it, so they are held back, for five minutes at the most.
    ChronyStatus settling{ChronyStatus::NotSynchronised, QStringLiteral("sin fuente")};
    settling.otherSources = true;
    rig.calibration->chronySaid(settling);
    QCOMPARE(rig.frame(130000), SampleSink::Withheld);
    QVERIFY(rig.log.lines.last().startsWith(QStringLiteral("chrony aún no sigue ninguna fuente")));
    rig.now += SelfCalibration::MaxWaitForOtherSource;
    rig.log.lines.clear();
    // No other source: uncalibrated samples, said once.
    rig.calibration->chronySaid({ChronyStatus::NotSynchronised, QStringLiteral("sin fuente")});
    rig.calibration->chronySaid({ChronyStatus::FollowsDevice, QStringLiteral("GPS")});
    QCOMPARE(rig.log.lines.size(), 1);
    QVERIFY(rig.log.lines.first().startsWith(QStringLiteral("Sin otra fuente que chrony siga (sin "
                                                            "fuente): se envían muestras sin "
                                                            "calibrar")));
    QCOMPARE(rig.frame(130000), SampleSink::Sent);
    // A source comes: calibrating; it goes: interrupted, and begun again when it is back.
    rig.calibration->chronySaid(synchronised());
    QCOMPARE(rig.frame(130000), SampleSink::Withheld);
    rig.calibration->chronySaid({ChronyStatus::NotSynchronised, QStringLiteral("sin fuente")});
    QVERIFY(!rig.calibration->calibrating());
    QVERIFY(rig.log.lines.last().startsWith(QStringLiteral("Calibración interrumpida: ")));
    QCOMPARE(rig.frame(130000), SampleSink::Sent);
    rig.calibration->chronySaid(synchronised());
    QVERIFY(rig.calibration->calibrating());

    // The administrator's --delay wins: nothing is measured.
    SelfRig administered(microseconds(120000));
    administered.calibration->setDevice(QStringLiteral("/dev/ttyUSB0"));
    administered.calibration->chronySaid(synchronised());
    QVERIFY(!administered.calibration->calibrating());
    QCOMPARE(administered.frame(130000), SampleSink::Sent);
    QCOMPARE(int(administered.calibration->source()),
             int(ServiceState::DelaySource::Administrator));
    QVERIFY(administered.log.lines.isEmpty());

    // Over SNTP, a server that does not answer is said once in its own words.
    SelfRig sntp(std::nullopt, true);
    sntp.calibration->setDevice(QStringLiteral("COM1"));
    sntp.calibration->chronySaid(
        {ChronyStatus::NotSynchronised, QStringLiteral("time.windows.com: no responde")});
    QCOMPARE(sntp.log.lines, QStringList{QStringLiteral(
                                 "Sin respuesta SNTP (time.windows.com: no responde): se envían "
                                 "muestras sin calibrar; se calibrará en cuanto responda.")});
    QCOMPARE(sntp.frame(130000), SampleSink::Sent);
    QVERIFY(sntp.calibration->needsReference());
}

void TestCalibration::serviceStateTravels()
{
    ServiceState state;
    state.device = QStringLiteral("/dev/ttyUSB0");
    state.port = ServiceState::Port::Missing;
    state.portReason = QStringLiteral("no hay ningún dispositivo\nen /dev/ttyUSB0");
    state.deviceClock = ServiceState::DeviceClock::Jumped;
    state.delay = microseconds(131500);
    state.delaySource = ServiceState::DelaySource::Calibrated;
    state.calibratedAt = QDateTime(QDate(2026, 12, 9), QTime(11, 0), QTimeZone::utc());
    state.calibrating = true;
    state.calibrationFrames = 42;
    state.samplesSent = 1000;
    state.samplesDropped = 3;
    state.chrony = ServiceState::Chrony::FollowsDevice;
    state.chronyReference = QStringLiteral("GPS");
    state.deviceSeen = true;
    state.deviceSelected = true;
    state.chronyOffset = std::chrono::nanoseconds(-12345);
    state.chronyError = std::chrono::nanoseconds(200000);
    ShareProtocol::Decoder decoder;
    decoder.append(ShareProtocol::hello() + ShareProtocol::state(state)
                   + ShareProtocol::end(ShareProtocol::EndReason::ServiceStopping));
    const std::optional<ShareProtocol::Message> message = decoder.next();
    QVERIFY(message);
    QCOMPARE(int(message->type), int(ShareProtocol::Type::State));
    state.portReason.replace(u'\n', u' '); // one line each
    QCOMPARE(message->state.encode(), state.encode());
    QVERIFY(message->state == state);
    QCOMPARE(int(decoder.next()->type), int(ShareProtocol::Type::End));
    // What --status prints of it.
    const QStringList lines = statusLines(message->state);
    QCOMPARE(lines.size(), 5);
    QCOMPARE(lines.at(0), QStringLiteral("Dispositivo: /dev/ttyUSB0, no disponible (no hay ningún "
                                         "dispositivo en /dev/ttyUSB0)."));
    QCOMPARE(lines.at(1), QStringLiteral("Reloj del dispositivo: saltó; no se envían muestras."));
    QCOMPARE(lines.at(2), QStringLiteral("Retraso: 131,5 ms, calibrado el 2026-12-09; calibrando "
                                         "(42 tramas medidas)."));
    QCOMPARE(lines.at(3), QStringLiteral("Muestras: 1000 enviadas, 3 descartadas."));
    QCOMPARE(lines.at(4), QStringLiteral("chrony: sigue al dispositivo; estima el dispositivo a "
                                         "-0,012 ms ± 0,200 ms."));
    // Over SNTP, on Windows: the server's answer and the Time service's provider in chrony's
    // place.
    state.sntpServer = QStringLiteral("time.windows.com");
    state.sntpAnswered = true;
    state.sntpOffset = microseconds(12300);
    state.provider = ServiceState::Provider::Absent;
    QCOMPARE(ServiceState::decode(state.encode()).encode(), state.encode());
    const QStringList windows = statusLines(state);
    QCOMPARE(windows.mid(4),
             (QStringList{QStringLiteral("SNTP: time.windows.com responde; el reloj del ordenador "
                                         "iba 12,3 ms por detrás."),
                          QStringLiteral("Servicio de hora de Windows: su proveedor no está "
                                         "conectado (¿está parado el servicio W32Time?).")}));
    // A later service's unknown keys are skipped; a state on the device's socket stays unknown
    // to an earlier window, which never reads the state socket.
    QCOMPARE(ServiceState::decode("calibrating=1\nfuture=7\n").calibrating, true);
    QCOMPARE(stateSocketPath(QStringLiteral("/run/quorvel-refclock/ttyUSB0.socket")),
             QStringLiteral("/run/quorvel-refclock/ttyUSB0.state.socket"));
}

namespace {

// The NTP time of `time`, written as a server writes it.
QByteArray ntpTimestamp(UtcTime time)
{
    const QByteArray packet = Sntp::request(time);
    return packet.mid(40, 8);
}

UtcTime at(const QDateTime &date, qint64 plusUs = 0)
{
    return UtcTime(microseconds(date.toMSecsSinceEpoch() * 1000 + plusUs));
}

} // namespace

void TestCalibration::sntpReply_data()
{
    QTest::addColumn<QDateTime>("sent");    // by the computer's clock
    QTest::addColumn<qint64>("aheadUs");    // the server's clock ahead of the computer's
    QTest::addColumn<QByteArray>("change"); // what is wrong with the reply: "" for nothing
    QTest::addColumn<QString>("refusal");

    const QDateTime today(QDate(2026, 12, 9), QTime(11, 0), QTimeZone::utc());
    // NTP's seconds wrap on 2036-02-07 06:28:16 UTC.
    const QDateTime wrap(QDate(2036, 2, 7), QTime(6, 28, 15, 900), QTimeZone::utc());
    QTest::newRow("server 2.5 s ahead") << today << qint64(2500000) << QByteArray() << QString();
    QTest::newRow("server 40 ms behind") << today << qint64(-40000) << QByteArray() << QString();
    QTest::newRow("across NTP's 2036 wrap") << wrap << qint64(300000) << QByteArray() << QString();
    QTest::newRow("kiss of death")
        << today << qint64(0) << QByteArray("kiss") << "el servidor rehúsa responder (RATE)";
    QTest::newRow("server not synchronised")
        << today << qint64(0) << QByteArray("leap") << "el servidor no está sincronizado";
    QTest::newRow("answer to another query")
        << today << qint64(0) << QByteArray("origin") << "la respuesta no es a esta consulta";
    QTest::newRow("a client's packet")
        << today << qint64(0) << QByteArray("mode") << "la respuesta no es de un servidor NTP";
    QTest::newRow("cut short") << today << qint64(0) << QByteArray("short")
                               << "respuesta incompleta";
}

void TestCalibration::sntpReply()
{
    QFETCH(QDateTime, sent);
    QFETCH(qint64, aheadUs);
    QFETCH(QByteArray, change);
    QFETCH(QString, refusal);

    // 8 ms out, 1 ms in the server, 12 ms back: a round trip of 20 ms, asymmetric by 4 ms.
    const UtcTime t1 = at(sent);
    const QByteArray request = Sntp::request(t1);
    QByteArray reply(Sntp::PacketSize, '\0');
    reply[0] = char((4 << 3) | 4);
    reply[1] = 2;
    reply.replace(24, 8, request.mid(40, 8));
    reply.replace(32, 8, ntpTimestamp(at(sent, aheadUs + 8000)));
    reply.replace(40, 8, ntpTimestamp(at(sent, aheadUs + 9000)));
    if (change == "kiss") {
        reply[1] = 0;
        reply.replace(12, 4, "RATE");
    } else if (change == "leap") {
        reply[0] = char(0xc0 | (4 << 3) | 4);
    } else if (change == "origin") {
        reply[31] = char(reply[31] ^ 1);
    } else if (change == "mode") {
        reply[0] = char((4 << 3) | 3);
    } else if (change == "short") {
        reply.chop(1);
    }
    QString why;
    const std::optional<Sntp::Answer> answer =
        Sntp::readReply(reply, request, t1, at(sent, 21000), &why);
    QCOMPARE(answer.has_value(), refusal.isEmpty());
    if (!answer) {
        QCOMPARE(why, refusal);
        return;
    }
    // Half the asymmetry is the offset's error: 2 ms. NTP's fraction is 2^-32 s; a
    // microsecond either way for rounding.
    QVERIFY2(qAbs(answer->offset.count() - (aheadUs - 2000)) <= 1,
             qPrintable(QString::number(answer->offset.count())));
    QVERIFY2(qAbs(answer->roundTrip.count() - 20000) <= 1,
             qPrintable(QString::number(answer->roundTrip.count())));
}

void TestCalibration::timeServiceServer()
{
    QCOMPARE(Sntp::firstServer(QStringLiteral("time.windows.com,0x9")),
             QStringLiteral("time.windows.com"));
    QCOMPARE(Sntp::firstServer(QStringLiteral("  ntp.example.org,0x8 pool.ntp.org,0x1")),
             QStringLiteral("ntp.example.org"));
    QCOMPARE(Sntp::firstServer(QString()), QStringLiteral("time.windows.com"));
}

QTEST_GUILESS_MAIN(TestCalibration)
#include "tst_calibration.moc"
