// "Poner en hora el PC" from the click to the clock backend: what the labels show after the
// frames that arrived decides what is set, or which message is shown.
#include "clock/clocksetting.h"
#include "frametime/frameinstant.h"
#include "tests/fakes/scriptedserialport.h"
#include "tests/support/recordingclockbackend.h"
#include "tests/support/recordingmessages.h"
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

} // namespace

class TestCommand1 : public QObject
{
    Q_OBJECT

private slots:
    void setsTheClockFromTheLabels_data();
    void setsTheClockFromTheLabels();
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
    ScriptedSerialPort port;
    RecordingMessages shown;
    RecordingClockBackend backend;
    ClockSetting clock(
        &backend, &shown, nullptr, [arrival] { return arrival + 1500ms; },
        [] { return QTimeZone("Europe/Madrid"); });
    Form1 form(&port, &shown, &clock);
    for (const QString &frame : frames) {
        port.chunks = QStringList{frame, ""};
        port.chunkArrival = QList<MonotonicTime>{arrival, arrival + 100ms};
        form.Timer1_Timer();
        form.Timer1_Timer();
    }

    auto *button = form.findChild<QPushButton *>(QStringLiteral("Command1"));
    for (int i = 0; i < presses; ++i)
        QTest::mouseClick(button, Qt::LeftButton);

    QCOMPARE(backend.asked, set);
    QCOMPARE(shown.shown, messages);
}

void TestCommand1::refusalIsReportedInSpanish()
{
    ScriptedSerialPort port;
    RecordingMessages shown;
    RecordingClockBackend backend;
    backend.outcome = ClockBackend::Outcome::AutomaticSync;
    ClockSetting clock(&backend, &shown, nullptr, MonotonicClock::now,
                       [] { return QTimeZone("Europe/Madrid"); });
    Form1 form(&port, &shown, &clock);
    port.chunks = QStringList{"$12:00:00,06/15/2007,5,1\r\n", ""};
    form.Timer1_Timer();
    form.Timer1_Timer();

    QTest::mouseClick(form.findChild<QPushButton *>(QStringLiteral("Command1")), Qt::LeftButton);
    QCOMPARE(backend.asked.size(), 1);
    QCOMPARE(shown.shown, QStringList{QStringLiteral("No se pudo poner en hora el PC.\r\n"
                                                     "La sincronización automática de la hora "
                                                     "está activada.")});
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
    ScriptedSerialPort port;
    RecordingMessages shown;
    RecordingClockBackend backend;
    ClockSetting clock(
        &backend, &shown, nullptr, [arrival] { return arrival; },
        [] { return QTimeZone("Europe/Madrid"); });
    Form1 form(&port, &shown, &clock);
    port.chunks = QStringList{frame, ""};
    port.chunkArrival = QList<MonotonicTime>{arrival, arrival};
    form.Timer1_Timer();
    form.Timer1_Timer();
    QTest::mouseClick(form.findChild<QPushButton *>(QStringLiteral("Command1")), Qt::LeftButton);
    QCoreApplication::removeTranslator(&english);

    // The captions are the translation's, and the instant is the frame's all the same.
    QCOMPARE(form.findChild<QLabel *>(QStringLiteral("Label7"))->text(), season);
    QCOMPARE(form.findChild<QLabel *>(QStringLiteral("Label5"))->text(), QStringLiteral("Sunday"));
    QCOMPARE(backend.asked, QList<UtcTime>{set});
    QCOMPARE(shown.shown, QStringList());
}

QTEST_MAIN(TestCommand1)
#include "tst_command1.moc"
