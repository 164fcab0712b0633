// "Poner en hora el PC" from the click to the clock backend: what the labels show after the
// frames that arrived decides what is set, or which message is shown.
#include "clock/clocksetting.h"
#include "frametime/frametime.h"
#include "tests/support/recordingclockbackend.h"
#include "tests/support/scriptedwindow.h"
#include "tools/sim/scriptedserialport.h"
#include "ui/form1.h"

#include <QDateTime>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimeZone>
#include <QTranslator>

using namespace std::chrono_literals;

namespace {

const QString Invalid = QStringLiteral("Fecha u hora no válida.");
const QString NotSet = QStringLiteral("No se pudo poner en hora el PC.\r\n");

// What the computer's clock reads at every press: 9 December 2026, 01:00 UTC.
const UtcTime ComputerNow(std::chrono::microseconds(1796778000000000));

// The time set for `isoDateTime` at the frame's "$": the line's character time later, as the
// "$" arrives that long after the second it names began.
UtcTime utc(const char *isoDateTime)
{
    const QDateTime when = QDateTime::fromString(QLatin1String(isoDateTime), Qt::ISODateWithMs);
    return UtcTime(std::chrono::milliseconds(when.toMSecsSinceEpoch()))
           + std::chrono::duration_cast<std::chrono::microseconds>(markerLateness());
}

// A translation that renames the captions of the clock display.
class EnglishCaptions : public QTranslator
{
public:
    bool isEmpty() const override { return false; }
    QString translate(const char *, const char *sourceText, const char *, int) const override
    {
        static const QHash<QString, QString> english{
            {"Verano", "Summer"}, {"Invierno", "Winter"}, {"Domingo", "Sunday"}};
        return english.value(QString::fromUtf8(sourceText));
    }
};

// The instants the clock was asked to read: the computer's clock plus each offset asked for.
QList<UtcTime> setTo(const RecordingClockBackend &backend)
{
    QList<UtcTime> instants;
    for (const std::chrono::microseconds offset : backend.asked)
        instants.append(ComputerNow + offset);
    return instants;
}

} // namespace

class TestCommand1 : public QObject
{
    Q_OBJECT

private slots:
    void setsTheClockFromTheLabels_data();
    void setsTheClockFromTheLabels();
    void refusalIsReportedInSpanish_data();
    void refusalIsReportedInSpanish();
    void translatedCaptionsSetTheSameInstant_data();
    void translatedCaptionsSetTheSameInstant();
};

void TestCommand1::setsTheClockFromTheLabels_data()
{
    QTest::addColumn<QStringList>("frames"); // each frame is followed by a quiet tick
    QTest::addColumn<int>("presses");
    QTest::addColumn<QList<UtcTime>>("set");
    QTest::addColumn<QStringList>("messages");

    // The frame's "$" arrived 1.5 s before the press: that much is added to what is shown.
    QTest::newRow("no frame yet: placeholders do not convert")
        << QStringList{} << 1 << QList<UtcTime>{} << QStringList{Invalid};
    QTest::newRow("summer frame") << QStringList{"$12:00:00,06/15/2007,5,1\r\n"} << 1
                                  << QList<UtcTime>{utc("2007-06-15T10:00:01.500Z")}
                                  << QStringList{};
    QTest::newRow("winter frame, month first")
        << QStringList{"$23:59:59,01/02/2007,2,0\r\n"} << 1
        << QList<UtcTime>{utc("2007-01-02T23:00:00.500Z")} << QStringList{};
    QTest::newRow("pressed twice: set twice")
        << QStringList{"$12:00:00,06/15/2007,5,1\r\n"} << 2
        << QList<UtcTime>{utc("2007-06-15T10:00:01.500Z"), utc("2007-06-15T10:00:01.500Z")}
        << QStringList{};
    QTest::newRow("empty time label: nothing happens")
        << QStringList{"$,06/15/2007,5,1\r\n"} << 1 << QList<UtcTime>{} << QStringList{};
    QTest::newRow("empty date label: nothing happens")
        << QStringList{"$12:00:00,,5,1\r\n"} << 1 << QList<UtcTime>{} << QStringList{};
    QTest::newRow("blank time label is tried and refused")
        << QStringList{"$ ,06/15/2007,5,1\r\n"} << 1 << QList<UtcTime>{} << QStringList{Invalid};
    QTest::newRow("impossible date") << QStringList{"$12:00:00,02/30/2007,5,1\r\n"} << 1
                                     << QList<UtcTime>{} << QStringList{Invalid};
    QTest::newRow("a malformed frame after a good one keeps the good one")
        << QStringList{"$12:00:00,06/15/2007,5,1\r\n", "$13:00:00,06/15/2007\r\n"} << 1
        << QList<UtcTime>{utc("2007-06-15T10:00:01.500Z")} << QStringList{};
}

