#include "core/duration.h"
#include "tests/support/linereader.h"
#include "tests/support/pseudoterminal.h"
#include "tests/support/simulatorprocess.h"
#include "tools/sim/deviceline.h"
#include "tools/sim/frametext.h"
#include "tools/sim/simoptions.h"
#include "tools/sim/slotplan.h"

#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSet>
#include <QTest>
#include <QTimeZone>

#include <algorithm>
#include <csignal>
#include <optional>

using namespace std::chrono_literals;
using std::chrono::nanoseconds;

namespace {

// A whole frame: "$hh:mm:ss,mm/dd/yyyy,weekday,summer" CR LF.
const QRegularExpression
    WholeFrame(QStringLiteral(R"(^\$(\d\d:\d\d:\d\d),(\d\d/\d\d/\d{4}),([1-7]),([01])\r\n$)"));

QDateTime at(const QString &zone, int year, int month, int day, int hour, int minute, int second,
             int millisecond = 0)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second, millisecond),
                     QTimeZone(zone.toLatin1()));
}

nanoseconds instantOf(const QDateTime &time)
{
    return std::chrono::milliseconds(time.toMSecsSinceEpoch());
}

// A slot of 9 July 2025, 07:45:30 UTC, and the frame that names it.
const nanoseconds Morning = std::chrono::seconds(1752047130);
const QByteArray MorningFrame("$07:45:30,07/09/2025,3,0\r\n");

// Every field of `options`, so that a table compares them all at once.
QString describe(const SimOptions &options)
{
    QStringList flags;
    if (options.noise)
        flags << QStringLiteral("noise");
    if (options.split)
        flags << QStringLiteral("split");
    if (options.malformed)
        flags << QStringLiteral("malformed");
    if (options.verbose)
        flags << QStringLiteral("verbose");
    QStringList jumps;
    for (const ClockJump &jump : options.jumps)
        jumps << QStringLiteral("%1@%2").arg(jump.by.count()).arg(jump.afterFrame);
    return QStringLiteral("offset %1 period %2 device '%3' count %4 silence %5 burst %6 "
                          "hangup %7 seed %8 [%9] delay %10 jitter %11 latency %12 jump %13 "
                          "freeze %14")
        .arg(options.offset.count())
        .arg(options.period.count())
        .arg(options.device)
        .arg(options.count)
        .arg(options.silence.count())
        .arg(options.burst)
        .arg(options.hangupAfter)
        .arg(options.seed ? QString::number(*options.seed) : QStringLiteral("-"))
        .arg(flags.join(u' '))
        .arg(options.delay.count())
        .arg(options.jitter.count())
        .arg(options.latency.count())
        .arg(jumps.isEmpty() ? QStringLiteral("-") : jumps.join(u','))
        .arg(options.freezeAfter);
}

// The kind of frame `text` is, in the words of the malformed table.
QString kindOf(const QByteArray &text)
{
    const QString frame = QString::fromLatin1(text);
    const QList<std::pair<const char *, const char *>> kinds{
        {"whole", R"(^\$\d\d:\d\d:\d\d,\d\d/\d\d/\d{4},[1-7],[01]\r\n$)"},
        {"missing field", R"(^\$\d\d:\d\d:\d\d,\d\d/\d\d/\d{4},[1-7]\r\n$)"},
        {"garbled time", R"(^\$\d[A-J]:\d[A-J]:\d[A-J],\d\d/\d\d/\d{4},[1-7],[01]\r\n$)"},
        {"empty fields", R"(^\$,,,\r\n$)"},
        {"bad numbers", R"(^\$\d\d:\d\d:\d\d,\d\d/\d\d/\d{4},9,x\r\n$)"},
        {"cut short", R"(^\$\d\d:\d\r\n$)"},
    };
    for (const auto &[name, pattern] : kinds) {
        if (QRegularExpression(QString::fromLatin1(pattern)).match(frame).hasMatch())
            return QString::fromLatin1(name);
    }
    return QStringLiteral("unknown: ") + frame;
}

// Whether `text` is one whole frame.
bool isWhole(const QByteArray &text)
{
    return WholeFrame.match(QString::fromLatin1(text)).hasMatch();
}

// The second a whole frame's `fields` name, read in `zone`.
QDateTime namedTime(const QRegularExpressionMatch &fields, const QTimeZone &zone)
{
    return QDateTime(QDate::fromString(fields.captured(2), QStringLiteral("MM/dd/yyyy")),
                     QTime::fromString(fields.captured(1), QStringLiteral("hh:mm:ss")), zone);
}

// How many pieces `frame` arrived in: the distinct arrival times of its bytes.
qsizetype piecesOf(const LineReader &line, const LineReader::Frame &frame)
{
    QSet<qint64> distinct;
    for (qsizetype i = 0; i < frame.size(); ++i)
        distinct.insert(line.arrivals.at(frame.position + i).count());
    return distinct.size();
}

// The simulator as a process, and a reader on the line it printed.
struct Run
{
    QProcess simulator;
    std::optional<LineReader> line;

    // Starts the simulator with `arguments` in `zone` and opens its line; `freshOnly` as in
    // LineReader.
    bool start(const QStringList &arguments, bool freshOnly = false, const QString &zone = {})
    {
        line.emplace(startSimulator(simulator, arguments, zone), freshOnly);
        return line->isOpen();
    }
    // Starts it and reads until the simulator hangs up the line.
    bool readAll(const QStringList &arguments, bool freshOnly = false, const QString &zone = {},
                 std::chrono::milliseconds timeout = 5s)
    {
        return start(arguments, freshOnly, zone) && line->readToHangUp(timeout);
    }
};

} // namespace

