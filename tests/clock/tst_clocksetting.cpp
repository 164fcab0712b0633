#include "clock/clocksetting.h"
#include "frametime/frametime.h"
#include "tests/support/environmentsetting.h"
#include "tests/support/recordingclockbackend.h"

#include <QDateTime>
#include <QSignalSpy>
#include <QTest>

using namespace std::chrono_literals;

namespace {

using Outcome = ClockBackend::Outcome;

// What the computer's clock reads, in the tests that give it: 9 December 2026, 01:00 UTC.
const UtcTime ComputerNow(std::chrono::microseconds(1796778000000000));

// The time set, to the millisecond, less the line's character time by which a "$" arrives
// after the second it names began: the device's time at its "$" (no device delay set).
QDateTime asDateTime(UtcTime utc)
{
    const auto atMarker = utc.time_since_epoch()
                          - std::chrono::duration_cast<std::chrono::microseconds>(markerLateness());
    return QDateTime::fromMSecsSinceEpoch(
        std::chrono::duration_cast<std::chrono::milliseconds>(atMarker).count(), Qt::UTC);
}

// A summer frame of 15 June 2007, 12:00:00, whose "$" arrived at `arrival`.
Frame frame(MonotonicTime arrival)
{
    return Frame{QStringLiteral("12:00:00"), QStringLiteral("06/15/2007"), 5, true, arrival};
}

// The clocks read at a press: the monotonic clock at `now`, the computer's at ComputerNow.
ClockPair clocksAt(MonotonicTime now)
{
    return ClockPair{now, ComputerNow};
}

// How the setting that `finished` recorded as its `index`th ended.
Outcome outcomeOf(const QSignalSpy &finished, qsizetype index = 0)
{
    return finished.at(index).at(0).value<Outcome>();
}

// The system's words that came with it.
QString systemTextOf(const QSignalSpy &finished, qsizetype index = 0)
{
    return finished.at(index).at(1).toString();
}

// The instants every setting asked the clock to read, as asDateTime() gives them: the
// computer's clock as the test gave it, plus each offset asked for.
QList<QDateTime> setTimes(const RecordingClockBackend &backend)
{
    QList<QDateTime> times;
    for (const std::chrono::microseconds offset : backend.asked)
        times.append(asDateTime(ComputerNow + offset));
    return times;
}

// 15 June 2007, 12:00 read in Madrid, then in New York.
const QList<QDateTime> MadridThenNewYork{QDateTime(QDate(2007, 6, 15), QTime(10, 0), Qt::UTC),
                                         QDateTime(QDate(2007, 6, 15), QTime(16, 0), Qt::UTC)};

// How late a frame's "$" is readable after the second it names began, on a device of no delay
// of its own: the line's character time.
const std::chrono::microseconds Lateness = std::chrono::duration_cast<std::chrono::microseconds>(
    markerLateness(std::chrono::nanoseconds{0}));

// "Poner en hora el PC" with a recording backend, clocks that stand still unless the test
// moves them, and Madrid as the computer's time zone.
struct Press
{
    RecordingClockBackend backend;
    MonotonicTime now = MonotonicTime(1000h);
    UtcTime computerNow = ComputerNow;
    ClockSetting setting{&backend, nullptr,
                         [this] {
                             return ClockPair{now, computerNow};
                         },
                         [] { return QTimeZone(QByteArrayLiteral("Europe/Madrid")); }};
    QSignalSpy finished{&setting, &ClockSetting::finished};
};

} // namespace

class TestClockSetting : public QObject
{
    Q_OBJECT

private slots:
    void nothingToSet_data();
    void nothingToSet();
    void noFrameYetIsInvalid();
    void setsShownTimePlusFrameAge_data();
    void setsShownTimePlusFrameAge();
    void addsTheLineAndTheDeviceDelay_data();
    void addsTheLineAndTheDeviceDelay();
    void refusalIsReported_data();
    void refusalIsReported();
    void pressingTwiceSetsTwice();
    void offsetIsTheDevicesTimeMinusTheComputersAtOneInstant_data();
    void offsetIsTheDevicesTimeMinusTheComputersAtOneInstant();
    void pressWhileWaitingIsIgnored();
    void noAnswerIsGivenUp();
    void zoneIsReadAtEachPress();
    void computerZoneIsTheDefault();
    void computerZoneIsReadAtEachPress();
};

