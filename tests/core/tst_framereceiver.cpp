#include "core/frame.h"
#include "core/framereceiver.h"
#include "tools/sim/scriptedserialport.h"

#include <QTest>

using namespace std::chrono_literals;

namespace {

const QString InitialText = QStringLiteral("Ventana de recepción.\r\n");
const QString FrameLine = QStringLiteral("$12:00:00,06/15/2007,5,1\r\n");
const QString FrameText = QStringLiteral("12:00:00,06/15/2007,5,1");
const QString FrameShown = QStringLiteral("12:00:00|06/15/2007|5|summer");

// Runs one tick per chunk ("" is a quiet tick) and returns, per tick, "F" when it took a
// frame, "f" when it cut out a frame text whose fields made no frame, and "." when it took
// nothing; "!" when the frame taken is not the latest frame.
QString runTicks(FrameReceiver &receiver, ScriptedSerialPort &port, const QStringList &chunks)
{
    port.chunks = chunks;
    QString taken;
    for (qsizetype i = 0; i < chunks.size(); ++i) {
        receiver.Tick(&port);
        if (receiver.TakenFrame() && receiver.TakenFrame() != receiver.LastFrame())
            taken += u'!';
        taken += receiver.TakenFrame() ? u'F' : receiver.TookFrame() ? u'f' : u'.';
    }
    return taken;
}

// "time|date|weekday|summer" or "winter" for a frame, empty for none.
QString described(const std::optional<Frame> &frame)
{
    if (!frame)
        return {};
    return QStringList{frame->time, frame->date, QString::number(frame->weekday),
                       frame->summer ? QStringLiteral("summer") : QStringLiteral("winter")}
        .join(u'|');
}

} // namespace

class TestFrameReceiver : public QObject
{
    Q_OBJECT

private slots:
    void ticks_data();
    void ticks();
    void framesSplitEveryWay_data();
    void framesSplitEveryWay();
    void closedOrFailingPortChangesNothing_data();
    void closedOrFailingPortChangesNothing();
    void callOrder();
    void userEditOfLengthDelaysFrameByOneTick_data();
    void userEditOfLengthDelaysFrameByOneTick();
    void receiveTextStaysWithinBound();
    void noFrameOnTickWithInputAtTheBound();
    void frameArrivalIsWhenItsMarkerArrived();
    void fieldNumber_data();
    void fieldNumber();
    void decoderTakesEachFrameAtItsLineEnd_data();
    void decoderTakesEachFrameAtItsLineEnd();
    void decoderDatesEachFrameByItsMarker();
};