class TestQuorvelSim : public QObject
{
    Q_OBJECT

private slots:
    // The pieces, without processes.
    void duration_data();
    void duration();
    void options_data();
    void options();
    void optionErrors_data();
    void optionErrors();
    void frameText_data();
    void frameText();
    void malformedFrameText_data();
    void malformedFrameText();
    void malformedFramesTakeTurns();
    void characterTimesDoNotDrift();
    void slotAtOrAfter_data();
    void slotAtOrAfter();
    void burstFramesHoldTheTimeOfTheirMarker();
    void splitFramesPauseInside();
    void latenessMovesFramesNotTheirTime_data();
    void latenessMovesFramesNotTheirTime();
    void jitterFollowsTheSeed();
    void frozenSlotsHoldTheFrozenTime();
    void noiseFallsBetweenFrames_data();
    void noiseFallsBetweenFrames();
    void sendingNeverBlocks();
    void unreadBytesAreDroppedOnlyWhenNobodyReads_data();
    void unreadBytesAreDroppedOnlyWhenNobodyReads();

    // The simulator as a process, read through its pseudo-terminal.
    void deviceClock_data();
    void deviceClock();
    void noiseNeverHoldsAMarker();
    void splitFramesSpanPolls();
    void malformedFramesInTurn();
    void silenceAfterEveryThirdSlot();
    void burstSendsFramesBackToBack();
    void markerReadableAfterItsStopBit_data();
    void markerReadableAfterItsStopBit();
    void latencyHandsBytesOverInBursts_data();
    void latencyHandsBytesOverInBursts();
    void clockFaults_data();
    void clockFaults();
    void lineEnds_data();
    void lineEnds();
    void stopSignals_data();
    void stopSignals();
    void commandLine_data();
    void commandLine();
    void sendsOnAGivenDevice();
};

void TestQuorvelSim::duration_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<qint64>("nanoseconds");

    QTest::newRow("days") << "3d" << true << 259'200'000'000'000LL;
    QTest::newRow("negative fractional hours") << "-1.5h" << true << -5'400'000'000'000LL;
    QTest::newRow("milliseconds") << "250ms" << true << 250'000'000LL;
    QTest::newRow("bare negative seconds") << "-0.3" << true << -300'000'000LL;
    QTest::newRow("leading point") << ".5" << true << 500'000'000LL;
    QTest::newRow("one nanosecond") << "0.000000001" << true << 1LL;
    QTest::newRow("a hundred years") << "36525d" << true << 3'155'760'000'000'000'000LL;
    QTest::newRow("beyond a hundred years") << "36526d" << false << 0LL;
    QTest::newRow("empty") << "" << false << 0LL;
    QTest::newRow("blank before unit") << "3 d" << false << 0LL;
    QTest::newRow("unknown unit") << "3x" << false << 0LL;
    QTest::newRow("two points") << "1.2.3" << false << 0LL;
    QTest::newRow("two signs") << "--3" << false << 0LL;
}

void TestQuorvelSim::duration()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(qint64, nanoseconds);

    const std::optional<std::chrono::nanoseconds> parsed = parseDuration(text);
    QCOMPARE(parsed.has_value(), valid);
    if (valid)
        QCOMPARE(parsed->count(), nanoseconds);
}

void TestQuorvelSim::options_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("expected");

    QTest::newRow("defaults")
        << QStringList{}
        << "offset 0 period 1000000000 device '' count 0 silence 0 "
           "burst 1 hangup 0 seed - [] delay 0 jitter 0 latency 0 jump - freeze 0";
    QTest::newRow("offset in days, fractional period")
        << QStringList{"--offset", "3d", "--period", "0.5"}
        << "offset 259200000000000 period 500000000 device '' count 0 silence 0 burst 1 "
           "hangup 0 seed - [] delay 0 jitter 0 latency 0 jump - freeze 0";
    QTest::newRow("negative offset as next argument")
        << QStringList{"--offset", "-1.5h"}
        << "offset -5400000000000 period 1000000000 device '' count 0 silence 0 burst 1 "
           "hangup 0 seed - [] delay 0 jitter 0 latency 0 jump - freeze 0";
    QTest::newRow("negative offset after equals")
        << QStringList{"--offset=-250ms"}
        << "offset -250000000 period 1000000000 device '' count 0 silence 0 burst 1 "
           "hangup 0 seed - [] delay 0 jitter 0 latency 0 jump - freeze 0";
    QTest::newRow("device, count, seed, verbose")
        << QStringList{"--device", "/dev/ttyUSB0", "--count", "10", "--seed", "42", "--verbose"}
        << "offset 0 period 1000000000 device '/dev/ttyUSB0' count 10 silence 0 burst 1 "
           "hangup 0 seed 42 [verbose] delay 0 jitter 0 latency 0 jump - freeze 0";
    QTest::newRow("every fault")
        << QStringList{"--noise", "--split", "--malformed",    "--silence", "2.5",
                       "--burst", "5",       "--hangup-after", "3"}
        << "offset 0 period 1000000000 device '' count 0 silence 2500000000 burst 5 hangup 3 "
           "seed - [noise split malformed] delay 0 jitter 0 latency 0 jump - freeze 0";
    QTest::newRow("largest seed")
        << QStringList{"--seed", "4294967295"}
        << "offset 0 period 1000000000 device '' count 0 silence 0 burst 1 hangup 0 "
           "seed 4294967295 [] delay 0 jitter 0 latency 0 jump - freeze 0";
    QTest::newRow("device delay and jitter, adapter latency")
        << QStringList{"--delay", "0.3", "--jitter", "20ms", "--latency", "16ms"}
        << "offset 0 period 1000000000 device '' count 0 silence 0 burst 1 hangup 0 seed - [] "
           "delay 300000000 jitter 20000000 latency 16000000 jump - freeze 0";
    QTest::newRow("zero delay and jitter")
        << QStringList{"--delay", "0", "--jitter", "0ms"}
        << "offset 0 period 1000000000 device '' count 0 silence 0 burst 1 hangup 0 seed - [] "
           "delay 0 jitter 0 latency 0 jump - freeze 0";
    QTest::newRow("jumps in frame order, freeze")
        << QStringList{"--jump", "-1.5h@7", "--jump=2s@3", "--freeze", "10"}
        << "offset 0 period 1000000000 device '' count 0 silence 0 burst 1 hangup 0 seed - [] "
           "delay 0 jitter 0 latency 0 jump 2000000000@3,-5400000000000@7 freeze 10";
}