void TestClockSetting::nothingToSet_data()
{
    QTest::addColumn<QString>("date");
    QTest::addColumn<QString>("time");
    QTest::addColumn<bool>("summer");
    QTest::addColumn<bool>("invalid"); // the press ends as naming no valid time; else skipped

    const bool none = false;
    const bool invalid = true;
    const auto row = [](const char *tag, const char *date, const char *time, bool summer,
                        bool invalid) {
        QTest::newRow(tag) << QString::fromLatin1(date) << QString::fromLatin1(time) << summer
                           << invalid;
    };
    row("time empty", "06/15/2007", "", true, none);
    row("date empty", "", "12:00:00", true, none);
    row("both empty", "", "", true, none);
    row("blank date", "   ", "12:00:00", true, invalid);
    row("blank time", "06/15/2007", " ", true, invalid);
    row("the window's placeholders", "mm/dd/aaaa", "hh:mm:ss", false, invalid);
    row("impossible date", "02/30/2007", "12:00:00", false, invalid);
    row("impossible time", "06/15/2007", "24:00:00", true, invalid);
    row("day-first date", "15/06/2007", "12:00:00", true, invalid);
    row("skipped spring hour", "03/25/2007", "02:30:00", true, invalid);
    row("before 1970", "06/15/1960", "12:00:00", true, invalid);
}

void TestClockSetting::nothingToSet()
{
    QFETCH(QString, date);
    QFETCH(QString, time);
    QFETCH(bool, summer);
    QFETCH(bool, invalid);

    Press press;
    press.setting.setFromFrame(Frame{time, date, 5, summer, press.now - 1s});
    QVERIFY(press.backend.asked.isEmpty());
    // Something was done (an outcome handed back) exactly when the press was not skipped.
    QCOMPARE(press.finished.count(), invalid ? 1 : 0);
    if (invalid)
        QCOMPARE(outcomeOf(press.finished), Outcome::NoValidTime);
    // Not left waiting: the next press with a good frame goes to the backend.
    press.setting.setFromFrame(frame(press.now));
    QCOMPARE(press.backend.asked.size(), 1);
}

void TestClockSetting::noFrameYetIsInvalid()
{
    // Before the first frame the window shows placeholders, which name no time.
    Press press;
    press.setting.setFromFrame(std::nullopt);
    QVERIFY(press.backend.asked.isEmpty());
    QCOMPARE(press.finished.count(), 1);
    QCOMPARE(outcomeOf(press.finished), Outcome::NoValidTime);
}

void TestClockSetting::setsShownTimePlusFrameAge_data()
{
    QTest::addColumn<QString>("date");
    QTest::addColumn<QString>("time");
    QTest::addColumn<bool>("summer");
    QTest::addColumn<int>("ageMs");
    QTest::addColumn<QDateTime>("expected");

    // A frame naming `time` on `date`, read `ageMs` after its "$" arrived, sets `utc`.
    const auto row = [](const char *tag, const char *date, const char *time, bool summer, int ageMs,
                        const char *utc) {
        QTest::newRow(tag) << QString::fromLatin1(date) << QString::fromLatin1(time) << summer
                           << ageMs << QDateTime::fromString(QLatin1String(utc), Qt::ISODateWithMs);
    };
    row("fresh frame", "06/15/2007", "12:00:00", true, 0, "2007-06-15T10:00:00Z");
    row("arrival after now counts as no age", "06/15/2007", "12:00:00", true, -1,
        "2007-06-15T10:00:00Z");
    row("frame read at the next poll", "06/15/2007", "12:00:00", true, 250,
        "2007-06-15T10:00:00.250Z");
    row("device silent for a minute", "06/15/2007", "12:00:00", true, 61500,
        "2007-06-15T10:01:01.500Z");
    row("age carries into the new year", "12/31/2007", "23:59:59", false, 2000,
        "2007-12-31T23:00:01Z");
    row("winter", "01/15/2007", "12:00:00", false, 0, "2007-01-15T11:00:00Z");
    row("repeated autumn hour, summer", "10/28/2007", "02:30:00", true, 0, "2007-10-28T00:30:00Z");
    row("repeated autumn hour, winter", "10/28/2007", "02:30:00", false, 0, "2007-10-28T01:30:00Z");
    row("one-digit fields", "6/1/2007", "9:05:07", true, 0, "2007-06-01T07:05:07Z");
}