void TestFrameReceiver::ticks_data()
{
    QTest::addColumn<QStringList>("chunks");
    QTest::addColumn<QString>("taken");
    QTest::addColumn<QString>("receiveText");
    QTest::addColumn<QString>("frame"); // the latest frame, described()

    const QString none;
    const auto row = [](const char *tag, const QStringList &chunks, const char *taken,
                        const QString &receiveText, const QString &frame) {
        QTest::newRow(tag) << chunks << QString::fromLatin1(taken) << receiveText << frame;
    };
    row("whole frame, then a quiet tick", {FrameLine, ""}, ".F", FrameText, FrameShown);
    row("first tick never takes a frame", {FrameLine}, ".", InitialText + FrameLine, none);
    row("quiet first tick takes nothing", {""}, ".", InitialText, none);
    row("input on every tick: no frame, text grows", {FrameLine, FrameLine, FrameLine}, "...",
        InitialText + FrameLine + FrameLine + FrameLine, none);
    row("two frames before a quiet tick: the later wins",
        {"$01:02:03,01/01/2007,1,0\r\n" + FrameLine, ""}, ".F", FrameText, FrameShown);
    row("noise and initial text vanish with the first frame", {"x#\x01noise\r\n" + FrameLine, ""},
        ".F", FrameText, FrameShown);
    row("quiet ticks after a frame take nothing more", {FrameLine, "", "", ""}, ".F..", FrameText,
        FrameShown);
    row("the next frame is appended behind the frame text", {FrameLine, "", "$13:"}, ".F.",
        FrameText + "$13:", FrameShown);
    row("same frame twice shows the same texts", {FrameLine, "", FrameLine, ""}, ".F.F", FrameText,
        FrameShown);
    row("line end but no marker: nothing is cut", {"noise\r\n", ""}, "..",
        InitialText + "noise\r\n", none);
    row("marker at the very end: frame still arriving", {"$", ""}, "..", InitialText + "$", none);
    row("pause inside a frame with an older line end: nothing cut off", {"$12:00:00,06/1", ""},
        "..", InitialText + "$12:00:00,06/1", none);
    row("partial next frame after a whole one waits for its line end",
        {FrameLine + "$13:00:00", "", ",06/15/2007,5,1\r\n", ""}, "...F", "13:00:00,06/15/2007,5,1",
        "13:00:00|06/15/2007|5|summer");
    row("characters after the line end are not part of the frame", {FrameLine + "zz", ""}, ".F",
        FrameText, FrameShown);
    row("line end inside the frame ends it early", {"$12:00\r\n:00,06/15/2007,5,1\r\n", ""}, ".f",
        "12:00", none);
    row("empty frame", {"$\r\n", ""}, ".f", QString(), none);
    row("three fields change no label", {"$12:00:00,06/15/2007,5\r\n", ""}, ".f",
        "12:00:00,06/15/2007,5", none);
    row("letters for weekday and flag change no label", {"$A,B,C,D\r\n", ""}, ".f", "A,B,C,D",
        none);
    row("non-numeric weekday changes no label", {"$12:00:00,06/15/2007,x,1\r\n", ""}, ".f",
        "12:00:00,06/15/2007,x,1", none);
    row("non-numeric flag changes no label", {"$12:00:00,06/15/2007,5,1\r\r\n", ""}, ".f",
        "12:00:00,06/15/2007,5,1\r", none);
    row("a bad frame leaves the previous frame shown",
        {FrameLine, "", "$13:00:00,06/15/2007,-1,1\r\n", ""}, ".F.f", "13:00:00,06/15/2007,-1,1",
        FrameShown);
    row("weekday 1 is Lunes, flag 0 Invierno", {"$1:2:3,1/2/2007,1,0\r\n", ""}, ".F",
        "1:2:3,1/2/2007,1,0", "1:2:3|1/2/2007|1|winter");
    row("weekday 7 is Domingo, flag 2 Invierno", {"$t,d,7,2\r\n", ""}, ".F", "t,d,7,2",
        "t|d|7|winter");
    row("weekday 0 leaves Label5, writes the rest", {"$t,d,0,1\r\n", ""}, ".F", "t,d,0,1",
        "t|d|0|summer");
    row("weekday 8 keeps the previous day name", {FrameLine, "", "$t,d,8,0\r\n", ""}, ".F.F",
        "t,d,8,0", "t|d|8|winter");
    row("weekday 03 is Miercoles, flag 01 Verano", {"$t,d,03,01\r\n", ""}, ".F", "t,d,03,01",
        "t|d|3|summer");
    row("blanks around numbers", {"$t,d, 4 , 1\r\n", ""}, ".F", "t,d, 4 , 1", "t|d|4|summer");
    row("fields after the fourth are ignored", {"$a,b,3,1,x\r\n", ""}, ".F", "a,b,3,1,x",
        "a|b|3|summer");
    row("empty time and date are shown", {"$,,6,0\r\n", ""}, ".F", ",,6,0", "||6|winter");
    row("bytes 128 to 255 before a frame", {QString::fromLatin1("\xe9\xff\x80") + FrameLine, ""},
        ".F", FrameText, FrameShown);
    row("Martes, with a huge flag that is not 1", {"$t,d,2,99999999999999999999\r\n", ""}, ".F",
        "t,d,2,99999999999999999999", "t|d|2|winter");
}

void TestFrameReceiver::ticks()
{
    QFETCH(QStringList, chunks);
    QFETCH(QString, taken);
    QFETCH(QString, receiveText);
    QFETCH(QString, frame);

    FrameReceiver receiver(InitialText);
    ScriptedSerialPort port;
    QCOMPARE(runTicks(receiver, port, chunks), taken);
    QCOMPARE(receiver.ReceiveText(), receiveText);
    QCOMPARE(described(receiver.LastFrame()), frame);
}