void TestQuorvelSim::options()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, expected);

    const ParsedOptions parsed = parseOptions(QStringList{"quorvel-sim"} + arguments);
    QCOMPARE(parsed.error, QString());
    QVERIFY(!parsed.help);
    QCOMPARE(describe(parsed.options), expected);
}

void TestQuorvelSim::optionErrors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("mentions");

    QTest::newRow("zero period") << QStringList{"--period", "0"} << "--period";
    QTest::newRow("offset in unknown unit") << QStringList{"--offset", "3x"} << "--offset";
    QTest::newRow("zero count") << QStringList{"--count", "0"} << "--count";
    QTest::newRow("burst too long") << QStringList{"--burst", "1001"} << "--burst";
    QTest::newRow("seed beyond 32 bits") << QStringList{"--seed", "4294967296"} << "--seed";
    QTest::newRow("zero silence") << QStringList{"--silence", "0"} << "--silence";
    QTest::newRow("empty device") << QStringList{"--device="} << "--device";
    QTest::newRow("negative delay") << QStringList{"--delay", "-1ms"} << "zero or more";
    QTest::newRow("negative jitter") << QStringList{"--jitter=-0.1"} << "--jitter";
    QTest::newRow("zero latency") << QStringList{"--latency", "0"} << "--latency";
    QTest::newRow("jump without frame") << QStringList{"--jump", "2s"} << "--jump";
    QTest::newRow("jump after frame 0") << QStringList{"--jump", "2s@0"} << "--jump";
    QTest::newRow("jump by no duration") << QStringList{"--jump", "@3"} << "--jump";
    QTest::newRow("jump after no number") << QStringList{"--jump", "1s@x"} << "--jump";
    QTest::newRow("freeze after frame 0") << QStringList{"--freeze", "0"} << "--freeze";
    QTest::newRow("unknown option") << QStringList{"--frobnicate"} << "Unknown option";
}

void TestQuorvelSim::optionErrors()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, mentions);

    const ParsedOptions parsed = parseOptions(QStringList{"quorvel-sim"} + arguments);
    QVERIFY2(parsed.error.contains(mentions), qPrintable(parsed.error));
}

void TestQuorvelSim::frameText_data()
{
    QTest::addColumn<QDateTime>("time");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("summer Friday noon")
        << at("Europe/Madrid", 2007, 6, 15, 12, 0, 0) << QByteArray("$12:00:00,06/15/2007,5,1\r\n");
    QTest::newRow("winter Sunday, last second") << at("Europe/Madrid", 2024, 1, 7, 23, 59, 59)
                                                << QByteArray("$23:59:59,01/07/2024,7,0\r\n");
    QTest::newRow("last winter second before the change")
        << at("Europe/Madrid", 2025, 3, 30, 1, 59, 59)
        << QByteArray("$01:59:59,03/30/2025,7,0\r\n");
    QTest::newRow("first summer second after the change")
        << at("Europe/Madrid", 2025, 3, 30, 3, 0, 0) << QByteArray("$03:00:00,03/30/2025,7,1\r\n");
    QTest::newRow("leap day, zone without summer time")
        << at("UTC", 2024, 2, 29, 8, 5, 9) << QByteArray("$08:05:09,02/29/2024,4,0\r\n");
    QTest::newRow("southern summer in January") << at("Australia/Sydney", 2025, 1, 15, 6, 30, 0)
                                                << QByteArray("$06:30:00,01/15/2025,3,1\r\n");
    QTest::newRow("southern winter in July") << at("Australia/Sydney", 2025, 7, 15, 6, 30, 0)
                                             << QByteArray("$06:30:00,07/15/2025,2,0\r\n");
}

void TestQuorvelSim::frameText()
{
    QFETCH(QDateTime, time);
    QFETCH(QByteArray, expected);

    if (!time.timeZone().isValid())
        QSKIP("The time zone data is not installed");
    QCOMPARE(::frameText(time), expected);
}

void TestQuorvelSim::malformedFrameText_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("missing field")
        << int(Malformation::MissingField) << QByteArray("$07:45:30,07/09/2025,3\r\n");
    QTest::newRow("garbled time") << int(Malformation::GarbledTime)
                                  << QByteArray("$0H:4F:3A,07/09/2025,3,1\r\n");
    QTest::newRow("empty fields") << int(Malformation::EmptyFields) << QByteArray("$,,,\r\n");
    QTest::newRow("bad numbers") << int(Malformation::BadNumbers)
                                 << QByteArray("$07:45:30,07/09/2025,9,x\r\n");
    QTest::newRow("cut short") << int(Malformation::CutShort) << QByteArray("$07:4\r\n");
}

