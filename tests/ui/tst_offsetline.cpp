#include "core/line.h"
#include "ui/offsetline.h"

#include <QAccessible>
#include <QLabel>
#include <QTest>

using namespace std::chrono_literals;

namespace {

// The computer's clock read 2007-06-15 10:00:00 UTC (12:00:00 in Madrid, summer time) when the
// monotonic clock read 1000 h.
const MonotonicTime Then = MonotonicTime(1000h);
const ClockPair Clocks{Then, UtcTime(std::chrono::seconds(1181901600))};

// The window's rule for the device's clock, but believing dates from 2007 on.
ClockAgreement from2007()
{
    return ClockAgreement(UtcTime(std::chrono::seconds(1167609600)), // 2007-01-01
                          ClockAgreement::DefaultAcceptStepAfter);
}

QTimeZone madrid()
{
    return QTimeZone(QByteArrayLiteral("Europe/Madrid"));
}

Frame frame(const QString &time, const QString &date, int weekday, MonotonicTime arrival)
{
    return Frame{time, date, weekday, true, arrival};
}

// A frame of 15 June 2007, 12:00:00, whose "$" arrived at `arrival`.
Frame noon(MonotonicTime arrival)
{
    return frame(QStringLiteral("12:00:00"), QStringLiteral("06/15/2007"), 5, arrival);
}

} // namespace

class TestOffsetLine : public QObject
{
    Q_OBJECT

private slots:
    void showsTheOffsetAtTheMarker_data();
    void showsTheOffsetAtTheMarker();
    void emptyBeforeTheFirstFrameAndSilentOnceFramesStop();
    void readableThroughAccessibility();
    void notesADeviceClockThatGoesWrong();
    void saysHowTheServiceKeepsTime_data();
    void saysHowTheServiceKeepsTime();
};

void TestOffsetLine::showsTheOffsetAtTheMarker_data()
{
    QTest::addColumn<QString>("time");
    QTest::addColumn<QString>("date");
    QTest::addColumn<int>("weekday");
    // The device's second began this long after the clocks were read; its "$" arrives a
    // character time later.
    QTest::addColumn<int>("arrivalMs");
    QTest::addColumn<QString>("text");

    const auto row = [](const char *tag, const char *time, const char *date, int weekday,
                        int arrivalMs, const char *text) {
        QTest::newRow(tag) << QString::fromLatin1(time) << QString::fromLatin1(date) << weekday
                           << arrivalMs << QString::fromUtf8(text);
    };
    const char *wrongDay = "El PC va en hora (el día de la semana no coincide con la fecha)";
    row("device on time", "12:00:00", "06/15/2007", 5, 0, "El PC va en hora");
    row("device 2.5 s ahead", "12:00:00", "06/15/2007", 5, -2500, "El PC va 2,500 s atrasado");
    row("the $ arrived after the clocks were read", "12:00:01", "06/15/2007", 5, 1004,
        "El PC va 0,004 s adelantado");
    row("an hour behind", "11:00:00", "06/15/2007", 5, 0, "El PC va 1 h 0,000 s adelantado");
    row("impossible date", "12:00:00", "02/30/2007", 5, 0, "Hora del equipo no válida");
    row("hour skipped in spring", "02:30:00", "03/25/2007", 7, 0, "Hora del equipo no válida");
    row("weekday of another day", "12:00:00", "06/15/2007", 4, 0, wrongDay);
    row("weekday that names no day", "12:00:00", "06/15/2007", 9, 0, wrongDay);
}

void TestOffsetLine::showsTheOffsetAtTheMarker()
{
    QFETCH(QString, time);
    QFETCH(QString, date);
    QFETCH(int, weekday);
    QFETCH(int, arrivalMs);
    QFETCH(QString, text);

    QLabel label;
    OffsetLine line(
        &label, [] { return Clocks; }, madrid, from2007());
    line.show(
        frame(time, date, weekday, Then + std::chrono::milliseconds(arrivalMs) + CharacterTime));
    QCOMPARE(label.text(), text);
}

void TestOffsetLine::emptyBeforeTheFirstFrameAndSilentOnceFramesStop()
{
    QLabel label(QStringLiteral("left from before"));
    OffsetLine line(
        &label, [] { return Clocks; }, madrid, from2007());
    QCOMPARE(label.text(), QString());

    // Frames a second apart keep the line; once they stop, after three seconds it says the
    // device is silent, and no longer shows the last figure.
    const MonotonicTime arrival = Then + CharacterTime;
    line.show(noon(arrival));
    QTest::qWait(1000);
    line.show(noon(arrival));
    QTest::qWait(2500);
    QCOMPARE(label.text(), QStringLiteral("El PC va en hora"));
    QTRY_COMPARE_WITH_TIMEOUT(label.text(), QStringLiteral("El dispositivo no envía tramas"), 1000);
}

