#include "tests/support/paintcounter.h"
#include "tests/support/scriptedwindow.h"
#include "tests/support/windowonline.h"
#include "tools/sim/scriptedserialport.h"
#include "ui/form1.h"
#ifdef Q_OS_WIN
#include "tests/support/comportdevice.h"
#endif

#include <QAbstractItemView>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace std::chrono_literals;

namespace {

const QString FrameLine = QStringLiteral("$12:00:00,06/15/2007,5,1\r\n");
const QString Unavailable = QStringLiteral("Puerto no disponible");
const QStringList Controls{"Text1",   "Frame1",   "Label1",   "Label2",     "Label3",
                           "Label4",  "Label5",   "Label6",   "Label7",     "Label8",
                           "Combo1",  "Command1", "Command2", "OLE1",       "Label9",
                           "Label10", "Command3", "Label11",  "LabelOffset"};

// A window with a scripted port and recorded messages, not shown.
using Fixture = ScriptedWindow;

// The text a control shows, whatever its kind.
QString textOf(QWidget *widget)
{
    if (auto *label = qobject_cast<QLabel *>(widget))
        return label->text();
    if (auto *button = qobject_cast<QPushButton *>(widget))
        return button->text();
    if (auto *box = qobject_cast<QPlainTextEdit *>(widget))
        return box->toPlainText();
    if (auto *combo = qobject_cast<QComboBox *>(widget))
        return combo->currentText();
    if (auto *frame = qobject_cast<QGroupBox *>(widget))
        return frame->title();
    return QStringLiteral("<unknown kind>");
}

// Twips of the layout into pixels at 96 dots per inch.
QRect twips(int left, int top, int width, int height)
{
    return QRect(left / 15, top / 15, width / 15, height / 15);
}

} // namespace

class TestForm1 : public QObject
{
    Q_OBJECT

private slots:
    void controls_data();
    void controls();
    void looks_data();
    void looks();
    void window();
    void noControlsOverlap();
    void label11ShowsNothing();
    void tabOrderStartsInTheReceiveWindow();
    void enterAndEscapePressNothing_data();
    void enterAndEscapePressNothing();
    void frameThroughPseudoTerminal();
    void unavailableDeviceShowsOneMessage();
    void pickingAnotherPortClosesTheOpenOneFirst();
    void unavailablePortShowsOneMessageAndPollingGoesOn();
    void typingAPortNameOpensNothing();
    void userEditIsPartOfTheReceiveText();
    void captions_data();
    void captions();
    void offsetLineChangesOncePerFrame();
    void aboutShowsTwoBoxesAndChangesNothing();
    void closing_data();
    void closing();
    void clockSettingGetsTheShownDateAndTime();
};

void TestForm1::controls_data()
{
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("text");

    const QString form = QStringLiteral("Form1");
    const QString frame = QStringLiteral("Frame1");
    // The receive window shows the CR LF of its text as a line break.
    QTest::newRow("Text1") << form << twips(3360, 2040, 2655, 975)
                           << QStringLiteral("Ventana de recepción.\n");
    QTest::newRow("Frame1") << form << twips(120, 720, 2655, 4095) << "";
    QTest::newRow("Label1") << frame << twips(120, 480, 2415, 615) << "hh:mm:ss";
    QTest::newRow("Label2") << frame << twips(120, 120, 2295, 345) << "Hora Local";
    QTest::newRow("Label3") << frame << twips(120, 1560, 2415, 495) << "mm/dd/aaaa";
    QTest::newRow("Label4") << frame << twips(120, 1185, 2295, 375) << "Fecha";
    QTest::newRow("Label5") << frame << twips(120, 2520, 2415, 495) << "Semana";
    QTest::newRow("Label6") << frame << twips(120, 2145, 2295, 375)
                            << QStringLiteral("Día de la Semana");
    QTest::newRow("Label7") << frame << twips(120, 3480, 2415, 495) << "Inviern/Veran";
    QTest::newRow("Label8") << frame << twips(120, 3105, 2175, 375) << "Horario de";
    QTest::newRow("Combo1") << form << twips(120, 120, 855, 315) << "Com1";
    QTest::newRow("Command1") << form << twips(1440, 165, 1695, 255) << "Poner en hora el PC";
    QTest::newRow("Command2") << form << twips(5160, 4320, 855, 255) << "Cerrar";
    QTest::newRow("OLE1") << form << twips(3720, 360, 1935, 1335) << "";
    QTest::newRow("Label9") << form << twips(3375, 3360, 2625, 315) << "www.quorvel.example";
    QTest::newRow("Label10") << form << twips(3120, 3720, 3015, 375)
                             << "Quorvel version V.2.0 Junio 2007";
    QTest::newRow("Command3") << form << twips(3120, 4320, 975, 255) << "Acerca de";
    QTest::newRow("Label11") << form << twips(4320, 4800, 735, 15) << "Label11";
    QTest::newRow("LabelOffset") << form << twips(2880, 3030, 3360, 330) << "";
}