void TestCommand1::setsTheClockFromTheLabels()
{
    QFETCH(QStringList, frames);
    QFETCH(int, presses);
    QFETCH(QList<UtcTime>, set);
    QFETCH(QStringList, messages);

    const MonotonicTime arrival = MonotonicClock::now();
    RecordingClockBackend backend;
    ClockSetting clock(
        &backend, nullptr,
        [arrival] {
            return ClockPair{arrival + 1500ms, ComputerNow};
        },
        [] { return QTimeZone("Europe/Madrid"); });
    ScriptedWindow window(&clock);
    ScriptedSerialPort &port = window.port;
    RecordingMessages &shown = window.messages;
    Form1 &form = window.form;
    port.open = true;
    for (const QString &frame : frames) {
        port.chunks = QStringList{frame, ""};
        port.chunkArrival = QList<MonotonicTime>{arrival, arrival + 100ms};
        form.Timer1_Timer();
        form.Timer1_Timer();
    }

    auto *button = form.findChild<QPushButton *>(QStringLiteral("Command1"));
    for (int i = 0; i < presses; ++i)
        QTest::mouseClick(button, Qt::LeftButton);

    QCOMPARE(setTo(backend), set);
    QCOMPARE(shown.shown, messages);
}

void TestCommand1::refusalIsReportedInSpanish_data()
{
    QTest::addColumn<ClockBackend::Outcome>("outcome");
    QTest::addColumn<QString>("systemText");
    QTest::addColumn<bool>("answerAtOnce"); // or only after a while, as after a password prompt
    QTest::addColumn<QStringList>("messages");

    QTest::newRow("set: nothing is said")
        << ClockBackend::Outcome::Set << "" << true << QStringList();
    QTest::newRow("set after a prompt: nothing is said")
        << ClockBackend::Outcome::Set << "" << false << QStringList();
    QTest::newRow("no permission")
        << ClockBackend::Outcome::NoPermission << "Access denied" << true
        << QStringList{NotSet + QStringLiteral("Se necesitan permisos de administrador.")};
    QTest::newRow("prompt dismissed: told once the answer comes")
        << ClockBackend::Outcome::NoPermission << "Authorization cancelled" << false
        << QStringList{NotSet + QStringLiteral("Se necesitan permisos de administrador.")};
    QTest::newRow("automatic sync")
        << ClockBackend::Outcome::AutomaticSync << "Automatic time synchronization is enabled"
        << true
        << QStringList{NotSet
                       + QStringLiteral("La sincronización automática de la hora está activada.")};
    QTest::newRow("other refusal: the service's own words, said to be its")
        << ClockBackend::Outcome::Refused << "Failed to update context: No route to host" << true
        << QStringList{NotSet
                       + QStringLiteral("El servicio de hora del sistema rechazó el cambio: "
                                        "Failed to update context: No route to host")};
    QTest::newRow("no answer in time")
        << ClockBackend::Outcome::NoAnswer << "" << true
        << QStringList{
               NotSet
               + QStringLiteral("El servicio de hora del sistema no respondió en 5 minutos.")};
    QTest::newRow("other refusal without words")
        << ClockBackend::Outcome::Refused << "" << true
        << QStringList{NotSet
                       + QStringLiteral("El servicio de hora del sistema rechazó el cambio.")};
}