void TestClockSetting::setsShownTimePlusFrameAge()
{
    QFETCH(QString, date);
    QFETCH(QString, time);
    QFETCH(bool, summer);
    QFETCH(int, ageMs);
    QFETCH(QDateTime, expected);

    Press press;
    press.setting.setFromFrame(
        Frame{time, date, 5, summer, press.now - std::chrono::milliseconds(ageMs)});

    QCOMPARE(setTimes(press.backend), QList<QDateTime>{expected});
    QCOMPARE(press.finished.count(), 1);
    QCOMPARE(outcomeOf(press.finished), Outcome::Set);
}

void TestClockSetting::addsTheLineAndTheDeviceDelay_data()
{
    QTest::addColumn<int>("delayMs");
    QTest::addColumn<int>("ageMs");
    QTest::addColumn<qint64>("lateUs"); // the time set, after 10:00:00 UTC

    // The "$" of 12:00:00 (Madrid, summer) arrives a character time (2083 us) and the
    // device's delay after 12:00:00 began.
    QTest::newRow("line only, fresh") << 0 << 0 << 2083LL;
    QTest::newRow("line only, read 250 ms on") << 0 << 250 << 252083LL;
    QTest::newRow("delay 300 ms, fresh") << 300 << 0 << 302083LL;
    QTest::newRow("delay 140 ms, read 1 s on") << 140 << 1000 << 1142083LL;
}

void TestClockSetting::addsTheLineAndTheDeviceDelay()
{
    QFETCH(int, delayMs);
    QFETCH(int, ageMs);
    QFETCH(qint64, lateUs);

    Press press;
    press.setting.setDeviceDelay(std::chrono::milliseconds(delayMs));
    press.setting.setFromFrame(frame(press.now - std::chrono::milliseconds(ageMs)));
    QCOMPARE(press.backend.asked.size(), 1);
    const UtcTime second(std::chrono::seconds(1181901600)); // 2007-06-15 10:00:00 UTC
    QCOMPARE((press.computerNow + press.backend.asked.first() - second).count(), lateUs);
}

void TestClockSetting::refusalIsReported_data()
{
    QTest::addColumn<ClockBackend::Outcome>("outcome");
    QTest::addColumn<QString>("systemText");

    QTest::newRow("set") << ClockBackend::Outcome::Set << "";
    QTest::newRow("no permission") << ClockBackend::Outcome::NoPermission << "Access denied";
    QTest::newRow("automatic sync")
        << ClockBackend::Outcome::AutomaticSync << "Automatic time synchronization is enabled";
    QTest::newRow("other refusal: the service's own words")
        << ClockBackend::Outcome::Refused << "Failed to update context: No route to host";
    QTest::newRow("other refusal without words") << ClockBackend::Outcome::Refused << "";
}

void TestClockSetting::refusalIsReported()
{
    QFETCH(ClockBackend::Outcome, outcome);
    QFETCH(QString, systemText);

    Press press;
    press.backend.outcome = outcome;
    press.backend.systemText = systemText;
    press.setting.setFromFrame(frame(press.now));
    QCOMPARE(press.backend.asked.size(), 1);
    QCOMPARE(press.finished.count(), 1);
    // A refusal carries the backend's answer and the system's own words, as they came.
    QCOMPARE(outcomeOf(press.finished), outcome);
    QCOMPARE(systemTextOf(press.finished), outcome == Outcome::Set ? QString() : systemText);
}