void TestForm1::controls()
{
    QFETCH(QString, parent);
    QFETCH(QRect, geometry);
    QFETCH(QString, text);

    Fixture f;
    QWidget *control = f.control(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(control);
    QCOMPARE(control->parentWidget()->objectName(), parent);
    QCOMPARE(control->geometry(), geometry);
    QCOMPARE(textOf(control), text);
}

void TestForm1::looks_data()
{
    QTest::addColumn<QString>("family"); // empty: the window's default font
    QTest::addColumn<double>("points");
    QTest::addColumn<bool>("gray");
    QTest::addColumn<bool>("border");
    QTest::addColumn<int>("alignment"); // horizontal alignment of labels, 0 for other kinds

    const QString sans = QStringLiteral("MS Sans Serif");
    const int centre = Qt::AlignHCenter;
    const int left = Qt::AlignLeft;
    QTest::newRow("Label1") << sans << 24.0 << false << true << centre;
    QTest::newRow("Label2") << sans << 13.5 << true << false << left;
    QTest::newRow("Label3") << sans << 18.0 << false << true << centre;
    QTest::newRow("Label4") << sans << 13.5 << true << false << left;
    QTest::newRow("Label5") << sans << 18.0 << false << true << centre;
    QTest::newRow("Label6") << sans << 13.5 << true << false << left;
    QTest::newRow("Label7") << sans << 18.0 << false << true << centre;
    QTest::newRow("Label8") << sans << 13.5 << true << false << left;
    QTest::newRow("Label9") << "" << 8.0 << false << false << centre;
    QTest::newRow("Label10") << "" << 8.0 << false << false << centre;
    QTest::newRow("Label11") << "" << 8.0 << false << false << left;
    QTest::newRow("Text1") << "" << 8.0 << false << true << 0;
    QTest::newRow("Combo1") << "" << 8.0 << false << false << 0;
    QTest::newRow("Command1") << "" << 8.0 << false << false << 0;
    QTest::newRow("Command2") << "" << 8.0 << false << false << 0;
    QTest::newRow("Command3") << "" << 8.0 << false << false << 0;
}

void TestForm1::looks()
{
    QFETCH(QString, family);
    QFETCH(double, points);
    QFETCH(bool, gray);
    QFETCH(bool, border);
    QFETCH(int, alignment);

    Fixture f;
    QWidget *control = f.control(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(control);
    control->ensurePolished();
    const QFont font = control->font();
    if (family.isEmpty())
        QCOMPARE(font.family(), f.form.font().family());
    else
        QCOMPARE(font.family(), family);
    QCOMPARE(font.pointSizeF(), points);
    QCOMPARE(font.weight(), QFont::Normal);
    QVERIFY(!font.italic() && !font.underline() && !font.strikeOut());

    const QColor text = control->palette().color(QPalette::WindowText);
    QCOMPARE(text == QColor(128, 128, 128), gray);
    if (auto *label = qobject_cast<QLabel *>(control)) {
        QCOMPARE(label->frameShape() != QFrame::NoFrame, border);
        QCOMPARE(int(label->alignment() & Qt::AlignHorizontal_Mask), alignment);
        QCOMPARE(label->textFormat(), Qt::PlainText);
        QVERIFY(!label->wordWrap());
        QVERIFY(label->buddy() == nullptr);
    }
}

void TestForm1::window()
{
    Fixture f;
    QCOMPARE(f.form.objectName(), QStringLiteral("Form1"));
    QCOMPARE(f.form.windowTitle(), QStringLiteral(" Q u o r v e l"));
    QCOMPARE(f.form.size(), QSize(421, 332));
    QCOMPARE(f.form.minimumSize(), QSize(421, 332));
    QCOMPARE(f.form.maximumSize(), QSize(421, 332));
    const QList<QSize> iconSizes = f.form.windowIcon().availableSizes();
    QVERIFY(iconSizes.contains(QSize(16, 16)));
    QVERIFY(iconSizes.contains(QSize(32, 32)));

    auto *combo = f.control<QComboBox>("Combo1");
    QStringList entries;
    for (int i = 0; i < combo->count(); ++i)
        entries.append(combo->itemText(i));
    QCOMPARE(entries, (QStringList{"Com1", "Com2", "Com3", "Com4"}));
    QVERIFY(combo->isEditable());

    auto *text1 = f.control<QPlainTextEdit>("Text1");
    QVERIFY(!text1->isReadOnly());
    QVERIFY(text1->tabChangesFocus());
    QCOMPARE(text1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);

    for (const QString name : {"Command1", "Command2", "Command3"}) {
        auto *button = f.control<QPushButton>(name);
        QVERIFY2(!button->isDefault() && !button->autoDefault(), qPrintable(name));
        QVERIFY2(!button->text().contains(u'&'), qPrintable(name));
    }
    QCOMPARE(f.control<QLabel>("OLE1")->pixmap().size(), QSize(119, 82));

    // Polling waits for the port selection.
    QVERIFY(!f.timer1()->isActive());
    QCOMPARE(f.port.calls, QStringList());
}

void TestForm1::noControlsOverlap()
{
    Fixture f;
    for (const QString &a : Controls) {
        for (const QString &b : Controls) {
            QWidget *first = f.control(a);
            QWidget *second = f.control(b);
            if (a >= b || first->parentWidget() != second->parentWidget())
                continue;
            QVERIFY2(!first->geometry().intersects(second->geometry()),
                     qPrintable(a + QLatin1String(" overlaps ") + b));
        }
    }
}

void TestForm1::label11ShowsNothing()
{
    Fixture f;
    QVERIFY(f.show());
    const QImage image = f.control("Label11")->grab().toImage();
    QCOMPARE(image.height(), 1);
    const QColor background = f.form.palette().color(QPalette::Window);
    for (int x = 0; x < image.width(); ++x)
        QCOMPARE(image.pixelColor(x, 0), background);
}

void TestForm1::tabOrderStartsInTheReceiveWindow()
{
    Fixture f;
    QVERIFY(f.showActive());
    QCOMPARE(QApplication::focusWidget(), f.control("Text1"));

    const QStringList forward{"Combo1", "Command1", "Command2", "Command3", "Text1"};
    for (const QString &next : forward) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), next);
    }
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("Command3"));
}