void TestCommand1::refusalIsReportedInSpanish()
{
    QFETCH(ClockBackend::Outcome, outcome);
    QFETCH(QString, systemText);
    QFETCH(bool, answerAtOnce);
    QFETCH(QStringList, messages);

    RecordingClockBackend backend;
    backend.outcome = outcome;
    backend.systemText = systemText;
    backend.answerAtOnce = answerAtOnce;
    ClockSetting clock(&backend, nullptr, ClockPair::now,
                       [] { return QTimeZone("Europe/Madrid"); });
    ScriptedWindow window(&clock);
    ScriptedSerialPort &port = window.port;
    RecordingMessages &shown = window.messages;
    Form1 &form = window.form;
    port.open = true;
    port.chunks = QStringList{"$12:00:00,06/15/2007,5,1\r\n", ""};
    form.Timer1_Timer();
    form.Timer1_Timer();

    auto *button = form.findChild<QPushButton *>(QStringLiteral("Command1"));
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(backend.asked.size(), 1);
    if (!answerAtOnce) {
        // Nothing is said while the system has not answered; a press meanwhile starts nothing.
        QCOMPARE(shown.shown, QStringList());
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(backend.asked.size(), 1);
        backend.answer();
    }
    QCOMPARE(shown.shown, messages);
}

void TestCommand1::translatedCaptionsSetTheSameInstant_data()
{
    QTest::addColumn<QString>("frame");
    QTest::addColumn<QString>("season");
    QTest::addColumn<UtcTime>("set");

    // 28 October 2007, 02:30 happened twice in Madrid: first in summer time, then in winter.
    QTest::newRow("summer reading") << "$02:30:00,10/28/2007,7,1\r\n"
                                    << "Summer" << utc("2007-10-28T00:30:00.000Z");
    QTest::newRow("winter reading") << "$02:30:00,10/28/2007,7,0\r\n"
                                    << "Winter" << utc("2007-10-28T01:30:00.000Z");
}

void TestCommand1::translatedCaptionsSetTheSameInstant()
{
    QFETCH(QString, frame);
    QFETCH(QString, season);
    QFETCH(UtcTime, set);

    EnglishCaptions english;
    QVERIFY(QCoreApplication::installTranslator(&english));
    const MonotonicTime arrival = MonotonicClock::now();
    RecordingClockBackend backend;
    ClockSetting clock(
        &backend, nullptr,
        [arrival] {
            return ClockPair{arrival, ComputerNow};
        },
        [] { return QTimeZone("Europe/Madrid"); });
    ScriptedWindow window(&clock);
    ScriptedSerialPort &port = window.port;
    RecordingMessages &shown = window.messages;
    Form1 &form = window.form;
    port.open = true;
    port.chunks = QStringList{frame, ""};
    port.chunkArrival = QList<MonotonicTime>{arrival, arrival};
    form.Timer1_Timer();
    form.Timer1_Timer();
    QTest::mouseClick(form.findChild<QPushButton *>(QStringLiteral("Command1")), Qt::LeftButton);
    QCoreApplication::removeTranslator(&english);

    // The captions are the translation's, and the instant is the frame's all the same.
    QCOMPARE(form.findChild<QLabel *>(QStringLiteral("Label7"))->text(), season);
    QCOMPARE(form.findChild<QLabel *>(QStringLiteral("Label5"))->text(), QStringLiteral("Sunday"));
    QCOMPARE(setTo(backend), QList<UtcTime>{set});
    QCOMPARE(shown.shown, QStringList());
}

QTEST_MAIN(TestCommand1)
#include "tst_command1.moc"
