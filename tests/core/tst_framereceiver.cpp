#include "framefields.h"
#include "framereceiver.h"
#include "scriptedserialport.h"

#include <QTest>

using namespace std::chrono_literals;

namespace {

const QString InitialText = QStringLiteral("Ventana de recepción.\r\n");
const DisplayTexts Placeholders{QStringLiteral("hh:mm:ss"), QStringLiteral("mm/dd/aaaa"),
                                QStringLiteral("Semana"), QStringLiteral("Inviern/Veran")};
const QString Frame = QStringLiteral("$12:00:00,06/15/2007,5,1\r\n");
const QString FrameText = QStringLiteral("12:00:00,06/15/2007,5,1");
const DisplayTexts FrameShown{QStringLiteral("12:00:00"), QStringLiteral("06/15/2007"),
                              QStringLiteral("Viernes"), QStringLiteral("Verano")};

// Runs one tick per chunk ("" is a quiet tick) and returns, per tick, "F" when it took a
// frame and "." when not.
QString runTicks(FrameReceiver &receiver, ScriptedSerialPort &port, const QStringList &chunks)
{
    port.chunks = chunks;
    QString taken;
    for (qsizetype i = 0; i < chunks.size(); ++i) {
        receiver.Tick(&port);
        taken += receiver.TookFrame() ? u'F' : u'.';
    }
    return taken;
}

DisplayTexts shown(const QString &time, const QString &date, const QString &weekday,
                   const QString &regime)
{
    return DisplayTexts{time, date, weekday, regime};
}

} // namespace

Q_DECLARE_METATYPE(DisplayTexts)

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
};