void TestForm1::enterAndEscapePressNothing_data()
{
    QTest::addColumn<QString>("focus");
    QTest::addColumn<int>("key");

    for (const QString focus : {"Text1", "Combo1", "Command1", "Command2", "Command3"}) {
        QTest::newRow(qPrintable(focus + " Return")) << focus << int(Qt::Key_Return);
        QTest::newRow(qPrintable(focus + " Enter")) << focus << int(Qt::Key_Enter);
        QTest::newRow(qPrintable(focus + " Escape")) << focus << int(Qt::Key_Escape);
    }
}

void TestForm1::enterAndEscapePressNothing()
{
    QFETCH(QString, focus);
    QFETCH(int, key);

    Fixture f;
    f.port.open = true;
    QVERIFY(f.showActive());
    QList<std::shared_ptr<QSignalSpy>> clicks;
    for (const QString name : {"Command1", "Command2", "Command3"})
        clicks.append(
            std::make_shared<QSignalSpy>(f.control<QPushButton>(name), &QPushButton::clicked));
    QSignalSpy ends(&f.form, &Form1::programEndRequested);

    QWidget *target = f.control(focus);
    target->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), target);
    QTest::keyClick(target, Qt::Key(key));

    for (const auto &spy : clicks)
        QCOMPARE(spy->count(), 0);
    QCOMPARE(ends.count(), 0);
    QCOMPARE(f.messages.shown, QStringList());
    QCOMPARE(f.port.calls, QStringList());
    QVERIFY(f.form.isVisible());
}