void TestQuorvelSim::malformedFrameText()
{
    QFETCH(int, kind);
    QFETCH(QByteArray, expected);

    const QDateTime time = at("Europe/Madrid", 2025, 7, 9, 7, 45, 30);
    if (!time.timeZone().isValid())
        QSKIP("The time zone data is not installed");
    QCOMPARE(::malformedFrameText(time, Malformation(kind)), expected);
    QCOMPARE(kindOf(expected), QString::fromLatin1(QTest::currentDataTag()));
}

void TestQuorvelSim::malformedFramesTakeTurns()
{
    const QStringList names{"missing field", "garbled time", "empty fields", "bad numbers",
                            "cut short"};
    QStringList kinds;
    for (qint64 frame = 1; frame <= 12; ++frame) {
        const std::optional<Malformation> kind = malformationOfFrame(frame);
        kinds << (kind ? names.at(int(*kind)) : QStringLiteral("whole"));
    }
    QCOMPARE(kinds, (QStringList{"whole", "missing field", "whole", "garbled time", "whole",
                                 "empty fields", "whole", "bad numbers", "whole", "cut short",
                                 "whole", "missing field"}));
}

void TestQuorvelSim::characterTimesDoNotDrift()
{
    QCOMPARE(characterTimes(1).count(), 2'083'333LL);
    QCOMPARE(characterTimes(26).count(), 54'166'666LL);
    // A minute of text at 4800 baud lasts exactly a minute, not a sum of rounded steps.
    QCOMPARE(characterTimes(28'800), nanoseconds(60s));
}

void TestQuorvelSim::slotAtOrAfter_data()
{
    QTest::addColumn<qint64>("instant");
    QTest::addColumn<qint64>("period");
    QTest::addColumn<qint64>("expected");

    const qint64 second = 1'000'000'000;
    const qint64 base = 1'700'000'000 * second;
    QTest::newRow("on a second") << base << second << base;
    QTest::newRow("just after a second") << base + 1 << second << base + second;
    QTest::newRow("just before a second") << base - 1 << second << base;
    QTest::newRow("quarter-second slots") << base + 300'000'000 << second / 4 << base + 500'000'000;
    QTest::newRow("two-second slots on odd seconds")
        << base + second << 2 * second << base + 2 * second;
    QTest::newRow("before the epoch") << -3 * second / 2 << second << -second;
}

void TestQuorvelSim::slotAtOrAfter()
{
    QFETCH(qint64, instant);
    QFETCH(qint64, period);
    QFETCH(qint64, expected);

    QCOMPARE(::slotAtOrAfter(nanoseconds(instant), nanoseconds(period)).count(), expected);
}

void TestQuorvelSim::burstFramesHoldTheTimeOfTheirMarker()
{
    SimOptions options;
    options.burst = 3;
    std::mt19937 random(1);
    // The second frame's "$" goes out 54 ms after the first, in the new year.
    const SlotPlan plan = planSlot(instantOf(at("UTC", 2024, 12, 31, 23, 59, 59, 950)), 0, options,
                                   QTimeZone::utc(), random);

    QCOMPARE(plan.chunks.size(), 3);
    const QByteArray expected[] = {"$23:59:59,12/31/2024,2,0\r\n", "$00:00:00,01/01/2025,3,0\r\n",
                                   "$00:00:00,01/01/2025,3,0\r\n"};
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(plan.chunks[i].bytes, expected[i]);
        QCOMPARE(plan.chunks[i].start, characterTimes(26 * i));
        QVERIFY(plan.chunks[i].endsFrame);
    }
}

void TestQuorvelSim::splitFramesPauseInside()
{
    SimOptions options;
    options.split = true;
    QSet<qsizetype> cuts;
    for (quint32 seed = 1; seed <= 50; ++seed) {
        std::mt19937 random(seed);
        const SlotPlan plan = planSlot(Morning, 0, options, QTimeZone::utc(), random);
        QCOMPARE(plan.chunks.size(), 2);
        const Chunk &before = plan.chunks[0];
        const Chunk &after = plan.chunks[1];
        QCOMPARE(before.bytes + after.bytes, MorningFrame);
        QVERIFY(before.bytes.startsWith('$'));
        QVERIFY(!after.bytes.isEmpty());
        QVERIFY(!before.endsFrame);
        QVERIFY(after.endsFrame);
        QCOMPARE(after.start, characterTimes(before.bytes.size()) + SplitPause);
        QCOMPARE(plan.end(), characterTimes(MorningFrame.size()) + SplitPause);
        cuts.insert(before.bytes.size());
    }
    QVERIFY2(cuts.size() > 10, "the pause falls at different places");
}

void TestQuorvelSim::latenessMovesFramesNotTheirTime_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("earliestMs");
    QTest::addColumn<int>("latestMs");

    QTest::newRow("on the second") << QStringList{} << 0 << 0;
    QTest::newRow("delay 300 ms") << QStringList{"--delay", "300ms"} << 300 << 300;
    QTest::newRow("jitter up to 50 ms") << QStringList{"--jitter", "50ms"} << 0 << 50;
    QTest::newRow("delay and jitter, split")
        << QStringList{"--delay", "0.14", "--jitter", "0.01", "--split"} << 140 << 150;
    QTest::newRow("delay and burst") << QStringList{"--delay", "0.5", "--burst", "2"} << 500 << 500;
}

