#include "tests/support/paintcounter.h"
#include "tests/support/scriptedwindow.h"
#include "tools/sim/scriptedserialport.h"
#include "ui/form1.h"
#include "ui/receivewindow.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSet>
#include <QStyle>
#include <QStyleFactory>
#include <QTest>

#include <functional>
#include <memory>

namespace {

const QString FrameLine = QStringLiteral("$12:00:00,06/15/2007,5,1\r\n");
const QString NextFrame = QStringLiteral("$12:00:01,06/15/2007,5,1\r\n");

// The window, shown, on a scripted port whose ticks the test runs one by one.
struct Fixture : ScriptedWindow
{
    Fixture() { port.open = true; }

    QPlainTextEdit *text1 = form.findChild<QPlainTextEdit *>(QStringLiteral("Text1"));
    PaintCounter *text1Paints = new PaintCounter(text1->viewport());

    // One tick that changes the receive window, and the repaint it brings: everything the tick
    // marked for repainting is painted in the same pass as the receive window.
    bool tick(const QString &chunk)
    {
        port.chunks = QStringList{chunk};
        const int before = text1Paints->count;
        form.Timer1_Timer();
        return QTest::qWaitFor([&] { return text1Paints->count > before; });
    }
};

} // namespace

Q_DECLARE_METATYPE(std::function<void(QScrollBar *)>)

class TestForm1Repaints : public QObject
{
    Q_OBJECT

private slots:
    void scrollBarRepaints_data();
    void scrollBarRepaints();
    void scrollBarChanges_data();
    void scrollBarChanges();
    void newTimePaintsOnlyItsLabel();
    void displayLabelsLookAsBefore_data();
    void displayLabelsLookAsBefore();
};

void TestForm1Repaints::scrollBarRepaints_data()
{
    QTest::addColumn<QStringList>("chunks"); // one a tick; "" is a quiet tick
    QTest::addColumn<bool>("scrolls");       // whether the receive window comes to scroll

    QTest::newRow("frames, each taken")
        << QStringList{FrameLine, "", NextFrame, "", FrameLine, ""} << false;
    QTest::newRow("a frame in pieces")
        << QStringList{"$12:00:", "00,06/15/", "2007,5,1\r\n", ""} << false;
    QTest::newRow("frames piling up") << QStringList(8, FrameLine) << true;
    QTest::newRow("one long line")
        << QStringList(8, QStringLiteral("$12:00:00,06/15/2007,5,1")) << true;
}

void TestForm1Repaints::scrollBarRepaints()
{
    QFETCH(QStringList, chunks);
    QFETCH(bool, scrolls);

    Fixture f;
    QVERIFY(f.show());
    QScrollBar *bar = f.text1->verticalScrollBar();
    QCOMPARE(bar->maximum(), bar->minimum());
    auto *barPaints = new PaintCounter(bar);
    QSet<int> pageSteps{bar->pageStep()};
    int paintsWhileFitting = 0;

    for (const QString &chunk : chunks) {
        QVERIFY(f.tick(chunk));
        if (bar->maximum() == bar->minimum()) {
            pageSteps.insert(bar->pageStep());
            paintsWhileFitting = barPaints->count;
        }
    }

    // While the text fits, the page step follows the lines in view, and the bar never repaints.
    QVERIFY2(pageSteps.size() > 1, "the page step never changed");
    QCOMPARE(paintsWhileFitting, 0);
    // Once it scrolls, the bar shows that it does.
    QCOMPARE(bar->maximum() > bar->minimum(), scrolls);
    if (scrolls)
        QVERIFY(barPaints->count > 0);
}

void TestForm1Repaints::scrollBarChanges_data()
{
    QTest::addColumn<int>("maximum"); // the range is 0 to this
    QTest::addColumn<std::function<void(QScrollBar *)>>("change");
    QTest::addColumn<bool>("repaints");

    using Change = std::function<void(QScrollBar *)>;
    const Change pageStep = [](QScrollBar *bar) { bar->setPageStep(bar->pageStep() + 3); };
    const Change singleStep = [](QScrollBar *bar) { bar->setSingleStep(bar->singleStep() + 1); };
    const Change range = [](QScrollBar *bar) { bar->setMaximum(bar->maximum() + 4); };
    const Change value = [](QScrollBar *bar) { bar->setValue(bar->value() + 1); };
    const Change noRange = [](QScrollBar *bar) { bar->setMaximum(0); };
    QTest::newRow("nothing to scroll, page step") << 0 << pageStep << false;
    QTest::newRow("nothing to scroll, single step") << 0 << singleStep << false;
    QTest::newRow("nothing to scroll, range") << 0 << range << true;
    QTest::newRow("something to scroll, page step") << 10 << pageStep << true;
    QTest::newRow("something to scroll, single step") << 10 << singleStep << true;
    QTest::newRow("something to scroll, range") << 10 << range << true;
    QTest::newRow("something to scroll, value") << 10 << value << true;
    QTest::newRow("something to scroll, then nothing") << 10 << noRange << true;
}