void TestFrameReceiver::ticks_data()
{
    QTest::addColumn<QStringList>("chunks");
    QTest::addColumn<QString>("taken");
    QTest::addColumn<QString>("receiveText");
    QTest::addColumn<DisplayTexts>("display");

    const DisplayTexts none = Placeholders;
    QTest::newRow("whole frame, then a quiet tick")
        << QStringList{Frame, ""} << ".F" << FrameText << FrameShown;
    QTest::newRow("first tick never takes a frame")
        << QStringList{Frame} << "." << InitialText + Frame << none;
    QTest::newRow("quiet first tick takes nothing")
        << QStringList{""} << "." << InitialText << none;
    QTest::newRow("input on every tick: no frame, text grows")
        << QStringList{Frame, Frame, Frame} << "..." << InitialText + Frame + Frame + Frame << none;
    QTest::newRow("two frames before a quiet tick: the later wins")
        << QStringList{QStringLiteral("$01:02:03,01/01/2007,1,0\r\n") + Frame, ""} << ".F"
        << FrameText << FrameShown;
    QTest::newRow("noise and initial text vanish with the first frame")
        << QStringList{QStringLiteral("x#\x01noise\r\n") + Frame, ""} << ".F" << FrameText
        << FrameShown;
    QTest::newRow("quiet ticks after a frame take nothing more")
        << QStringList{Frame, "", "", ""} << ".F.." << FrameText << FrameShown;
    QTest::newRow("the next frame is appended behind the frame text")
        << QStringList{Frame, "", QStringLiteral("$13:")} << ".F."
        << FrameText + "$13:" << FrameShown;
    QTest::newRow("same frame twice shows the same texts")
        << QStringList{Frame, "", Frame, ""} << ".F.F" << FrameText << FrameShown;
    QTest::newRow("line end but no marker: nothing is cut")
        << QStringList{QStringLiteral("noise\r\n"), ""} << ".." << InitialText + "noise\r\n"
        << none;
    QTest::newRow("marker at the very end: frame still arriving")
        << QStringList{QStringLiteral("$"), ""} << ".." << InitialText + "$" << none;
    QTest::newRow("pause inside a frame with an older line end: nothing cut off")
        << QStringList{QStringLiteral("$12:00:00,06/1"), ""} << ".."
        << InitialText + "$12:00:00,06/1" << none;
    QTest::newRow("partial next frame after a whole one waits for its line end")
        << QStringList{Frame + "$13:00:00", "", QStringLiteral(",06/15/2007,5,1\r\n"), ""} << "...F"
        << QStringLiteral("13:00:00,06/15/2007,5,1")
        << shown("13:00:00", "06/15/2007", "Viernes", "Verano");
    QTest::newRow("characters after the line end are not part of the frame")
        << QStringList{Frame + "zz", ""} << ".F" << FrameText << FrameShown;
    QTest::newRow("line end inside the frame ends it early")
        << QStringList{QStringLiteral("$12:00\r\n:00,06/15/2007,5,1\r\n"), ""} << ".F"
        << QStringLiteral("12:00") << none;
    QTest::newRow("empty frame") << QStringList{QStringLiteral("$\r\n"), ""} << ".F" << QString()
                                 << none;
    QTest::newRow("three fields change no label")
        << QStringList{QStringLiteral("$12:00:00,06/15/2007,5\r\n"), ""} << ".F"
        << QStringLiteral("12:00:00,06/15/2007,5") << none;
    QTest::newRow("letters for weekday and flag change no label")
        << QStringList{QStringLiteral("$A,B,C,D\r\n"), ""} << ".F" << QStringLiteral("A,B,C,D")
        << none;
    QTest::newRow("non-numeric weekday changes no label")
        << QStringList{QStringLiteral("$12:00:00,06/15/2007,x,1\r\n"), ""} << ".F"
        << QStringLiteral("12:00:00,06/15/2007,x,1") << none;
    QTest::newRow("non-numeric flag changes no label")
        << QStringList{QStringLiteral("$12:00:00,06/15/2007,5,1\r\r\n"), ""} << ".F"
        << QStringLiteral("12:00:00,06/15/2007,5,1\r") << none;
    QTest::newRow("a bad frame leaves the previous frame shown")
        << QStringList{Frame, "", QStringLiteral("$13:00:00,06/15/2007,-1,1\r\n"), ""} << ".F.F"
        << QStringLiteral("13:00:00,06/15/2007,-1,1") << FrameShown;
    QTest::newRow("weekday 1 is Lunes, flag 0 Invierno")
        << QStringList{QStringLiteral("$1:2:3,1/2/2007,1,0\r\n"), ""} << ".F"
        << QStringLiteral("1:2:3,1/2/2007,1,0") << shown("1:2:3", "1/2/2007", "Lunes", "Invierno");
    QTest::newRow("weekday 7 is Domingo, flag 2 Invierno")
        << QStringList{QStringLiteral("$t,d,7,2\r\n"), ""} << ".F" << QStringLiteral("t,d,7,2")
        << shown("t", "d", "Domingo", "Invierno");
    QTest::newRow("weekday 0 leaves Label5, writes the rest")
        << QStringList{QStringLiteral("$t,d,0,1\r\n"), ""} << ".F" << QStringLiteral("t,d,0,1")
        << shown("t", "d", "Semana", "Verano");
    QTest::newRow("weekday 8 keeps the previous day name")
        << QStringList{Frame, "", QStringLiteral("$t,d,8,0\r\n"), ""} << ".F.F"
        << QStringLiteral("t,d,8,0") << shown("t", "d", "Viernes", "Invierno");
    QTest::newRow("weekday 03 is Miercoles, flag 01 Verano")
        << QStringList{QStringLiteral("$t,d,03,01\r\n"), ""} << ".F" << QStringLiteral("t,d,03,01")
        << shown("t", "d", "Miercoles", "Verano");
    QTest::newRow("blanks around numbers")
        << QStringList{QStringLiteral("$t,d, 4 , 1\r\n"), ""} << ".F"
        << QStringLiteral("t,d, 4 , 1") << shown("t", "d", "Jueves", "Verano");
    QTest::newRow("fields after the fourth are ignored")
        << QStringList{QStringLiteral("$a,b,3,1,x\r\n"), ""} << ".F" << QStringLiteral("a,b,3,1,x")
        << shown("a", "b", "Miercoles", "Verano");
    QTest::newRow("empty time and date are shown")
        << QStringList{QStringLiteral("$,,6,0\r\n"), ""} << ".F" << QStringLiteral(",,6,0")
        << shown("", "", "Sabado", "Invierno");
    QTest::newRow("bytes 128 to 255 before a frame")
        << QStringList{QString::fromLatin1("\xe9\xff\x80") + Frame, ""} << ".F" << FrameText
        << FrameShown;
    QTest::newRow("Martes, with a huge flag that is not 1")
        << QStringList{QStringLiteral("$t,d,2,99999999999999999999\r\n"), ""} << ".F"
        << QStringLiteral("t,d,2,99999999999999999999") << shown("t", "d", "Martes", "Invierno");
}