void TestQuorvelSim::latenessMovesFramesNotTheirTime()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, earliestMs);
    QFETCH(int, latestMs);

    const ParsedOptions parsed = parseOptions(QStringList{"quorvel-sim"} + arguments);
    QCOMPARE(parsed.error, QString());
    for (quint32 seed = 1; seed <= 20; ++seed) {
        std::mt19937 random(seed);
        const SlotPlan plan = planSlot(Morning, 0, parsed.options, QTimeZone::utc(), random);
        const nanoseconds lateness = plan.chunks.constFirst().start;
        QVERIFY2(lateness >= std::chrono::milliseconds(earliestMs)
                     && lateness <= std::chrono::milliseconds(latestMs),
                 qPrintable(QString::number(lateness.count())));
        // The frames name the second that began before their lateness.
        QByteArray sent;
        for (const Chunk &chunk : plan.chunks)
            sent += chunk.bytes;
        QCOMPARE(sent, MorningFrame.repeated(parsed.options.burst));
        QVERIFY(plan.chunks.constLast().endsFrame);
        // Character times of whole frames, each rounded down to the nanosecond.
        const qint64 characters = 26 * parsed.options.burst;
        const nanoseconds pauses = parsed.options.split ? SplitPause : nanoseconds(0);
        const nanoseconds unlate = lateness + characterTimes(characters) + pauses;
        QVERIFY(plan.end() <= unlate && plan.end() >= unlate - nanoseconds(parsed.options.burst));
    }
}

void TestQuorvelSim::jitterFollowsTheSeed()
{
    SimOptions options;
    options.jitter = 100ms;
    const auto latenessOf = [&](quint32 seed) {
        std::mt19937 random(seed);
        QList<qint64> lateness;
        for (int i = 0; i < 10; ++i)
            lateness << planSlot(Morning, i, options, QTimeZone::utc(), random)
                            .chunks.constFirst()
                            .start.count();
        return lateness;
    };
    const QList<qint64> first = latenessOf(5);
    QCOMPARE(latenessOf(5), first);
    QVERIFY(latenessOf(6) != first);
    QVERIFY2(QSet<qint64>(first.begin(), first.end()).size() > 5, "each slot has its own");
}

void TestQuorvelSim::frozenSlotsHoldTheFrozenTime()
{
    SimOptions options;
    options.burst = 2;
    std::mt19937 random(1);
    const SlotPlan plan = planSlot(Morning + 3600s, 10, options, QTimeZone::utc(), random, Morning);
    QCOMPARE(plan.chunks.size(), 2);
    for (const Chunk &chunk : plan.chunks)
        QCOMPARE(chunk.bytes, MorningFrame);
    QCOMPARE(plan.chunks.at(1).start, characterTimes(26));
}

void TestQuorvelSim::noiseFallsBetweenFrames_data()
{
    QTest::addColumn<int>("periodMs");
    QTest::addColumn<int>("longestNoise");

    // A frame lasts 54.2 ms; noise starts a character after it and ends 20 ms before the next
    // slot.
    QTest::newRow("no room") << 76 << 0;
    QTest::newRow("room for one byte") << 79 << 1;
    QTest::newRow("room for eight bytes") << 94 << 8;
    QTest::newRow("room for all") << 1000 << MaximumNoise;
}

void TestQuorvelSim::noiseFallsBetweenFrames()
{
    QFETCH(int, periodMs);
    QFETCH(int, longestNoise);

    SimOptions options;
    options.noise = true;
    options.period = std::chrono::milliseconds(periodMs);
    qsizetype longest = 0;
    QSet<int> values;
    for (quint32 seed = 1; seed <= 200; ++seed) {
        std::mt19937 random(seed);
        const SlotPlan plan = planSlot(Morning, 0, options, QTimeZone::utc(), random);
        QVERIFY(plan.chunks.size() <= 2);
        if (plan.chunks.size() == 1)
            continue;
        const Chunk &noise = plan.chunks[1];
        QVERIFY(!noise.endsFrame);
        QVERIFY2(!noise.bytes.contains('$'), noise.bytes.toHex().constData());
        QVERIFY(noise.start > characterTimes(26));
        QVERIFY(plan.end() <= options.period - NoiseClearance);
        longest = std::max(longest, noise.bytes.size());
        for (const char byte : noise.bytes)
            values.insert(uchar(byte));
    }
    QCOMPARE(longest, qsizetype(longestNoise));
    if (longestNoise == MaximumNoise) {
        // Any byte but "$": control characters and bytes above ASCII too.
        QVERIFY(std::any_of(values.begin(), values.end(), [](int value) { return value < 32; }));
        QVERIFY(std::any_of(values.begin(), values.end(), [](int value) { return value > 127; }));
    }
}

