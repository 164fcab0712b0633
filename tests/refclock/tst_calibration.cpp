// The pieces of quorvel-refclock --calibrate: what chronyd's answers mean, the median and
// spread of the delays, the lengths on the command line and the service's settings written.

#include "refclock/calibration.h"
#include "refclock/chronystatus.h"
#include "refclock/refclockoptions.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

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
    void settingsKeepTheOtherOptions_data();
    void settingsKeepTheOtherOptions();
    void settingsFileWrittenInPlace();
};

void TestCalibration::chronyStatus_data()
{
    QTest::addColumn<QString>("tracking");
    QTest::addColumn<QString>("sources");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("reference");

    const QString server = QStringLiteral("^,*,127.0.0.1,1,-4,377,0,0.000001,0.000001,0.000020\n");
    const QString device = QStringLiteral("#,*,GPS,0,0,377,0,0.000001,0.000001,0.000020\n");
    QTest::newRow("a server") << tracking("7F000001", "127.0.0.1", "Normal")
                              << QStringLiteral("#,-,GPS,0,0,377,0,0,0,0\n") + server
                              << int(ChronyStatus::Synchronised) << "127.0.0.1";
    QTest::newRow("no source yet") << tracking("00000000", "", "Not synchronised") << server
                                   << int(ChronyStatus::NotSynchronised) << "sin fuente";
    QTest::newRow("its own clock")
        << tracking("7F7F0101", "127.127.1.1", "Normal") << QString()
        << int(ChronyStatus::NotSynchronised) << "solo su propio reloj, \"local\"";
    QTest::newRow("the device") << tracking("47505300", "GPS", "Normal")
                                << server.left(2) + "+" + server.mid(3) + device
                                << int(ChronyStatus::FollowsDevice) << "GPS";
    QTest::newRow("nothing selected")
        << tracking("7F000001", "127.0.0.1", "Normal")
        << QStringLiteral("^,?,127.0.0.1,1,-4,0,0,0,0,0\n") << int(ChronyStatus::NotSynchronised)
        << "ninguna fuente seleccionada (127.0.0.1)";
    QTest::newRow("an answer not understood")
        << QStringLiteral("506 Cannot talk to daemon\n") << QString() << int(ChronyStatus::NoChrony)
        << "respuesta de chronyc no reconocida";
}

void TestCalibration::chronyStatus()
{
    QFETCH(QString, tracking);
    QFETCH(QString, sources);
    QFETCH(int, kind);
    QFETCH(QString, reference);
    const ChronyStatus status = ChronyStatus::fromOutputs(tracking, sources);
    QCOMPARE(int(status.kind), kind);
    QCOMPARE(status.reference, reference);
    QCOMPARE(status.refusal().isEmpty(), kind == ChronyStatus::Synchronised);
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

void TestCalibration::settingsKeepTheOtherOptions_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("after");

    const QString comment = QStringLiteral("# Options of quorvel-refclock\n");
    QTest::newRow("no file") << QString()
                             << "QUORVEL_REFCLOCK_OPTS=\"--port /dev/ttyUSB0 --delay 0.1320\"\n";
    QTest::newRow("options kept")
        << comment + "QUORVEL_REFCLOCK_OPTS=\"--port /dev/ttyUSB1 --zone Europe/Madrid\"\n"
        << comment
               + "QUORVEL_REFCLOCK_OPTS=\"--port /dev/ttyUSB1 --zone Europe/Madrid --delay "
                 "0.1320\"\n";
    QTest::newRow("earlier delay replaced")
        << "QUORVEL_REFCLOCK_OPTS=\"--delay 0.2 --port=2 --delay=0.3 --verbose\"\nOTHER=1\n"
        << "QUORVEL_REFCLOCK_OPTS=\"--port=2 --verbose --delay 0.1320\"\nOTHER=1\n";
    QTest::newRow("unquoted, no line end") << "QUORVEL_REFCLOCK_OPTS=--port=1"
                                           << "QUORVEL_REFCLOCK_OPTS=\"--port=1 --delay 0.1320\"\n";
    QTest::newRow("only other lines")
        << comment << comment + "QUORVEL_REFCLOCK_OPTS=\"--port /dev/ttyUSB0 --delay 0.1320\"\n";
}

void TestCalibration::settingsKeepTheOtherOptions()
{
    QFETCH(QString, before);
    QFETCH(QString, after);
    QCOMPARE(SettingsFile::withDelay(before, QStringLiteral("0.1320"),
                                     {QStringLiteral("--port"), QStringLiteral("/dev/ttyUSB0")}),
             after);
}

void TestCalibration::settingsFileWrittenInPlace()
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("quorvel-refclock"));
    QString error;
    QVERIFY2(SettingsFile::saveDelay(path, QStringLiteral("0.1300"), {QStringLiteral("--port=1")},
                                     &error),
             qPrintable(error));
    QVERIFY2(SettingsFile::saveDelay(path, QStringLiteral("0.1310"), {QStringLiteral("--port=1")},
                                     &error),
             qPrintable(error));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("QUORVEL_REFCLOCK_OPTS=\"--port=1 --delay 0.1310\"\n"));
    QVERIFY(!SettingsFile::saveDelay(folder.filePath(QStringLiteral("missing/folder/file")),
                                     QStringLiteral("0.1"), {}, &error));
    QVERIFY(!error.isEmpty());
}

QTEST_GUILESS_MAIN(TestCalibration)
#include "tst_calibration.moc"