void TestFrameReceiver::framesSplitEveryWay_data()
{
    QTest::addColumn<QStringList>("chunks");
    QTest::addColumn<QString>("taken");

    // Every cut of a frame into two polls, with and without a quiet poll in between; also
    // behind an earlier frame, whose text is then what the receive window holds.
    for (qsizetype cut = 1; cut < FrameLine.size(); ++cut) {
        const QString head = FrameLine.left(cut);
        const QString tail = FrameLine.mid(cut);
        QTest::addRow("cut after %d", int(cut)) << QStringList{head, tail, ""} << "..F";
        QTest::addRow("quiet poll after %d", int(cut)) << QStringList{head, "", tail, ""} << "...F";
        QTest::addRow("behind a frame, cut after %d", int(cut))
            << QStringList{FrameLine, "", head, "", tail, ""} << ".F...F";
    }
    for (qsizetype cut = 1; cut + 1 < FrameLine.size(); ++cut)
        QTest::addRow("three pieces at %d", int(cut))
            << QStringList{FrameLine.left(cut), FrameLine.mid(cut, 1), FrameLine.mid(cut + 1), ""}
            << "...F";
}

void TestFrameReceiver::framesSplitEveryWay()
{
    QFETCH(QStringList, chunks);
    QFETCH(QString, taken);

    FrameReceiver receiver(InitialText);
    ScriptedSerialPort port;
    QCOMPARE(runTicks(receiver, port, chunks), taken);
    QCOMPARE(receiver.ReceiveText(), FrameText);
    QCOMPARE(described(receiver.LastFrame()), FrameShown);
}

void TestFrameReceiver::closedOrFailingPortChangesNothing_data()
{
    QTest::addColumn<bool>("open");
    QTest::addColumn<int>("failPortOpen");
    QTest::addColumn<int>("failInput");
    QTest::addColumn<QStringList>("calls");

    const QStringList askOnly{QStringLiteral("portOpen")};
    QTest::newRow("closed") << false << int(SerialOk) << int(SerialOk) << askOnly;
    QTest::newRow("asking fails") << true << int(SerialNotOpen) << int(SerialOk) << askOnly;
    QTest::newRow("reading fails")
        << true << int(SerialOk) << int(SerialNotOpen)
        << QStringList{QStringLiteral("portOpen"), QStringLiteral("input")};
}

void TestFrameReceiver::closedOrFailingPortChangesNothing()
{
    QFETCH(bool, open);
    QFETCH(int, failPortOpen);
    QFETCH(int, failInput);
    QFETCH(QStringList, calls);

    FrameReceiver receiver(InitialText);
    ScriptedSerialPort port;
    runTicks(receiver, port, {FrameLine}); // a whole frame is waiting for the quiet tick
    port.calls.clear();
    port.open = open;
    port.failPortOpen = failPortOpen;
    port.failInput = failInput;
    port.chunks = QStringList{""};

    QVERIFY(!receiver.Tick(&port));
    QVERIFY(!receiver.TookFrame());
    QCOMPARE(port.calls, calls);
    QCOMPARE(receiver.ReceiveText(), InitialText + FrameLine);
    QCOMPARE(receiver.LastFrame(), std::nullopt);

    // The port comes back: the frame is taken on the next quiet tick, as if nothing happened.
    port.open = true;
    port.failPortOpen = port.failInput = SerialOk;
    QCOMPARE(runTicks(receiver, port, {""}), QStringLiteral("F"));
}

void TestFrameReceiver::callOrder()
{
    FrameReceiver receiver(InitialText);
    ScriptedSerialPort port;
    port.chunks = QStringList{FrameLine, ""};
    QVERIFY(receiver.Tick(&port));
    QVERIFY(receiver.Tick(&port));
    const QStringList expected{"portOpen", "input", "portOpen", "input"};
    QCOMPARE(port.calls, expected);
}

void TestFrameReceiver::userEditOfLengthDelaysFrameByOneTick_data()
{
    QTest::addColumn<QString>("edit");
    QTest::addColumn<QString>("taken");

    QTest::newRow("longer edit") << QStringLiteral("Hola ") + InitialText + FrameLine << ".F";
    QTest::newRow("shorter edit") << QStringLiteral("Ventana\r\n") + FrameLine << ".F";
    QTest::newRow("same length edit")
        << QStringLiteral("Ventana de recepcion?\r\n") + FrameLine << "F.";
}

