#include "ui/windowtexts.h"

#include <QTest>

using namespace std::chrono_literals;

class TestOffsetText : public QObject
{
    Q_OBJECT

private slots:
    void text_data();
    void text();
    void deviceClockNotes_data();
    void deviceClockNotes();
};

void TestOffsetText::text_data()
{
    QTest::addColumn<qint64>("offsetUs"); // device - computer; INT64_MIN: no time named
    QTest::addColumn<bool>("weekdayMatches");
    QTest::addColumn<QString>("text");

    const auto s = [](double seconds) { return qint64(seconds * 1e6); };
    const auto row = [](const char *tag, qint64 offsetUs, bool weekdayMatches, const char *text) {
        QTest::newRow(tag) << offsetUs << weekdayMatches << QString::fromUtf8(text);
    };
    const qint64 none = std::numeric_limits<qint64>::min();
    row("computer behind", s(2.5), true, "El PC va 2,500 s atrasado");
    row("computer ahead", s(-0.004), true, "El PC va 0,004 s adelantado");
    row("exactly right", 0, true, "El PC va en hora");
    row("just under half a millisecond behind", 499, true, "El PC va en hora");
    row("just under half a millisecond ahead", -499, true, "El PC va en hora");
    row("half a millisecond behind rounds up", 500, true, "El PC va 0,001 s atrasado");
    row("half a millisecond ahead rounds up", -500, true, "El PC va 0,001 s adelantado");
    row("rounded to the millisecond", 1234567, true, "El PC va 1,235 s atrasado");
    row("just under a minute", s(59.999), true, "El PC va 59,999 s atrasado");
    row("rounds up into a minute", 59999600, true, "El PC va 1 min 0,000 s atrasado");
    row("hours and minutes, no seconds", s(3720), true, "El PC va 1 h 2 min 0,000 s atrasado");
    row("days, zero minutes between hours and seconds", s(3 * 86400 + 5 * 3600 + 1.25), true,
        "El PC va 3 d 5 h 0 min 1,250 s atrasado");
    row("days ahead, zero hours and minutes between", -s(2 * 86400 + 0.5), true,
        "El PC va 2 d 0 h 0 min 0,500 s adelantado");
    row("whole days leave out the zero units after them", s(2 * 86400), true,
        "El PC va 2 d 0,000 s atrasado");
    row("a zero hour between days and minutes", s(86400 + 300), true,
        "El PC va 1 d 0 h 5 min 0,000 s atrasado");
    row("an hour and some seconds", -s(3600 + 7), true, "El PC va 1 h 0 min 7,000 s adelantado");
    row("no time named", none, true, "Hora del equipo no válida");
    row("weekday contradicts the date", s(2.5), false,
        "El PC va 2,500 s atrasado (el día de la semana no coincide con la fecha)");
    row("no time named, weekday contradicts the date", none, false,
        "Hora del equipo no válida (el día de la semana no coincide con la fecha)");
}

void TestOffsetText::text()
{
    QFETCH(qint64, offsetUs);
    QFETCH(bool, weekdayMatches);
    QFETCH(QString, text);

    std::optional<std::chrono::microseconds> offset;
    if (offsetUs != std::numeric_limits<qint64>::min())
        offset = std::chrono::microseconds(offsetUs);
    QCOMPARE(offsetText(offset, weekdayMatches), text);
}

void TestOffsetText::deviceClockNotes_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<bool>("weekdayMatches");
    QTest::addColumn<QString>("text");

    QTest::newRow("agreeing") << int(ClockAgreement::State::Agreeing) << true
                              << "El PC va 2,500 s atrasado";
    QTest::newRow("starting") << int(ClockAgreement::State::Starting) << true
                              << "El PC va 2,500 s atrasado";
    QTest::newRow("jumped") << int(ClockAgreement::State::Jumped) << true
                            << "El PC va 2,500 s atrasado (el reloj del dispositivo saltó)";
    QTest::newRow("standing still, weekday wrong")
        << int(ClockAgreement::State::Stopped) << false
        << "El PC va 2,500 s atrasado (el día de la semana no coincide con la fecha) (el reloj "
           "del dispositivo está parado)";
}

void TestOffsetText::deviceClockNotes()
{
    QFETCH(int, state);
    QFETCH(bool, weekdayMatches);
    QFETCH(QString, text);
    QCOMPARE(offsetText(std::chrono::microseconds(2500000), weekdayMatches,
                        ClockAgreement::State(state)),
             text);
}

QTEST_GUILESS_MAIN(TestOffsetText)
#include "tst_offsettext.moc"