void TestFrameReceiver::ticks()
{
    QFETCH(QStringList, chunks);
    QFETCH(QString, taken);
    QFETCH(QString, receiveText);
    QFETCH(DisplayTexts, display);

    FrameReceiver receiver(InitialText, Placeholders);
    ScriptedSerialPort port;
    QCOMPARE(runTicks(receiver, port, chunks), taken);
    QCOMPARE(receiver.ReceiveText(), receiveText);
    const DisplayTexts actual = receiver.Display();
    QCOMPARE(actual.time, display.time);
    QCOMPARE(actual.date, display.date);
    QCOMPARE(actual.weekday, display.weekday);
    QCOMPARE(actual.regime, display.regime);
}

void TestFrameReceiver::framesSplitEveryWay_data()
{
    QTest::addColumn<QStringList>("chunks");
    QTest::addColumn<QString>("taken");

    // Every cut of a frame into two polls, with and without a quiet poll in between; also
    // behind an earlier frame, whose text is then what the receive window holds.
    for (qsizetype cut = 1; cut < Frame.size(); ++cut) {
        const QString head = Frame.left(cut);
        const QString tail = Frame.mid(cut);
        QTest::addRow("cut after %d", int(cut)) << QStringList{head, tail, ""} << "..F";
        QTest::addRow("quiet poll after %d", int(cut)) << QStringList{head, "", tail, ""} << "...F";
        QTest::addRow("behind a frame, cut after %d", int(cut))
            << QStringList{Frame, "", head, "", tail, ""} << ".F...F";
    }
    for (qsizetype cut = 1; cut + 1 < Frame.size(); ++cut)
        QTest::addRow("three pieces at %d", int(cut))
            << QStringList{Frame.left(cut), Frame.mid(cut, 1), Frame.mid(cut + 1), ""} << "...F";
}

void TestFrameReceiver::framesSplitEveryWay()
{
    QFETCH(QStringList, chunks);
    QFETCH(QString, taken);

    FrameReceiver receiver(InitialText, Placeholders);
    ScriptedSerialPort port;
    QCOMPARE(runTicks(receiver, port, chunks), taken);
    QCOMPARE(receiver.ReceiveText(), FrameText);
    QVERIFY(receiver.Display() == FrameShown);
}

void TestFrameReceiver::closedOrFailingPortChangesNothing_data()
{
    QTest::addColumn<bool>("open");
    QTest::addColumn<int>("failPortOpen");
    QTest::addColumn<int>("failInput");
    QTest::addColumn<QStringList>("calls");

    const QStringList askOnly{QStringLiteral("portOpen")};
    QTest::newRow("closed") << false << int(SerialOk) << int(SerialOk) << askOnly;
    QTest::newRow("asking fails") << true << int(SerialReadFailed) << int(SerialOk) << askOnly;
    QTest::newRow("reading fails")
        << true << int(SerialOk) << int(SerialReadFailed)
        << QStringList{QStringLiteral("portOpen"), QStringLiteral("input")};
}

void TestFrameReceiver::closedOrFailingPortChangesNothing()
{
    QFETCH(bool, open);
    QFETCH(int, failPortOpen);
    QFETCH(int, failInput);
    QFETCH(QStringList, calls);

    FrameReceiver receiver(InitialText, Placeholders);
    ScriptedSerialPort port;
    runTicks(receiver, port, {Frame}); // a whole frame is waiting for the quiet tick
    port.calls.clear();
    port.open = open;
    port.failPortOpen = failPortOpen;
    port.failInput = failInput;
    port.chunks = QStringList{""};

    QVERIFY(!receiver.Tick(&port));
    QVERIFY(!receiver.TookFrame());
    QCOMPARE(port.calls, calls);
    QCOMPARE(receiver.ReceiveText(), InitialText + Frame);
    QVERIFY(receiver.Display() == Placeholders);

    // The port comes back: the frame is taken on the next quiet tick, as if nothing happened.
    port.open = true;
    port.failPortOpen = port.failInput = SerialOk;
    QCOMPARE(runTicks(receiver, port, {""}), QStringLiteral("F"));
}

