#include "tests/support/paintcounter.h"
#include "ui/caretblinktimeout.h"

#include <QApplication>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>

#include <functional>

using namespace std::chrono_literals;

namespace {

// The flash time the tests' desktop is taken to have: it blinks.
constexpr int DesktopFlashTime = 1000;

// A receive box as the window has one, and a second control to move the focus to.
struct Window
{
    QWidget top;
    QPlainTextEdit *box = new QPlainTextEdit(QStringLiteral("Ventana de recepción.\n"), &top);
    QLineEdit *other = new QLineEdit(&top);

    // Shown, with the focus in the box, so that its caret blinks.
    bool showFocused()
    {
        box->setGeometry(0, 0, 177, 65);
        other->setGeometry(0, 70, 177, 20);
        top.show();
        box->setFocus();
        return QTest::qWaitForWindowActive(&top) && QApplication::focusWidget() == box;
    }
};

// Something the user does to the window.
using Input = std::function<void(Window &)>;

// Whether the caret of `box` is drawn just now.
bool caretShown(QPlainTextEdit *box)
{
    const QImage caret = box->viewport()->grab(box->cursorRect()).toImage();
    QImage empty(caret.size(), caret.format());
    empty.fill(box->palette().color(QPalette::Base));
    return caret != empty;
}

} // namespace

Q_DECLARE_METATYPE(Input)

class TestCaretBlinkTimeout : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void stopsBlinkingAfterTheTimeout();
    void inputBringsTheBlinkingBack_data();
    void inputBringsTheBlinkingBack();
    void inputPutsTheTimeoutOff();
    void desktopWithoutBlinkingIsLeftAlone();
    void idleCaretPaintsNothing();

private:
    int m_applicationFlashTime = 0;
};

void TestCaretBlinkTimeout::init()
{
    m_applicationFlashTime = QApplication::cursorFlashTime();
    QApplication::setCursorFlashTime(DesktopFlashTime);
}

void TestCaretBlinkTimeout::cleanup()
{
    QApplication::setCursorFlashTime(m_applicationFlashTime);
}

void TestCaretBlinkTimeout::stopsBlinkingAfterTheTimeout()
{
    CaretBlinkTimeout timeout(nullptr, 100ms);
    QCOMPARE(QApplication::cursorFlashTime(), DesktopFlashTime);
    QTRY_COMPARE(QApplication::cursorFlashTime(), 0);
}

void TestCaretBlinkTimeout::inputBringsTheBlinkingBack_data()
{
    QTest::addColumn<Input>("input");

    QTest::newRow("key press") << Input([](Window &w) { QTest::keyClick(w.box, Qt::Key_A); });
    QTest::newRow("mouse press") << Input(
        [](Window &w) { QTest::mousePress(w.box->viewport(), Qt::LeftButton); });
    QTest::newRow("double click") << Input(
        [](Window &w) { QTest::mouseDClick(w.box->viewport(), Qt::LeftButton); });
    QTest::newRow("wheel") << Input([](Window &w) {
        QWidget *viewport = w.box->viewport();
        const QPointF centre = QRectF(viewport->rect()).center();
        QWheelEvent wheel(centre, viewport->mapToGlobal(centre), QPoint(), QPoint(0, -120),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(viewport, &wheel);
    });
    QTest::newRow("input method") << Input([](Window &w) {
        QInputMethodEvent compose(QStringLiteral("n"), {});
        QApplication::sendEvent(w.box, &compose);
    });
    QTest::newRow("focus to another control")
        << Input([](Window &w) { w.other->setFocus(Qt::OtherFocusReason); });
}

void TestCaretBlinkTimeout::inputBringsTheBlinkingBack()
{
    QFETCH(Input, input);

    Window window;
    QVERIFY(window.showFocused());
    CaretBlinkTimeout timeout(nullptr, 200ms);
    QTRY_COMPARE(QApplication::cursorFlashTime(), 0);

    input(window);
    QCOMPARE(QApplication::cursorFlashTime(), DesktopFlashTime);

    // The count starts again: the blinking stops once more.
    QTRY_COMPARE(QApplication::cursorFlashTime(), 0);
}

void TestCaretBlinkTimeout::inputPutsTheTimeoutOff()
{
    Window window;
    QVERIFY(window.showFocused());
    CaretBlinkTimeout timeout(nullptr, 1000ms);

    // A key press after 600 ms moves the end of the timeout to 1600 ms: at 1200 ms the caret
    // still blinks.
    QTest::qWait(600);
    QTest::keyClick(window.box, Qt::Key_A);
    QVERIFY(window.box->toPlainText().startsWith(u'a')); // looked at, and still typed
    QTest::qWait(600);
    QCOMPARE(QApplication::cursorFlashTime(), DesktopFlashTime);
    QTRY_COMPARE(QApplication::cursorFlashTime(), 0);
}

void TestCaretBlinkTimeout::desktopWithoutBlinkingIsLeftAlone()
{
    QApplication::setCursorFlashTime(0);
    Window window;
    QVERIFY(window.showFocused());
    CaretBlinkTimeout timeout(nullptr, 20ms);

    // Whatever sets the flash time later is not undone: neither by the timeout nor by input.
    QApplication::setCursorFlashTime(700);
    QTest::qWait(100);
    QCOMPARE(QApplication::cursorFlashTime(), 700);
    QTest::keyClick(window.box, Qt::Key_A);
    QCOMPARE(QApplication::cursorFlashTime(), 700);
}

void TestCaretBlinkTimeout::idleCaretPaintsNothing()
{
    Window window;
    QVERIFY(window.showFocused());
    window.box->moveCursor(QTextCursor::End);
    auto *paints = new PaintCounter(window.box->viewport());
    CaretBlinkTimeout timeout(nullptr, 2000ms);

    // Blinking, the box repaints while nothing else happens.
    QTRY_VERIFY(paints->count >= 2);
    QVERIFY(QApplication::cursorFlashTime() > 0);

    QTRY_COMPARE(QApplication::cursorFlashTime(), 0);
    QApplication::processEvents();
    paints->count = 0;
    QTest::qWait(1200);
    QCOMPARE(paints->count, 0);
    // The caret stays, it only stops blinking.
    QVERIFY(caretShown(window.box));
}

QTEST_MAIN(TestCaretBlinkTimeout)
#include "tst_caretblinktimeout.moc"