void TestForm1::frameThroughPseudoTerminal()
{
#ifndef Q_OS_UNIX
    QSKIP("plays the device on a POSIX pseudo-terminal, which this system lacks");
#else
    WindowOnLine window;
    QVERIFY(window.plugIn());
    window.form.Form_Load();
    QCOMPARE(window.messages.shown, QStringList());
    QVERIFY(window.portIsOpen());

    QVERIFY(window.send(FrameLine.toLatin1()));

    QTRY_COMPARE(window.labels(), (QStringList{"12:00:00", "06/15/2007", "Viernes", "Verano"}));
    QCOMPARE(window.control<QPlainTextEdit>("Text1")->toPlainText(),
             QStringLiteral("12:00:00,06/15/2007,5,1"));
    QCOMPARE(window.device->takeWritten(), QByteArray());
#endif
}

void TestForm1::unavailableDeviceShowsOneMessage()
{
#ifdef Q_OS_WIN
    // Com1 is COM1 here: the machine must have no such port.
    if (comPortHasDevice(QStringLiteral("COM1")))
        QSKIP("COM1 is a real port here; it is left alone");
#endif
    WindowOnLine window;
    window.nameDevice(QStringLiteral("/nonexistent/quorvel-device"));
    window.form.Form_Load();

    QCOMPARE(window.messages.shown.size(), 1);
    QVERIFY(window.messages.shown.first().startsWith(Unavailable + QLatin1String("\r\n")));
    QVERIFY(!window.portIsOpen());
}

void TestForm1::pickingAnotherPortClosesTheOpenOneFirst()
{
    Fixture f;
    QVERIFY(f.show());
    f.loadWithoutPolling();
    QVERIFY(f.port.open);
    QCOMPARE(f.port.number, qint16(1));

    pickEntry(f.control<QComboBox>("Combo1"), 1);

    QCOMPARE(f.port.calls, (QStringList{"portOpen", "close", "setCommPort 2", "open"}));
    QCOMPARE(f.port.number, qint16(2));
    QCOMPARE(f.messages.shown, QStringList());
}

void TestForm1::unavailablePortShowsOneMessageAndPollingGoesOn()
{
    Fixture f;
    f.port.failOpen = SerialNoDevice;
    QVERIFY(f.show());
    f.form.Form_Load();
    QCOMPARE(f.messages.shown, QStringList{Unavailable});
    QVERIFY(!f.port.open);
    QVERIFY(f.timer1()->isActive());
    QCOMPARE(f.timer1()->intervalAsDuration(), 100ms);

    // The timer goes on asking; a closed port is read from never, and told about never again.
    f.port.calls.clear();
    QTRY_VERIFY(f.port.calls.count(QStringLiteral("portOpen")) >= 3);
    QVERIFY(!f.port.calls.contains(QStringLiteral("input")));
    QCOMPARE(f.messages.shown.size(), 1);

    // Once the device is there, picking it opens it without a message.
    f.port.failOpen = SerialOk;
    pickEntry(f.control<QComboBox>("Combo1"), 0);
    QVERIFY(f.port.open);
    QCOMPARE(f.messages.shown.size(), 1);
}