// The receive window's bar on its own, beside a widget whose repaint marks the end of a pass.
void TestForm1Repaints::scrollBarChanges()
{
    QFETCH(int, maximum);
    QFETCH(std::function<void(QScrollBar *)>, change);
    QFETCH(bool, repaints);

    QWidget window;
    auto *bar = new ReceiveScrollBar(&window);
    bar->setGeometry(0, 0, 16, 60);
    auto *beside = new QWidget(&window);
    beside->setGeometry(20, 0, 20, 20);
    bar->setRange(0, maximum);
    bar->setPageStep(5);
    auto *barPaints = new PaintCounter(bar);
    auto *besidePaints = new PaintCounter(beside);
    window.show();
    QTRY_VERIFY(barPaints->count > 0 && besidePaints->count > 0);
    // Styles whose active and inactive looks differ (Windows') repaint once the window is
    // active: let that pass go by, marked by a repaint of the widget beside.
    QVERIFY(QTest::qWaitForWindowActive(&window));
    besidePaints->count = 0;
    beside->update();
    QTRY_VERIFY(besidePaints->count > 0);
    barPaints->count = 0;
    besidePaints->count = 0;

    change(bar);
    beside->update();
    QTRY_VERIFY(besidePaints->count > 0);
    QCOMPARE(barPaints->count > 0, repaints);
}

void TestForm1Repaints::newTimePaintsOnlyItsLabel()
{
    Fixture f;
    QVERIFY(f.show());
    QVERIFY(f.tick(FrameLine));
    QVERIFY(f.tick(QString()));
    auto *label1 = f.form.findChild<QLabel *>(QStringLiteral("Label1"));
    QCOMPARE(label1->text(), QStringLiteral("12:00:00"));

    auto *labelPaints = new PaintCounter(label1);
    auto *framePaints = new PaintCounter(f.form.findChild<QGroupBox *>(QStringLiteral("Frame1")));
    auto *formPaints = new PaintCounter(&f.form);
    QVERIFY(f.tick(NextFrame));
    QVERIFY(f.tick(QString()));

    // Only the time changed. Label1 fills its own background, so neither Frame1 nor the window
    // under it repaint; nor do they for Text1, whose new text does not scroll yet.
    QCOMPARE(label1->text(), QStringLiteral("12:00:01"));
    QVERIFY(labelPaints->count > 0);
    QCOMPARE(framePaints->count, 0);
    QCOMPARE(formPaints->count, 0);
}

void TestForm1Repaints::displayLabelsLookAsBefore_data()
{
    QTest::addColumn<QStringList>("chunks");
    QTest::addColumn<QColor>("windowColour"); // given to the window afterwards, if valid
    QTest::addColumn<QString>("frameStyle");  // given to Frame1 afterwards, if not empty

    QTest::newRow("at start") << QStringList() << QColor() << QString();
    QTest::newRow("showing a frame") << QStringList{FrameLine, ""} << QColor() << QString();
    QTest::newRow("after a palette change")
        << QStringList{FrameLine, ""} << QColor(200, 220, 240) << QString();
    QTest::newRow("after a style change")
        << QStringList{FrameLine, ""} << QColor() << QStringLiteral("Windows");
}

// The display labels paint their own background, so that a new caption does not repaint the
// frame and the window under them; the window looks exactly as with labels that let them show.
void TestForm1Repaints::displayLabelsLookAsBefore()
{
    QFETCH(QStringList, chunks);
    QFETCH(QColor, windowColour);
    QFETCH(QString, frameStyle);

    std::unique_ptr<QStyle> style; // outlives the window
    Fixture f;
    QVERIFY(f.show());
    for (const QString &chunk : chunks)
        QVERIFY(f.tick(chunk));
    if (windowColour.isValid()) {
        QPalette palette = f.form.palette();
        palette.setColor(QPalette::Window, windowColour);
        f.form.setPalette(palette);
    }
    if (!frameStyle.isEmpty()) {
        style.reset(QStyleFactory::create(frameStyle));
        QVERIFY(style);
        f.form.findChild<QGroupBox *>(QStringLiteral("Frame1"))->setStyle(style.get());
    }
    f.text1->clearFocus(); // no caret, blinking or not, in the pictures
    QList<QLabel *> labels;
    for (const QString &name : DisplayLabels) {
        labels.append(f.form.findChild<QLabel *>(name));
        QVERIFY2(labels.last()->autoFillBackground(), qPrintable(name));
    }
    const QImage opaque = f.form.grab().toImage();

    for (QLabel *label : labels)
        label->setAutoFillBackground(false);
    const QImage seeThrough = f.form.grab().toImage();

    QCOMPARE(opaque, seeThrough);
}

QTEST_MAIN(TestForm1Repaints)
#include "tst_form1repaints.moc"