void TestQuorvelSim::sendingNeverBlocks()
{
    DeviceLine line;
    QString error;
    QVERIFY2(line.createPseudoTerminal(&error), qPrintable(error));

    // Nobody reads: far more than the line holds must go through without waiting.
    int dropped = 0;
    for (int i = 0; i < 100'000; ++i)
        dropped += line.send('x') ? 0 : 1;
    QVERIFY(dropped > 0);
    QVERIFY(dropped < 100'000);
    QTRY_VERIFY(line.unread() > 0);
}

void TestQuorvelSim::unreadBytesAreDroppedOnlyWhenNobodyReads_data()
{
    QTest::addColumn<int>("taken");
    QTest::addColumn<QByteArray>("left");

    QTest::newRow("nobody read") << 0 << QByteArray();
    QTest::newRow("reader took some") << 4 << QByteArray("456789");
    QTest::newRow("reader took all") << 10 << QByteArray();
}

void TestQuorvelSim::unreadBytesAreDroppedOnlyWhenNobodyReads()
{
    QFETCH(int, taken);
    QFETCH(QByteArray, left);

    DeviceLine line;
    QString error;
    QVERIFY2(line.createPseudoTerminal(&error), qPrintable(error));
    const int reader =
        ::open(line.path().toLocal8Bit().constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    QVERIFY(reader >= 0);
    auto closeReader = qScopeGuard([reader] { ::close(reader); });

    for (const char byte : QByteArray("0123456789"))
        QVERIFY(line.send(byte));
    QTRY_COMPARE(line.unread(), 10);
    char buffer[64];
    if (taken > 0)
        QCOMPARE(::read(reader, buffer, size_t(taken)), ssize_t(taken));

    line.dropUnread();
    const ssize_t count = ::read(reader, buffer, sizeof buffer);
    QCOMPARE(QByteArray(buffer, std::max<ssize_t>(count, 0)), left);
}

void TestQuorvelSim::deviceClock_data()
{
    QTest::addColumn<QString>("offset");
    QTest::addColumn<qint64>("offsetMs");
    QTest::addColumn<QString>("timeZone");

    QTest::newRow("no offset, Madrid") << "0" << 0LL << "Europe/Madrid";
    QTest::newRow("half a year on, Madrid") << "182d" << 182 * 86'400'000LL << "Europe/Madrid";
    QTest::newRow("fraction behind, UTC") << "-2.5" << -2'500LL << "UTC";
    QTest::newRow("three days on, Santiago") << "3d" << 3 * 86'400'000LL << "America/Santiago";
}

void TestQuorvelSim::deviceClock()
{
    QFETCH(QString, offset);
    QFETCH(qint64, offsetMs);
    QFETCH(QString, timeZone);

    const QTimeZone zone(timeZone.toLatin1());
    if (!zone.isValid())
        QSKIP("The time zone data is not installed");
    Run run;
    QVERIFY2(run.start({"--offset", offset, "--count", "1"}, true, timeZone),
             run.simulator.readAllStandardError().constData());
    LineReader &line = *run.line;
    QVERIFY(line.readFrames(1, 5s));

    const LineReader::Frame frame = line.frames().constFirst();
    const QRegularExpressionMatch fields = WholeFrame.match(QString::fromLatin1(frame.text));
    QVERIFY2(fields.hasMatch(), frame.text.constData());
    const QDateTime sent = namedTime(fields, zone);
    QVERIFY(sent.isValid());

    // The "$" leaves at the start of the second the frame names, on the device clock.
    const qint64 markerArrived =
        std::chrono::duration_cast<std::chrono::milliseconds>(line.firstArrival(frame)).count();
    const qint64 late = markerArrived + offsetMs - sent.toMSecsSinceEpoch();
    QVERIFY2(late >= -300 && late <= 300, qPrintable(QStringLiteral("%1 ms late").arg(late)));
    QCOMPARE(fields.captured(3).toInt(), sent.date().dayOfWeek());
    QCOMPARE(fields.captured(4) == u"1", zone.isDaylightTime(sent));

    // Paced at 4800 baud: 25 character times (52 ms) from "$" to LF, in many pieces. A
    // reader kept waiting by a busy machine sees less, so the bounds are wide.
    const nanoseconds span = line.lastArrival(frame) - line.firstArrival(frame);
    QVERIFY2(span >= 20ms && span <= 1s, qPrintable(QString::number(span.count())));
    QVERIFY2(piecesOf(line, frame) >= 2, "the frame arrived at once");
    QVERIFY(endsCleanly(run.simulator));
}

void TestQuorvelSim::noiseNeverHoldsAMarker()
{
    Run run;
    QVERIFY(run.readAll({"--noise", "--period", "0.2", "--count", "4", "--seed", "7"}));
    const QByteArray &bytes = run.line->bytes;

    // Every "$" starts a whole frame; what follows its CR LF up to the next "$" is noise.
    const QList<QByteArray> pieces = bytes.mid(bytes.indexOf('$') + 1).split('$');
    QVERIFY2(pieces.size() >= 3, bytes.toHex().constData());
    qsizetype noise = 0;
    for (const QByteArray &piece : pieces) {
        const qsizetype end = piece.indexOf("\r\n") + 2;
        QVERIFY2(isWhole('$' + piece.left(end)), piece.toHex().constData());
        noise += piece.size() - end;
    }
    QVERIFY2(noise > 0, "noise between the frames");
    QVERIFY(endsCleanly(run.simulator));
}

void TestQuorvelSim::splitFramesSpanPolls()
{
    Run run;
    QVERIFY(run.readAll({"--split", "--period", "0.4", "--count", "2", "--seed", "3"}));
    const LineReader &line = *run.line;

    const QList<LineReader::Frame> frames = line.frames();
    QVERIFY(!frames.isEmpty());
    for (const LineReader::Frame &frame : frames) {
        QVERIFY2(isWhole(frame.text), frame.text.constData());
        nanoseconds longestPause(0);
        for (qsizetype i = 1; i < frame.size(); ++i) {
            longestPause = std::max(longestPause, line.arrivals.at(frame.position + i)
                                                      - line.arrivals.at(frame.position + i - 1));
        }
        // The simulator pauses 250 ms, so a reader polling every 100 ms sees a quiet poll;
        // a reader kept waiting by a busy machine sees less.
        QVERIFY2(longestPause >= 120ms, qPrintable(QString::number(longestPause.count())));
    }
    QVERIFY(endsCleanly(run.simulator));
}

void TestQuorvelSim::malformedFramesInTurn()
{
    Run run;
    QVERIFY(run.readAll({"--malformed", "--period", "0.1", "--count", "8"}));

    QStringList kinds;
    for (const LineReader::Frame &frame : run.line->frames())
        kinds << kindOf(frame.text);
    QVERIFY2(kinds.size() >= 5, qPrintable(kinds.join(u'|')));
    // A slow start may have cost the first frames; the rest follow the turn from there.
    const QStringList turn{"whole", "missing field", "whole", "garbled time",
                           "whole", "empty fields",  "whole", "bad numbers"};
    const qsizetype first = turn.size() - kinds.size();
    QCOMPARE(kinds, turn.mid(first));
    QVERIFY(endsCleanly(run.simulator));
}

void TestQuorvelSim::silenceAfterEveryThirdSlot()
{
    Run run;
    QVERIFY(run.readAll({"--silence", "0.6", "--period", "0.1", "--count", "5"}));
    const LineReader &line = *run.line;

    const QList<LineReader::Frame> frames = line.frames();
    QVERIFY(frames.size() >= 4);
    QList<int> longGapsAfter;
    for (qsizetype i = 1; i < frames.size(); ++i) {
        const nanoseconds gap = line.firstArrival(frames[i]) - line.lastArrival(frames[i - 1]);
        if (gap >= 350ms)
            longGapsAfter << int(i);
    }
    // Frames 1 to 3, the silence, frames 4 and 5; a slow start may have cost frame 1.
    QCOMPARE(longGapsAfter.size(), 1);
    QCOMPARE(frames.size() - longGapsAfter.constFirst(), 2);
    QVERIFY(endsCleanly(run.simulator));
}

void TestQuorvelSim::burstSendsFramesBackToBack()
{
    Run run;
    QVERIFY(run.readAll({"--burst", "4", "--period", "0.6", "--count", "8"}, true));
    const LineReader &line = *run.line;

    // The second burst: four frames, 4 x 26 characters in 216 ms, with no pause.
    const QList<LineReader::Frame> frames = line.frames();
    QVERIFY(frames.size() >= 4);
    for (const LineReader::Frame &frame : frames)
        QVERIFY2(isWhole(frame.text), frame.text.constData());
    const LineReader::Frame &first = frames.at(frames.size() - 4);
    const LineReader::Frame &last = frames.constLast();
    QCOMPARE(last.position + last.size() - first.position, 4 * 26);
    const nanoseconds span = line.lastArrival(last) - line.firstArrival(first);
    QVERIFY2(span >= 100ms && span < 550ms, qPrintable(QString::number(span.count())));
    QVERIFY(endsCleanly(run.simulator));
}

void TestQuorvelSim::markerReadableAfterItsStopBit_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("delayMs");

    QTest::newRow("line only") << QStringList{} << 0;
    QTest::newRow("delay 400 ms") << QStringList{"--delay", "0.4"} << 400;
    QTest::newRow("delay 150 ms, adapter latency 16 ms")
        << QStringList{"--delay", "150ms", "--latency", "16ms"} << 150;
}

void TestQuorvelSim::markerReadableAfterItsStopBit()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, delayMs);

    Run run;
    QVERIFY(run.readAll(arguments + QStringList{"--count", "2"}, true, "UTC"));
    const QList<LineReader::Frame> frames = run.line->frames();
    QVERIFY(!frames.isEmpty());
    for (const LineReader::Frame &frame : frames) {
        const QRegularExpressionMatch fields = WholeFrame.match(QString::fromLatin1(frame.text));
        QVERIFY2(fields.hasMatch(), frame.text.constData());
        // Never before its stop bit has ended, a character time after the device began to
        // send it; a reader kept waiting by a busy machine reads it later.
        const nanoseconds late =
            run.line->firstArrival(frame) - instantOf(namedTime(fields, QTimeZone::utc()));
        const nanoseconds earliest = std::chrono::milliseconds(delayMs) + CharacterTime;
        QVERIFY2(late >= earliest && late < earliest + 300ms,
                 qPrintable(QStringLiteral("%1 ns late").arg(late.count())));
    }
    QVERIFY(endsCleanly(run.simulator));
}