void TestForm1::typingAPortNameOpensNothing()
{
    Fixture f;
    QVERIFY(f.showActive());
    f.loadWithoutPolling();

    auto *combo = f.control<QComboBox>("Combo1");
    combo->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), combo);
    QTest::keyClick(combo, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(combo, QStringLiteral("Com3"));
    QTest::keyClick(combo, Qt::Key_Return);
    QTest::keyClick(combo, Qt::Key_Tab); // and leaves the field
    QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("Command1"));
    QCOMPARE(combo->currentText(), QStringLiteral("Com3"));
    QCOMPARE(f.port.calls, QStringList());
    QCOMPARE(f.port.number, qint16(1));

    pickEntry(combo, 2);
    QCOMPARE(f.port.calls, (QStringList{"portOpen", "close", "setCommPort 3", "open"}));
}

void TestForm1::userEditIsPartOfTheReceiveText()
{
    Fixture f;
    f.port.open = true;
    QVERIFY(f.showActive());
    auto *text1 = f.control<QPlainTextEdit>("Text1");
    QTRY_COMPARE(QApplication::focusWidget(), text1);

    // The user types a whole frame, with Enter as its line end.
    text1->moveCursor(QTextCursor::End);
    QTest::keyClicks(text1, QStringLiteral("$07:08:09,12/24/2007,1,0"));
    QTest::keyClick(text1, Qt::Key_Return);

    // The edit changed the length: the first quiet tick takes nothing, the second the frame,
    // which only a CR LF line end lets through.
    f.form.Timer1_Timer();
    QCOMPARE(f.text("Label1"), QStringLiteral("hh:mm:ss"));
    f.form.Timer1_Timer();
    QCOMPARE(f.displayed(),
             (QStringList{"07:08:09", "12/24/2007", "Lunes", QStringLiteral("Invierno")}));
    QCOMPARE(text1->toPlainText(), QStringLiteral("07:08:09,12/24/2007,1,0"));
}

void TestForm1::captions_data()
{
    QTest::addColumn<QStringList>("frames"); // each followed by a quiet tick
    QTest::addColumn<QStringList>("labels"); // Label1, Label3, Label5, Label7 afterwards

    QTest::newRow("weekday 1 is Lunes, flag 0 Invierno")
        << QStringList{"$1:2:3,1/2/2007,1,0\r\n"}
        << QStringList{"1:2:3", "1/2/2007", "Lunes", "Invierno"};
    QTest::newRow("weekday 7 is Domingo, flag 2 Invierno")
        << QStringList{"$t,d,7,2\r\n"} << QStringList{"t", "d", "Domingo", "Invierno"};
    QTest::newRow("weekday 03 is Miercoles, flag 01 Verano")
        << QStringList{"$t,d,03,01\r\n"} << QStringList{"t", "d", "Miercoles", "Verano"};
    QTest::newRow("weekday 0 leaves Label5, writes the rest")
        << QStringList{"$t,d,0,1\r\n"} << QStringList{"t", "d", "Semana", "Verano"};
    QTest::newRow("weekday 8 keeps the previous day name")
        << QStringList{FrameLine, "$t,d,8,0\r\n"} << QStringList{"t", "d", "Viernes", "Invierno"};
    QTest::newRow("a frame without four fields changes no label")
        << QStringList{FrameLine, "$13:00:00,06/16/2007,6\r\n"}
        << QStringList{"12:00:00", "06/15/2007", "Viernes", "Verano"};
    QTest::newRow("empty time and date are shown")
        << QStringList{FrameLine, "$,,6,0\r\n"} << QStringList{"", "", "Sabado", "Invierno"};
}

void TestForm1::captions()
{
    QFETCH(QStringList, frames);
    QFETCH(QStringList, labels);

    Fixture f;
    f.port.open = true;
    for (const QString &frame : frames)
        f.receive(frame);
    QCOMPARE(f.displayed(), labels);
}

void TestForm1::offsetLineChangesOncePerFrame()
{
    Fixture f;
    f.port.open = true;
    QVERIFY(f.show());
    auto *line = f.control<QLabel>("LabelOffset");
    QCOMPARE(line->text(), QString());

    // A frame of 2007: the computer is years ahead of it, and the date is before this
    // program's, which the line notes.
    f.receive(FrameLine);
    QVERIFY2(line->text().startsWith(QLatin1String("El PC va "))
                 && line->text().endsWith(QLatin1String(
                     " s adelantado (la fecha del dispositivo es anterior a este programa)")),
             qPrintable(line->text()));
    QVERIFY(line->isVisibleTo(&f.form));

    // Polls that take no frame leave it alone: it is not even repainted.
    QApplication::processEvents();
    auto *paints = new PaintCounter(line);
    for (int i = 0; i < 5; ++i)
        f.form.Timer1_Timer();
    QApplication::processEvents();
    QCOMPARE(paints->count, 0);
}

