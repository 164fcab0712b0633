// The whole program, end to end through real parts: quorvel-sim on a real pseudo-terminal,
// the real serial port and window, and the real timedated backend talking to a fake timedated
// on a private dbus-daemon.
#include "tests/e2e/programonsimulator.h"

#include <QDateTime>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QTimeZone>

#include <optional>

using namespace std::chrono_literals;

namespace {

// A few days ahead, so that nothing can pass for the computer's own clock.
constexpr std::chrono::milliseconds Offset = 3 * 24h + 1500ms;

// Long enough for a slow, sanitized build on a busy machine.
constexpr std::chrono::milliseconds StartTimeout = 15s;

const char *const WeekdayNames[] = {"Lunes",   "Martes", "Miercoles", "Jueves",
                                    "Viernes", "Sabado", "Domingo"};

// What the clock display shows for the frame the device sends at the start of `second` of its
// clock (seconds since the epoch), in the computer's time zone.
QStringList labelsForFrame(qint64 second)
{
    const QDateTime local = QDateTime::fromSecsSinceEpoch(second, QTimeZone::systemTimeZone());
    const QDate date = local.date();
    const QTime time = local.time();
    return QStringList{
        QString::asprintf("%02d:%02d:%02d", time.hour(), time.minute(), time.second()),
        QString::asprintf("%02d/%02d/%04d", date.month(), date.day(), date.year()),
        QString::fromLatin1(WeekdayNames[date.dayOfWeek() - 1]),
        local.isDaylightTime() ? QStringLiteral("Verano") : QStringLiteral("Invierno")};
}

// The second of the device clock whose frame `shown` is, among the frames the device sent in
// the last few seconds before it was seen; none when it is no such frame.
std::optional<qint64> frameSecond(const ProgramOnSimulator::Shown &shown,
                                  std::chrono::milliseconds offset)
{
    constexpr qint64 Lookback = 4;
    const qint64 seenOnDevice =
        std::chrono::duration_cast<std::chrono::seconds>(shown.seen + offset).count();
    for (qint64 second = seenOnDevice; second > seenOnDevice - Lookback; --second) {
        if (labelsForFrame(second) == shown.labels)
            return second;
    }
    return std::nullopt;
}

QString describe(const ProgramOnSimulator::Shown &shown)
{
    return shown.labels.join(QLatin1String(" | "));
}

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void everyFrameShowsWholeAndOnTime_data();
    void everyFrameShowsWholeAndOnTime();
    void hangingUpLeavesTheWindowAnswering();
    void settingTheClockMakesOneCallWithTheDeviceTime();
    void offsetLineReadsHowFarBehindTheComputerIs();
};

void TestEndToEnd::everyFrameShowsWholeAndOnTime_data()
{
    QTest::addColumn<QStringList>("simulatorArguments");

    QTest::newRow("clean line") << QStringList{};
    QTest::newRow("noise between frames") << QStringList{"--noise", "--seed", "11"};
    QTest::newRow("frames split by a pause") << QStringList{"--split", "--seed", "12"};
    QTest::newRow("noise and split frames") << QStringList{"--noise", "--split", "--seed", "13"};
}

void TestEndToEnd::everyFrameShowsWholeAndOnTime()
{
    // Every change of the clock display shows one whole frame that the device really sent
    // in the last seconds (time, date, weekday and regime of the same second: never a garbled
    // or mixed time), and the frames follow each other second by second, none lost.
    QFETCH(QStringList, simulatorArguments);
    constexpr int Frames = 6;

    ProgramOnSimulator program;
    QVERIFY2(program.start(Offset, simulatorArguments), qPrintable(program.error));
    const bool allShown = runEventLoopUntil([&] { return program.shown.size() >= Frames; },
                                            StartTimeout + Frames * 1s);

    std::optional<qint64> previous;
    for (const ProgramOnSimulator::Shown &shown : std::as_const(program.shown)) {
        const std::optional<qint64> second = frameSecond(shown, program.offset());
        QVERIFY2(second, qPrintable(QStringLiteral("not a frame the device sent lately: ")
                                    + describe(shown)));
        if (previous)
            QVERIFY2(*second == *previous + 1,
                     qPrintable(QStringLiteral("after the frame of second %1 came %2")
                                    .arg(*previous)
                                    .arg(describe(shown))));
        previous = second;
    }
    QVERIFY2(allShown, qPrintable(QStringLiteral("%1 frames shown").arg(program.shown.size())));
    QCOMPARE(program.messagesShown(), QStringList());
    QVERIFY(program.window->portIsOpen());
}