void TestFrameReceiver::callOrder()
{
    FrameReceiver receiver(InitialText, Placeholders);
    ScriptedSerialPort port;
    port.chunks = QStringList{Frame, ""};
    QVERIFY(receiver.Tick(&port));
    QVERIFY(receiver.Tick(&port));
    const QStringList expected{"portOpen", "input", "portOpen", "input"};
    QCOMPARE(port.calls, expected);
}

void TestFrameReceiver::userEditOfLengthDelaysFrameByOneTick_data()
{
    QTest::addColumn<QString>("edit");
    QTest::addColumn<QString>("taken");

    QTest::newRow("longer edit") << QStringLiteral("Hola ") + InitialText + Frame << ".F";
    QTest::newRow("shorter edit") << QStringLiteral("Ventana\r\n") + Frame << ".F";
    QTest::newRow("same length edit")
        << QStringLiteral("Ventana de recepcion?\r\n") + Frame << "F.";
}

void TestFrameReceiver::userEditOfLengthDelaysFrameByOneTick()
{
    QFETCH(QString, edit);
    QFETCH(QString, taken);

    FrameReceiver receiver(InitialText, Placeholders);
    ScriptedSerialPort port;
    runTicks(receiver, port, {Frame});
    receiver.SetReceiveText(edit);
    QCOMPARE(receiver.ReceiveText(), edit);
    QCOMPARE(runTicks(receiver, port, {"", ""}), taken);
    QCOMPARE(receiver.ReceiveText(), FrameText);
}

void TestFrameReceiver::receiveTextStaysWithinBound()
{
    FrameReceiver receiver(InitialText, Placeholders);
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

    receiver.SetReceiveText(QString(3 * FrameReceiver::MaxReceiveLength, u'x') + Frame);
    QCOMPARE(receiver.ReceiveText().size(), FrameReceiver::MaxReceiveLength);
    QVERIFY(receiver.ReceiveText().endsWith(Frame));
    // The text was at the bound before the edit and is after it: same length, no delay.
    QCOMPARE(runTicks(receiver, port, {"", ""}), QStringLiteral("F."));
    QCOMPARE(receiver.ReceiveText(), FrameText);
}

void TestFrameReceiver::noFrameOnTickWithInputAtTheBound()
{
    // At the bound every tick keeps the text's length; input still means "not quiet".
    FrameReceiver receiver(QString(FrameReceiver::MaxReceiveLength, u'x'), Placeholders);
    ScriptedSerialPort port;
    QCOMPARE(runTicks(receiver, port, {Frame, "ab", "cd", ""}), QStringLiteral("...F"));
    QCOMPARE(receiver.ReceiveText(), FrameText);
}

void TestFrameReceiver::frameArrivalIsWhenItsMarkerArrived()
{
    FrameReceiver receiver(InitialText, Placeholders);
    QVERIFY(!receiver.FrameArrival());
    ScriptedSerialPort port;
    const MonotonicTime start = MonotonicClock::now();
    port.chunkArrival = {start, start + 2ms, start + 100ms, start + 300ms, start + 320ms};
    // An earlier frame's marker, then the marker of the frame that is taken.
    runTicks(receiver, port, {"$01:02", "03\r\n$12:00:00,06/1", "5/2007,5,1\r\n", ""});
    QCOMPARE(receiver.FrameArrival(), std::optional<MonotonicTime>(start + 2ms));

    // A frame that shows nothing does not move the arrival of what is shown.
    runTicks(receiver, port, {"$bad\r\n", ""});
    QCOMPARE(receiver.FrameArrival(), std::optional<MonotonicTime>(start + 2ms));
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

QTEST_GUILESS_MAIN(TestFrameReceiver)
#include "tst_framereceiver.moc"