void TestClockSetting::pressingTwiceSetsTwice()
{
    // Nothing is remembered between presses: each sets from the labels and the frame age as
    // they stand at that press.
    Press press;
    const Frame shown = frame(press.now);
    press.setting.setFromFrame(shown);
    press.now += 5s;
    press.setting.setFromFrame(shown);

    QCOMPARE(setTimes(press.backend),
             (QList<QDateTime>{QDateTime(QDate(2007, 6, 15), QTime(10, 0), Qt::UTC),
                               QDateTime(QDate(2007, 6, 15), QTime(10, 0, 5), Qt::UTC)}));
    QCOMPARE(press.finished.count(), 2);
}

void TestClockSetting::offsetIsTheDevicesTimeMinusTheComputersAtOneInstant_data()
{
    QTest::addColumn<int>("computerAheadMs");  // how far the computer's clock has moved on
    QTest::addColumn<int>("monotonicAheadMs"); // how far the monotonic clock has, meanwhile

    QTest::newRow("both clocks moved on together") << 7000 << 7000;
    QTest::newRow("the computer's clock was set back meanwhile") << -3600000 << 7000;
    QTest::newRow("the computer's clock jumped ahead meanwhile") << 86400000 << 7000;
    QTest::newRow("nothing moved") << 0 << 0;
}

void TestClockSetting::offsetIsTheDevicesTimeMinusTheComputersAtOneInstant()
{
    // The offset handed over is the device's time now (the frame's instant plus its age on the
    // monotonic clock) minus the computer's clock as read together with the monotonic one: a
    // change of the computer's clock since the frame arrived does not enter the device's time.
    QFETCH(int, computerAheadMs);
    QFETCH(int, monotonicAheadMs);

    Press press;
    const Frame shown = frame(press.now);
    press.now += std::chrono::milliseconds(monotonicAheadMs);
    press.computerNow += std::chrono::milliseconds(computerAheadMs);
    press.setting.setFromFrame(shown);

    QCOMPARE(press.backend.asked.size(), 1);
    const UtcTime device =
        UtcTime(std::chrono::milliseconds(
            QDateTime(QDate(2007, 6, 15), QTime(10, 0), Qt::UTC).toMSecsSinceEpoch()))
        + std::chrono::milliseconds(monotonicAheadMs) + Lateness;
    QCOMPARE(press.backend.asked[0].count(), (device - press.computerNow).count());
}

void TestClockSetting::pressWhileWaitingIsIgnored()
{
    // While the system asks for a password, another press starts nothing; the answer, when it
    // comes, is reported then.
    Press press;
    press.backend.answerAtOnce = false;
    press.backend.outcome = ClockBackend::Outcome::NoPermission;
    press.setting.setFromFrame(frame(press.now));
    press.setting.setFromFrame(frame(press.now));
    press.setting.setFromFrame(std::nullopt); // not even the lack of a frame is reported now
    QCOMPARE(press.backend.asked.size(), 1);
    QCOMPARE(press.finished.count(), 0);

    press.backend.answer();
    QCOMPARE(press.finished.count(), 1);
    QCOMPARE(outcomeOf(press.finished), ClockBackend::Outcome::NoPermission);

    // No longer waiting: the next press starts a setting again.
    press.setting.setFromFrame(frame(press.now));
    QCOMPARE(press.backend.asked.size(), 2);
}

void TestClockSetting::noAnswerIsGivenUp()
{
    // The clock service never answers: the setting is given up after the time limit, said
    // so, and the button works again; the late answer is not taken for the next press's.
    RecordingClockBackend backend;
    backend.answerAtOnce = false;
    ClockSetting setting(
        &backend, nullptr, [] { return clocksAt(MonotonicTime(1000h)); },
        [] { return QTimeZone(QByteArrayLiteral("Europe/Madrid")); }, 50ms);
    QSignalSpy finished(&setting, &ClockSetting::finished);
    setting.setFromFrame(frame(MonotonicTime(1000h)));
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 2000);
    QCOMPARE(outcomeOf(finished), ClockBackend::Outcome::NoAnswer);

    setting.setFromFrame(frame(MonotonicTime(1000h)));
    QCOMPARE(backend.asked.size(), 2);
    backend.outcome = ClockBackend::Outcome::NoPermission;
    backend.answer(); // the first request's, long given up
    QCOMPARE(finished.count(), 1);
    backend.outcome = ClockBackend::Outcome::Set;
    backend.answer(); // the second's
    QCOMPARE(finished.count(), 2);
    QCOMPARE(outcomeOf(finished, 1), ClockBackend::Outcome::Set);
}