void TestEndToEnd::hangingUpLeavesTheWindowAnswering()
{
    ProgramOnSimulator program;
    QVERIFY2(program.start(Offset, {"--hangup-after", "3"}), qPrintable(program.error));

    QVERIFY2(runEventLoopUntil([&] { return !program.window->portIsOpen(); }, StartTimeout + 3s),
             "the port still reads as open after the device hung up");
    QVERIFY(!program.shown.isEmpty());
    const QStringList last = program.window->labels();
    QVERIFY2(frameSecond(program.shown.last(), program.offset()),
             qPrintable(describe(program.shown.last())));

    // The window goes on: the poll timer ticks, events are handled at once, the port stays
    // closed without a message, and the display keeps the last whole frame.
    QSignalSpy ticks(program.window->timer1(), &QTimer::timeout);
    QVERIFY(runEventLoopUntil([&] { return ticks.count() >= 5; }, 5s));
    bool answered = false;
    QTimer::singleShot(0, &program.window->form, [&answered] { answered = true; });
    QVERIFY(runEventLoopUntil([&] { return answered; }, 1s));
    QTest::mouseClick(program.window->control("Command3"), Qt::LeftButton);
    QCOMPARE(program.messagesShown().size(), 2); // "Acerca de": its two boxes, nothing else
    QVERIFY(!program.window->portIsOpen());
    QCOMPARE(program.window->labels(), last);
}

void TestEndToEnd::settingTheClockMakesOneCallWithTheDeviceTime()
{
    // The button is pressed late in the device's second, when the shown time is already
    // 0.6 s old: only a value that counts the frame's age comes close to the device's time.
    ProgramOnSimulator program;
    QVERIFY2(program.start(Offset, {}), qPrintable(program.error));
    QVERIFY(runEventLoopUntil([&] { return !program.shown.isEmpty(); }, StartTimeout));

    const auto intoSecond = program.deviceNow() % 1s;
    runEventLoopFor(std::chrono::duration_cast<std::chrono::milliseconds>(
        (intoSecond < 600ms ? 600ms : 1600ms) - intoSecond));
    QSignalSpy finished(program.clock.get(), &ClockSetting::finished);
    QTest::mouseClick(program.window->control("Command1"), Qt::LeftButton);
    QVERIFY(runEventLoopUntil([&] { return finished.count() == 1; }, 20s));

    const QList<FakeTimedatedProcess::Call> calls = program.timedated.calls();
    QCOMPARE(calls.size(), 1);
    QCOMPARE(calls[0].relative, true);
    QCOMPARE(calls[0].interactive, true);
    const qint64 deviceAtCall =
        calls[0].receivedUsec
        + std::chrono::duration_cast<std::chrono::microseconds>(Offset).count();
    const qint64 errorUsec = calls[0].setToUsec() - deviceAtCall;
    QVERIFY2(std::abs(errorUsec) < 250'000,
             qPrintable(QStringLiteral("set %1 ms away from the device's time")
                            .arg(double(errorUsec) / 1000.0)));
    QVERIFY(program.fallback.asked.isEmpty());
    QCOMPARE(program.messagesShown(), QStringList());

    // Nothing more goes out afterwards.
    runEventLoopFor(300ms);
    QCOMPARE(program.timedated.calls().size(), 1);
}

void TestEndToEnd::offsetLineReadsHowFarBehindTheComputerIs()
{
    // The device's clock runs 2.5 s ahead of the computer's: after every frame the window says
    // so, to the millisecond within the accuracy of dating the frame's "$".
    constexpr auto Ahead = 2500ms;
    constexpr int Frames = 4;
    ProgramOnSimulator program;
    QVERIFY2(program.start(Ahead, {}), qPrintable(program.error));
    QVERIFY(runEventLoopUntil([&] { return program.shown.size() >= Frames; },
                              StartTimeout + Frames * 1s));

    for (const ProgramOnSimulator::Shown &shown : std::as_const(program.shown)) {
        const std::optional<std::chrono::milliseconds> behind = computerBehind(shown.offsetLine);
        QVERIFY2(behind, qPrintable(shown.offsetLine));
        QVERIFY2(std::chrono::abs(*behind - Ahead) <= 10ms, qPrintable(shown.offsetLine));
    }
}

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