void TestFrameReceiver::userEditOfLengthDelaysFrameByOneTick()
{
    QFETCH(QString, edit);
    QFETCH(QString, taken);

    FrameReceiver receiver(InitialText);
    ScriptedSerialPort port;
    runTicks(receiver, port, {FrameLine});
    receiver.SetReceiveText(edit);
    QCOMPARE(receiver.ReceiveText(), edit);
    QCOMPARE(runTicks(receiver, port, {"", ""}), taken);
    QCOMPARE(receiver.ReceiveText(), FrameText);
}

void TestFrameReceiver::receiveTextStaysWithinBound()
{
    FrameReceiver receiver(InitialText);
    ScriptedSerialPort port;
    // A device that never pauses and never sends a marker.
    QString last;
    for (int i = 0; i < 300; ++i) {
        last = QStringLiteral("noise %1 ").arg(i).repeated(8);
        port.chunks = QStringList{last};
        receiver.Tick(&port);
        QVERIFY(receiver.ReceiveText().size() <= FrameReceiver::MaxReceiveLength);
    }
    QVERIFY(receiver.ReceiveText().endsWith(last)); // the newest characters are kept

    receiver.SetReceiveText(QString(3 * FrameReceiver::MaxReceiveLength, u'x') + FrameLine);
    QCOMPARE(receiver.ReceiveText().size(), FrameReceiver::MaxReceiveLength);
    QVERIFY(receiver.ReceiveText().endsWith(FrameLine));
    // The text was at the bound before the edit and is after it: same length, no delay.
    QCOMPARE(runTicks(receiver, port, {"", ""}), QStringLiteral("F."));
    QCOMPARE(receiver.ReceiveText(), FrameText);
}

void TestFrameReceiver::noFrameOnTickWithInputAtTheBound()
{
    // At the bound every tick keeps the text's length; input still means "not quiet".
    FrameReceiver receiver(QString(FrameReceiver::MaxReceiveLength, u'x'));
    ScriptedSerialPort port;
    QCOMPARE(runTicks(receiver, port, {FrameLine, "ab", "cd", ""}), QStringLiteral("...F"));
    QCOMPARE(receiver.ReceiveText(), FrameText);
}

void TestFrameReceiver::frameArrivalIsWhenItsMarkerArrived()
{
    FrameReceiver receiver(InitialText);
    QCOMPARE(receiver.LastFrame(), std::nullopt);
    ScriptedSerialPort port;
    const MonotonicTime start = MonotonicClock::now();
    port.chunkArrival = {start, start + 2ms, start + 100ms, start + 300ms, start + 320ms};
    // An earlier frame's marker, then the marker of the frame that is taken: the fifth
    // character of a chunk whose first arrived 2 ms in, so four character times after it.
    runTicks(receiver, port, {"$01:02", "03\r\n$12:00:00,06/1", "5/2007,5,1\r\n", ""});
    QVERIFY(receiver.LastFrame()->arrival == start + 2ms + 4 * CharacterTime);

    // A frame text that makes no frame does not move the arrival of the frame shown.
    runTicks(receiver, port, {"$bad\r\n", ""});
    QVERIFY(receiver.LastFrame()->arrival == start + 2ms + 4 * CharacterTime);
}

void TestFrameReceiver::fieldNumber_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("value"); // -1: not a number

    QTest::newRow("digit") << "5" << 5;
    QTest::newRow("leading zeros") << "0003" << 3;
    QTest::newRow("zero") << "0" << 0;
    QTest::newRow("blanks around") << " \t7 " << 7;
    QTest::newRow("overflow saturates") << "123456789012345678901234567890" << INT_MAX;
    QTest::newRow("empty") << "" << -1;
    QTest::newRow("blanks only") << "  " << -1;
    QTest::newRow("plus sign") << "+1" << -1;
    QTest::newRow("minus sign") << "-1" << -1;
    QTest::newRow("decimal point") << "1.0" << -1;
    QTest::newRow("blank inside") << "1 2" << -1;
    QTest::newRow("letter") << "1a" << -1;
    QTest::newRow("carriage return") << "1\r" << -1;
    QTest::newRow("arabic-indic digit") << QString(QChar(0x0663)) << -1;
}