void TestClockSetting::zoneIsReadAtEachPress()
{
    // The zone is asked for at every press, so that a change of the computer's zone while the
    // program runs is followed.
    RecordingClockBackend backend;
    QByteArray zoneId = QByteArrayLiteral("Europe/Madrid");
    int asked = 0;
    const MonotonicTime now = MonotonicClock::now();
    ClockSetting setting(
        &backend, nullptr, [now] { return clocksAt(now); },
        [&] {
            ++asked;
            return QTimeZone(zoneId);
        });
    const Frame shown = frame(now + 1h); // no age to add

    setting.setFromFrame(shown);
    zoneId = QByteArrayLiteral("America/New_York");
    setting.setFromFrame(shown);

    QCOMPARE(asked, 2);
    QCOMPARE(setTimes(backend), MadridThenNewYork);
}

void TestClockSetting::computerZoneIsTheDefault()
{
    // Without a zone given, the shown time is read in the computer's zone: the same instant as
    // the system's own local-time conversion gives (a winter and a summer date, away from any
    // change of offset).
#ifdef Q_OS_WIN
    // Windows keeps the computer's zone in its settings, which wine derives from the Unix TZ.
    // Wine also copies TZ itself into the Windows environment, where the C runtime behind local
    // time reads it as a Windows-style zone text and gets an IANA name wrong; without TZ the
    // runtime takes the system's zone, as it does on a Windows machine.
    qunsetenv("TZ");
#endif
    // The clocks are the computer's own too: the offset asked for, added to the computer's
    // clock as it read around the press, gives the instant the frame names.
    RecordingClockBackend backend;
    ClockSetting setting(&backend);
    for (const QDate &date : {QDate(2007, 1, 15), QDate(2007, 7, 15)}) {
        const UtcTime before = std::chrono::time_point_cast<std::chrono::microseconds>(
            std::chrono::system_clock::now());
        setting.setFromFrame(Frame{QStringLiteral("12:00:00"),
                                   date.toString(QStringLiteral("MM/dd/yyyy")), date.dayOfWeek(),
                                   false, MonotonicClock::now() + 1h});
        const UtcTime after = std::chrono::time_point_cast<std::chrono::microseconds>(
            std::chrono::system_clock::now());
        QVERIFY(!backend.asked.isEmpty());
        const QDateTime expected = QDateTime(date, QTime(12, 0), Qt::LocalTime).toUTC();
        const UtcTime named(std::chrono::milliseconds(expected.toMSecsSinceEpoch()));
        QVERIFY(named + Lateness - backend.asked.last() >= before);
        QVERIFY(named + Lateness - backend.asked.last() <= after);
    }
    QCOMPARE(backend.asked.size(), 2);
}

void TestClockSetting::computerZoneIsReadAtEachPress()
{
#ifndef Q_OS_UNIX
    QSKIP("changes the computer's zone through TZ, which Windows does not read for its zone; "
          "zoneIsReadAtEachPress covers this with the zone injected");
#endif
    RecordingClockBackend backend;
    const MonotonicTime now = MonotonicClock::now();
    ClockSetting setting(&backend, nullptr, [now] { return clocksAt(now); });
    const Frame shown = frame(now + 1h); // no age to add
    {
        EnvironmentSetting tz("TZ", "Europe/Madrid");
        setting.setFromFrame(shown);
        tz.set("America/New_York");
        setting.setFromFrame(shown);
    }
    QCOMPARE(setTimes(backend), MadridThenNewYork);
}

QTEST_GUILESS_MAIN(TestClockSetting)
#include "tst_clocksetting.moc"
