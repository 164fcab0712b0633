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

#include <functional>

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

// The window, its port open, with a clock setting on a recording backend in Madrid's zone
// whose clocks read as `clocks` gives them.
struct Press
{
    explicit Press(std::function<ClockPair()> clocks)
        : clock(&backend, nullptr, std::move(clocks), [] { return QTimeZone("Europe/Madrid"); })
    {
        window.port.open = true;
    }

    void click() { QTest::mouseClick(window.control<QPushButton>("Command1"), Qt::LeftButton); }

    RecordingClockBackend backend;
    ClockSetting clock;
    ScriptedWindow window{&clock};
};

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
    const auto row = [](const char *tag, const QStringList &frames, int presses,
                        const QList<UtcTime> &set, const QStringList &messages) {
        QTest::newRow(tag) << frames << presses << set << messages;
    };
    const QString summer = QStringLiteral("$12:00:00,06/15/2007,5,1\r\n");
    const UtcTime summerSet = utc("2007-06-15T10:00:01.500Z");
    row("no frame yet: placeholders do not convert", {}, 1, {}, {Invalid});
    row("summer frame", {summer}, 1, {summerSet}, {});
    row("winter frame, month first", {"$23:59:59,01/02/2007,2,0\r\n"}, 1,
        {utc("2007-01-02T23:00:00.500Z")}, {});
    row("pressed twice: set twice", {summer}, 2, {summerSet, summerSet}, {});
    row("empty time label: nothing happens", {"$,06/15/2007,5,1\r\n"}, 1, {}, {});
    row("empty date label: nothing happens", {"$12:00:00,,5,1\r\n"}, 1, {}, {});
    row("blank time label is tried and refused", {"$ ,06/15/2007,5,1\r\n"}, 1, {}, {Invalid});
    row("impossible date", {"$12:00:00,02/30/2007,5,1\r\n"}, 1, {}, {Invalid});
    row("a malformed frame after a good one keeps the good one",
        {summer, "$13:00:00,06/15/2007\r\n"}, 1, {summerSet}, {});
}

void TestCommand1::setsTheClockFromTheLabels()
{
    QFETCH(QStringList, frames);
    QFETCH(int, presses);
    QFETCH(QList<UtcTime>, set);
    QFETCH(QStringList, messages);

    const MonotonicTime arrival = MonotonicClock::now();
    Press press([arrival] { return ClockPair{arrival + 1500ms, ComputerNow}; });
    for (const QString &frame : frames)
        press.window.receive(frame, {arrival, arrival + 100ms});
    for (int i = 0; i < presses; ++i)
        press.click();

    QCOMPARE(setTo(press.backend), set);
    QCOMPARE(press.window.messages.shown, messages);
}

void TestCommand1::refusalIsReportedInSpanish_data()
{
    QTest::addColumn<ClockBackend::Outcome>("outcome");
    QTest::addColumn<QString>("systemText");
    QTest::addColumn<bool>("answerAtOnce"); // or only after a while, as after a password prompt
    QTest::addColumn<QStringList>("messages");

    using Outcome = ClockBackend::Outcome;
    // `said`: the second line of the one message shown; none is shown when it is empty.
    const auto row = [](const char *tag, Outcome outcome, const char *systemText, bool answerAtOnce,
                        const char *said) {
        QTest::newRow(tag) << outcome << QString::fromUtf8(systemText) << answerAtOnce
                           << (*said ? QStringList{NotSet + QString::fromUtf8(said)}
                                     : QStringList());
    };
    const char *permissions = "Se necesitan permisos de administrador.";
    row("set: nothing is said", Outcome::Set, "", true, "");
    row("set after a prompt: nothing is said", Outcome::Set, "", false, "");
    row("no permission", Outcome::NoPermission, "Access denied", true, permissions);
    row("prompt dismissed: told once the answer comes", Outcome::NoPermission,
        "Authorization cancelled", false, permissions);
    row("automatic sync", Outcome::AutomaticSync, "Automatic time synchronization is enabled", true,
        "La sincronización automática de la hora está activada.");
    row("other refusal: the service's own words, said to be its", Outcome::Refused,
        "Failed to update context: No route to host", true,
        "El servicio de hora del sistema rechazó el cambio: "
        "Failed to update context: No route to host");
    row("no answer in time", Outcome::NoAnswer, "", true,
        "El servicio de hora del sistema no respondió en 5 minutos.");
    row("other refusal without words", Outcome::Refused, "", true,
        "El servicio de hora del sistema rechazó el cambio.");
}

void TestCommand1::refusalIsReportedInSpanish()
{
    QFETCH(ClockBackend::Outcome, outcome);
    QFETCH(QString, systemText);
    QFETCH(bool, answerAtOnce);
    QFETCH(QStringList, messages);

    Press press(ClockPair::now);
    press.backend.outcome = outcome;
    press.backend.systemText = systemText;
    press.backend.answerAtOnce = answerAtOnce;
    press.window.receive("$12:00:00,06/15/2007,5,1\r\n");

    press.click();
    QCOMPARE(press.backend.asked.size(), 1);
    if (!answerAtOnce) {
        // Nothing is said while the system has not answered; a press meanwhile starts nothing.
        QCOMPARE(press.window.messages.shown, QStringList());
        press.click();
        QCOMPARE(press.backend.asked.size(), 1);
        press.backend.answer();
    }
    QCOMPARE(press.window.messages.shown, messages);
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
    Press press([arrival] { return ClockPair{arrival, ComputerNow}; });
    press.window.receive(frame, {arrival, arrival});
    press.click();
    QCoreApplication::removeTranslator(&english);

    // The captions are the translation's, and the instant is the frame's all the same.
    QCOMPARE(press.window.text("Label7"), season);
    QCOMPARE(press.window.text("Label5"), QStringLiteral("Sunday"));
    QCOMPARE(setTo(press.backend), QList<UtcTime>{set});
    QCOMPARE(press.window.messages.shown, QStringList());
}

QTEST_MAIN(TestCommand1)
#include "tst_command1.moc"