void TestFrameReceiver::fieldNumber()
{
    QFETCH(QString, field);
    QFETCH(int, value);
    const std::optional<int> parsed = ::fieldNumber(field);
    QCOMPARE(parsed.value_or(-1), value);
}

void TestFrameReceiver::decoderTakesEachFrameAtItsLineEnd_data()
{
    // The chunks of consecutive reads; per read, the frame texts taken ("F" a frame, "f" a
    // text whose fields make none), "." for none.
    QTest::addColumn<QStringList>("reads");
    QTest::addColumn<QString>("taken");
    QTest::addColumn<QString>("frame"); // the last frame taken, described()

    const QString other =
        QStringLiteral("$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n");
    const auto row = [](const char *tag, const QStringList &reads, const char *taken,
                        const QString &frame) {
        QTest::newRow(tag) << reads << QString::fromLatin1(taken) << frame;
    };
    row("whole frame in one read", {FrameLine}, "F", FrameShown);
    row("frame cut across reads", {FrameLine.left(10), FrameLine.mid(10, 15), FrameLine.mid(25)},
        "..F", FrameShown);
    row("CR and LF in different reads", {FrameLine.chopped(1), "\n"}, ".F", FrameShown);
    row("never quiet: a frame and other lines in every read",
        {FrameLine + other, other + FrameLine + other, other + other + FrameLine}, "FffFfffF",
        FrameShown);
    row("noise with a stray $ right after the frame", {FrameLine + "x$y", "zz"}, "F.", FrameShown);
    row("noise before the frame", {"\x01\r\n" + FrameLine}, "F", FrameShown);
    row("a frame begun anew by a later $", {"$12:0" + FrameLine}, "F", FrameShown);
    row("lone LF or CR ends nothing", {"$12:00:00,06/15/2007,5,1\n", "\r"}, "..", QString());
    row("no $: no frame", {FrameText + "\r\n"}, ".", QString());
    row("text past the bound is no frame",
        {u'$' + QString(FrameDecoder::MaxFrameText, u'1') + "\r\n", FrameLine}, ".F", FrameShown);
}

void TestFrameReceiver::decoderTakesEachFrameAtItsLineEnd()
{
    QFETCH(QStringList, reads);
    QFETCH(QString, taken);
    QFETCH(QString, frame);

    FrameDecoder decoder;
    QString got;
    std::optional<Frame> last;
    for (const QString &read : reads) {
        const QList<FrameDecoder::Line> lines =
            decoder.decode({ReceivedChunk{read.toLatin1(), MonotonicClock::now()}});
        if (lines.isEmpty())
            got += u'.';
        for (const FrameDecoder::Line &line : lines) {
            got += line.frame ? u'F' : u'f';
            if (line.frame)
                last = line.frame;
        }
    }
    QCOMPARE(got, taken);
    QCOMPARE(described(last), frame);
}

void TestFrameReceiver::decoderDatesEachFrameByItsMarker()
{
    // Two frames in one read: each dated when its own "$" arrived, counted back from the
    // read's last byte one character time a byte; a port reopened forgets a frame under way.
    const QByteArray bytes = (FrameLine + FrameLine).toLatin1();
    const MonotonicTime last = MonotonicClock::now();
    FrameDecoder decoder;
    const QList<FrameDecoder::Line> lines = decoder.decode({ReceivedChunk{bytes, last}});
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines.at(0).frame->arrival, last - (bytes.size() - 1) * CharacterTime);
    QCOMPARE(lines.at(1).frame->arrival, last - (bytes.size() / 2 - 1) * CharacterTime);
    QCOMPARE(lines.at(1).text, FrameText);

    decoder.decode({ReceivedChunk{QByteArrayLiteral("$12:00:00,06/1"), last}});
    decoder.reset();
    QVERIFY(decoder.decode({ReceivedChunk{QByteArrayLiteral("5/2007,5,1\r\n"), last}}).isEmpty());
}

QTEST_GUILESS_MAIN(TestFrameReceiver)
#include "tst_framereceiver.moc"