void TestQuorvelSim::latencyHandsBytesOverInBursts_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("mostPieces");

    // A frame lasts 54.2 ms: it falls into at most so many ticks of the latency timer. A
    // reader kept waiting by a busy machine only joins pieces.
    QTest::newRow("16 ms") << QStringList{"--latency", "16ms"} << 5;
    QTest::newRow("30 ms") << QStringList{"--latency", "0.03"} << 3;
    QTest::newRow("100 ms, with delay and jitter")
        << QStringList{"--latency", "100ms", "--delay", "0.2", "--jitter", "0.1"} << 2;
}

void TestQuorvelSim::latencyHandsBytesOverInBursts()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, mostPieces);

    Run run;
    QVERIFY(run.readAll(arguments + QStringList{"--count", "3"}, true, {}, 6s));
    const QList<LineReader::Frame> frames = run.line->frames();
    QVERIFY(!frames.isEmpty());
    for (const LineReader::Frame &frame : frames) {
        const qsizetype pieces = piecesOf(*run.line, frame);
        QVERIFY2(pieces <= mostPieces, qPrintable(QString::number(pieces)));
    }
    QVERIFY(endsCleanly(run.simulator));
}

void TestQuorvelSim::clockFaults_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<qint64>("leastStep");
    QTest::addColumn<qint64>("mostStep");
    QTest::addColumn<int>("frozenFrames");

    // Frames 1 s apart name seconds 1 s apart, but for the step the fault makes.
    QTest::newRow("an hour ahead after frame 2")
        << QStringList{"--jump", "1h@2", "--count", "4"} << 3600LL << 3602LL << 0;
    QTest::newRow("a day back after frame 1")
        << QStringList{"--jump", "-1d@1", "--count", "4"} << -86400LL << -86398LL << 0;
    QTest::newRow("frozen after frame 2")
        << QStringList{"--freeze", "2", "--count", "5"} << 0LL << 0LL << 4;
}