void TestOffsetLine::readableThroughAccessibility()
{
    QLabel label;
    OffsetLine line(
        &label, [] { return Clocks; }, madrid, from2007());
    line.show(noon(Then - 2500ms + CharacterTime));
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(&label);
    QVERIFY(accessible);
    QCOMPARE(accessible->text(QAccessible::Name), QStringLiteral("El PC va 2,500 s atrasado"));
}

void TestOffsetLine::notesADeviceClockThatGoesWrong()
{
    QLabel label;
    MonotonicTime now = Then;
    OffsetLine line(
        &label,
        [&now] {
            return ClockPair{
                now,
                Clocks.real + std::chrono::duration_cast<std::chrono::microseconds>(now - Then)};
        },
        madrid, from2007());
    // One frame a second, the device's time `second` seconds from 12:00:00.
    const auto at = [&](int second) {
        now += 1s;
        line.show(frame(QTime(12, 0).addSecs(second).toString(QStringLiteral("HH:mm:ss")),
                        QStringLiteral("06/15/2007"), 5, now));
        return label.text();
    };
    for (int second = 1; second <= 3; ++second)
        QCOMPARE(at(second), QStringLiteral("El PC va 0,002 s atrasado"));
    QCOMPARE(at(14), QStringLiteral("El PC va 10,002 s atrasado (el reloj del dispositivo saltó)"));
    // Back in step: the note stays until three frames agree.
    QCOMPARE(at(5), QStringLiteral("El PC va 0,002 s atrasado (el reloj del dispositivo saltó)"));
    QCOMPARE(at(6), QStringLiteral("El PC va 0,002 s atrasado (el reloj del dispositivo saltó)"));
    QCOMPARE(at(7), QStringLiteral("El PC va 0,002 s atrasado"));
    QCOMPARE(at(7), QStringLiteral("El PC va 0,998 s adelantado (el reloj del dispositivo está "
                                   "parado)"));
    // The port begins a new stream: the device's clock is judged anew, its jump forgotten.
    QCOMPARE(at(30), QStringLiteral("El PC va 21,002 s atrasado (el reloj del dispositivo saltó)"));
    line.restart();
    QCOMPARE(at(31), QStringLiteral("El PC va 21,002 s atrasado"));
    // A date before this program's is never believed, and says so.
    const QString flatBattery = QStringLiteral(" (la fecha del dispositivo es anterior a este "
                                               "programa)");
    QLabel other;
    OffsetLine byBuildDate(
        &other, [] { return Clocks; }, madrid);
    byBuildDate.show(noon(Then + CharacterTime));
    QCOMPARE(other.text(), QStringLiteral("El PC va en hora") + flatBattery);
}

void TestOffsetLine::saysHowTheServiceKeepsTime_data()
{
    QTest::addColumn<int>("state"); // KeepingTime::State
    QTest::addColumn<int>("reason");
    QTest::addColumn<QString>("said");

    using State = KeepingTime::State;
    using Reason = KeepingTime::Reason;
    const auto row = [](const char *name, State state, Reason reason, const char *said) {
        QTest::newRow(name) << int(state) << int(reason) << QString::fromUtf8(said);
    };
    row("keeps time", State::KeepsTime, Reason::None,
        " · el servicio pone en hora el PC con el dispositivo");
    row("calibrating", State::Calibrating, Reason::None, " · el servicio calibra el dispositivo");
    row("device clock jumped", State::NotFollowed, Reason::DeviceClockJumped,
        " · el servicio no sigue el dispositivo: su reloj saltó");
    row("implausible date", State::NotFollowed, Reason::ImplausibleDate,
        " · el servicio no sigue el dispositivo: su fecha es anterior a este programa");
    row("chrony follows another source", State::NotFollowed, Reason::FollowsOther,
        " · el servicio no sigue el dispositivo: chrony sigue otra fuente");
    row("Windows Time service not reading", State::NotFollowed, Reason::NoTimeService,
        " · el servicio no sigue el dispositivo: el servicio de hora de Windows no lee sus "
        "muestras");
}

void TestOffsetLine::saysHowTheServiceKeepsTime()
{
    QFETCH(int, state);
    QFETCH(int, reason);
    QFETCH(QString, said);
    QLabel label;
    OffsetLine line(
        &label, [] { return Clocks; }, madrid, from2007());
    const Frame onTime = noon(Then + CharacterTime);
    line.setKeepingTime(KeepingTime{KeepingTime::State(state), KeepingTime::Reason(reason)});
    line.show(onTime);
    QCOMPARE(label.text(), QStringLiteral("El PC va en hora") + said);
    // Reading the device itself: the line says nothing of a service.
    line.setKeepingTime(std::nullopt);
    line.show(onTime);
    QCOMPARE(label.text(), QStringLiteral("El PC va en hora"));
}

QTEST_MAIN(TestOffsetLine)
#include "tst_offsetline.moc"