void TestForm1::aboutShowsTwoBoxesAndChangesNothing()
{
    Fixture f;
    f.port.open = true;
    f.loadWithoutPolling();
    f.receive(FrameLine);
    f.port.calls.clear();
    f.timer1()->start(100ms);
    const QStringList displayed = f.displayed();
    QCOMPARE(displayed.first(), QStringLiteral("12:00:00"));
    const QString received = f.control<QPlainTextEdit>("Text1")->toPlainText();
    QSignalSpy ends(&f.form, &Form1::programEndRequested);

    for (int press = 1; press <= 2; ++press) {
        QTest::mouseClick(f.control("Command3"), Qt::LeftButton);
        QCOMPARE(f.messages.shown.size(), 2 * press);
        const QStringList lines = f.messages.shown.at(2 * press - 2).split(QLatin1String("\r\n"));
        QCOMPARE(lines.size(), 2);
        QVERIFY(lines.first().startsWith(QLatin1String("Software V.2.0")));
        QVERIFY(!lines.last().isEmpty());
        QVERIFY(!lines.last().contains(u'\n') && !lines.last().contains(u'\r'));
        QCOMPARE(f.messages.shown.at(2 * press - 1), QStringLiteral("Hasta la próxima."));
    }
    QCOMPARE(f.messages.shown.at(0), f.messages.shown.at(2));

    QCOMPARE(f.port.calls, QStringList());
    QVERIFY(f.port.open);
    QCOMPARE(f.displayed(), displayed);
    QCOMPARE(f.control<QPlainTextEdit>("Text1")->toPlainText(), received);
    QVERIFY(f.timer1()->isActive());
    QCOMPARE(ends.count(), 0);
}

void TestForm1::closing_data()
{
    QTest::addColumn<bool>("byButton");
    QTest::addColumn<bool>("portOpen");
    QTest::addColumn<QStringList>("calls");

    const QStringList closeIt{"portOpen", "close"};
    const QStringList leaveIt{"portOpen"};
    QTest::newRow("Cerrar, port open") << true << true << closeIt;
    QTest::newRow("Cerrar, port closed") << true << false << leaveIt;
    QTest::newRow("close box, port open") << false << true << closeIt;
    QTest::newRow("close box, port closed") << false << false << leaveIt;
}

void TestForm1::closing()
{
    QFETCH(bool, byButton);
    QFETCH(bool, portOpen);
    QFETCH(QStringList, calls);

    Fixture f;
    f.port.open = portOpen;
    QVERIFY(f.show());
    QSignalSpy ends(&f.form, &Form1::programEndRequested);

    if (byButton)
        QTest::mouseClick(f.control("Command2"), Qt::LeftButton);
    else
        QVERIFY(f.form.close());

    QCOMPARE(f.port.calls, calls);
    QVERIFY(!f.port.open);
    QCOMPARE(ends.count(), 1);
    QCOMPARE(f.messages.shown, QStringList());
}

void TestForm1::clockSettingGetsTheShownDateAndTime()
{
    Fixture f;
    f.port.open = true;
    const MonotonicTime arrival = MonotonicClock::now() - 700ms;
    QCOMPARE(f.form.latestFrame(), std::nullopt);
    f.receive(FrameLine, {arrival, arrival + 100ms});

    const std::optional<Frame> shown = f.form.latestFrame();
    QVERIFY(shown);
    QCOMPARE(shown->date, QStringLiteral("06/15/2007"));
    QCOMPARE(shown->time, QStringLiteral("12:00:00"));
    QCOMPARE(shown->weekday, 5);
    QVERIFY(shown->summer);
    QVERIFY(shown->arrival == arrival);
}

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