void TestQuorvelSim::clockFaults()
{
    QFETCH(QStringList, arguments);
    QFETCH(qint64, leastStep);
    QFETCH(qint64, mostStep);
    QFETCH(int, frozenFrames);

    Run run;
    QVERIFY(run.readAll(arguments, false, "UTC", 8s));
    const QList<LineReader::Frame> frames = run.line->frames();
    QVERIFY(frames.size() >= 3);
    QList<qint64> named;
    for (const LineReader::Frame &frame : frames) {
        const QRegularExpressionMatch fields = WholeFrame.match(QString::fromLatin1(frame.text));
        QVERIFY2(fields.hasMatch(), frame.text.constData());
        named << namedTime(fields, QTimeZone::utc()).toSecsSinceEpoch();
    }
    // A slow start may have cost the first frame: the steps are read from the last frames.
    QList<qint64> steps;
    for (qsizetype i = 1; i < named.size(); ++i)
        steps << named[i] - named[i - 1];
    if (frozenFrames > 0) {
        // The last frames repeat one time; the one before them, when it came, does not.
        const QList<qint64> tail = steps.mid(steps.size() - (frozenFrames - 1));
        QCOMPARE(tail, QList<qint64>(frozenFrames - 1, 0));
        if (steps.size() >= frozenFrames)
            QCOMPARE(steps.at(steps.size() - frozenFrames), 1);
    } else {
        const auto jump = std::find_if(steps.begin(), steps.end(),
                                       [](qint64 step) { return step < 0 || step > 2; });
        QVERIFY2(jump != steps.end() && *jump >= leastStep && *jump <= mostStep,
                 qPrintable(QStringLiteral("steps %1").arg(steps.size())));
        QCOMPARE(std::count_if(steps.begin(), steps.end(),
                               [](qint64 step) { return step < 0 || step > 2; }),
                 1);
    }
    QVERIFY(endsCleanly(run.simulator));
}

void TestQuorvelSim::lineEnds_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("runsOn");

    QTest::newRow("after the count") << QStringList{"--count", "2", "--period", "0.2"} << false;
    QTest::newRow("hang-up") << QStringList{"--hangup-after", "2", "--period", "0.2"} << true;
}

void TestQuorvelSim::lineEnds()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, runsOn);

    Run run;
    QVERIFY(run.readAll(arguments));
    const LineReader &line = *run.line;
    QVERIFY2(line.hangUpError == 0 || line.hangUpError == EIO, strerror(line.hangUpError));
    // The reader got the last frame whole before the line closed.
    QVERIFY(!line.frames().isEmpty());
    QVERIFY(line.bytes.endsWith("\r\n"));

    if (runsOn) {
        // It stays until it is told to stop.
        run.simulator.waitForFinished(200);
        QCOMPARE(run.simulator.state(), QProcess::Running);
        QVERIFY(stopWith(run.simulator, SIGTERM));
    }
    QVERIFY(endsCleanly(run.simulator));
}

void TestQuorvelSim::stopSignals_data()
{
    QTest::addColumn<int>("signal");

    QTest::newRow("SIGINT") << SIGINT;
    QTest::newRow("SIGTERM") << SIGTERM;
}

void TestQuorvelSim::stopSignals()
{
    QFETCH(int, signal);

    Run run;
    QVERIFY(run.start({}));
    QVERIFY(stopWith(run.simulator, signal));
    QCOMPARE(run.simulator.exitStatus(), QProcess::NormalExit);
    QCOMPARE(run.simulator.exitCode(), 0);
    QVERIFY(run.line->readToHangUp(2s));
}

void TestQuorvelSim::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<bool>("onStandardOutput");
    QTest::addColumn<QString>("mentions");

    QTest::newRow("help") << QStringList{"--help"} << 0 << true << "--hangup-after";
    QTest::newRow("help on the line and device faults")
        << QStringList{"--help"} << 0 << true << "--jump <duration@n>";
    QTest::newRow("unknown option") << QStringList{"--bogus"} << 2 << false << "Unknown option";
    QTest::newRow("missing device")
        << QStringList{"--device", "/nonexistent/ttyX"} << 1 << false << "/nonexistent/ttyX";
    QTest::newRow("not a serial device")
        << QStringList{"--device", "/dev/null"} << 1 << false << "no serial device";
}

void TestQuorvelSim::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(bool, onStandardOutput);
    QFETCH(QString, mentions);

    QProcess simulator;
    simulator.start(Simulator, arguments);
    QVERIFY(simulator.waitForFinished(5000));
    QCOMPARE(simulator.exitCode(), exitCode);
    const QString output = QString::fromLocal8Bit(
        onStandardOutput ? simulator.readAllStandardOutput() : simulator.readAllStandardError());
    QVERIFY2(output.contains(mentions), qPrintable(output));
}

void TestQuorvelSim::sendsOnAGivenDevice()
{
    PseudoTerminal terminal;
    QVERIFY(terminal.isValid());
    QProcess simulator;
    QCOMPARE(startSimulator(simulator, {"--device", terminal.path(), "--count", "1"}),
             terminal.path());

    QByteArray received;
    QTRY_VERIFY_WITH_TIMEOUT((received += terminal.takeWritten()).endsWith("\r\n"), 5000);
    const QByteArray frame = received.mid(received.indexOf('$'));
    QVERIFY2(isWhole(frame), frame.constData());
    QVERIFY(endsCleanly(simulator));
}

QTEST_GUILESS_MAIN(TestQuorvelSim)
#include "tst_quorvelsim.moc"
