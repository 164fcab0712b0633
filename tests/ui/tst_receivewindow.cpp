#include "ui/receivewindow.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

namespace {

const QString Initial = QStringLiteral("Ventana de recepción.\r\n");

// A receive window on a shown box of the main window's size.
struct Fixture
{
    QPlainTextEdit box{QStringLiteral("Ventana de recepción.\n")};
    ReceiveWindow window{&box};

    Fixture()
    {
        box.setUndoRedoEnabled(false);
        box.resize(177, 65);
        box.show();
    }
    QScrollBar *scrollBar() { return box.verticalScrollBar(); }
    bool showsEnd() { return scrollBar()->value() == scrollBar()->maximum(); }
};

QString lines(int count)
{
    QString text;
    for (int i = 0; i < count; ++i)
        text += QStringLiteral("$12:00:%1,06/15/2007,5,1\r\n").arg(i, 2, 10, QLatin1Char('0'));
    return text;
}

} // namespace

class TestReceiveWindow : public QObject
{
    Q_OBJECT

private slots:
    void displayText_data();
    void displayText();
    void startsWithTheBoxText();
    void writesOnlyWhatChanged();
    void appendingKeepsTheUserSelection();
    void newTextKeepsTheCaretNearWhereItWas();
    void newestTextStaysInView();
    void userScrolledBackIsLeftAlone();
    void userEditsAreToldWithCrLf();
};

void TestReceiveWindow::displayText_data()
{
    QTest::addColumn<QString>("receiveText");
    QTest::addColumn<QString>("displayText");
    QTest::addColumn<QString>("backAfterEdit");

    // clang-format off
    QTest::newRow("CR LF") << "a\r\nb\r\n" << "a\nb\n" << "a\r\nb\r\n";
    QTest::newRow("lone CR") << "a\rb" << "a\nb" << "a\r\nb";
    QTest::newRow("lone LF") << "a\nb" << "a\nb" << "a\r\nb";
    QTest::newRow("LF CR is two breaks") << "a\n\rb" << "a\n\nb" << "a\r\n\r\nb";
    QTest::newRow("no line end") << "12:00:00,06/15/2007,5,1" << "12:00:00,06/15/2007,5,1"
                                 << "12:00:00,06/15/2007,5,1";
    QTest::newRow("empty") << "" << "" << "";
    // clang-format on
}

void TestReceiveWindow::displayText()
{
    QFETCH(QString, receiveText);
    QFETCH(QString, displayText);
    QFETCH(QString, backAfterEdit);

    QCOMPARE(displayTextOf(receiveText), displayText);
    QCOMPARE(receiveTextOf(displayText), backAfterEdit);

    Fixture f;
    f.window.show(receiveText);
    QCOMPARE(f.box.toPlainText(), displayText);
}

void TestReceiveWindow::startsWithTheBoxText()
{
    Fixture f;
    QCOMPARE(f.window.receiveText(), Initial);
    QCOMPARE(f.window.receiveText().size(), 23);
}

void TestReceiveWindow::writesOnlyWhatChanged()
{
    Fixture f;
    QSignalSpy changes(&f.box, &QPlainTextEdit::textChanged);
    QSignalSpy edits(&f.window, &ReceiveWindow::edited);

    f.window.show(Initial);
    QCOMPARE(changes.count(), 0);
    // Only the CR of a CR LF arrived so far: the box shows the same.
    f.window.show(QStringLiteral("abc\r"));
    f.window.show(QStringLiteral("abc\r\n"));
    QCOMPARE(f.box.toPlainText(), QStringLiteral("abc\n"));
    const int written = changes.count();
    f.window.show(QStringLiteral("abc\r\n"));
    QCOMPARE(changes.count(), written);
    // A no-break space (byte 0xA0) stays what it is: what follows it is appended.
    f.window.show(QStringLiteral("abc\r\n\u00a0"));
    f.box.moveCursor(QTextCursor::Start);
    f.window.show(QStringLiteral("abc\r\n\u00a0d"));
    QCOMPARE(f.box.textCursor().position(), 0);
    QCOMPARE(f.window.receiveText(), QStringLiteral("abc\r\n\u00a0d"));
    QCOMPARE(edits.count(), 0);
}

void TestReceiveWindow::appendingKeepsTheUserSelection()
{
    Fixture f;
    QTextCursor selection = f.box.textCursor();
    selection.setPosition(2);
    selection.setPosition(7, QTextCursor::KeepAnchor);
    f.box.setTextCursor(selection);

    f.window.show(Initial + QStringLiteral("$12:00"));
    f.window.show(Initial + QStringLiteral("$12:00:00,06/15/2007,5,1\r\n"));

    QCOMPARE(f.box.textCursor().anchor(), 2);
    QCOMPARE(f.box.textCursor().position(), 7);
    QCOMPARE(f.box.toPlainText(),
             QStringLiteral("Ventana de recepción.\n$12:00:00,06/15/2007,5,1\n"));
}

void TestReceiveWindow::newTextKeepsTheCaretNearWhereItWas()
{
    Fixture f;
    QTextCursor caret = f.box.textCursor();
    caret.setPosition(5);
    f.box.setTextCursor(caret);
    f.window.show(QStringLiteral("12:00:00,06/15/2007,5,1"));
    QCOMPARE(f.box.textCursor().position(), 5);

    caret.setPosition(20);
    f.box.setTextCursor(caret);
    f.window.show(QStringLiteral("12:00"));
    QCOMPARE(f.box.textCursor().position(), 5);
}

void TestReceiveWindow::newestTextStaysInView()
{
    Fixture f;
    f.window.show(Initial + lines(20));
    QVERIFY(f.scrollBar()->maximum() > 0);
    QVERIFY(f.showsEnd());

    // A new text (a frame was taken, then more arrived) shows its end too.
    f.window.show(lines(1).mid(1) + lines(20));
    QVERIFY(f.showsEnd());
}

void TestReceiveWindow::userScrolledBackIsLeftAlone()
{
    Fixture f;
    f.window.show(Initial + lines(20));
    f.scrollBar()->setValue(0);
    f.window.show(Initial + lines(25));
    QCOMPARE(f.scrollBar()->value(), 0);

    // A new text has nothing of what the user scrolled back to: its end shows.
    f.window.show(lines(1).mid(1) + lines(20));
    QVERIFY(f.scrollBar()->maximum() > 0);
    QVERIFY(f.showsEnd());
}

void TestReceiveWindow::userEditsAreToldWithCrLf()
{
    Fixture f;
    f.box.setFocus();
    QSignalSpy edits(&f.window, &ReceiveWindow::edited);
    f.box.moveCursor(QTextCursor::End);
    QTest::keyClicks(&f.box, QStringLiteral("x"));
    QTest::keyClick(&f.box, Qt::Key_Return);
    QTest::keyClicks(&f.box, QStringLiteral("y"));

    QCOMPARE(edits.count(), 3);
    const QString expected = Initial + QStringLiteral("x\r\ny");
    QCOMPARE(edits.last().first().toString(), expected);
    QCOMPARE(f.window.receiveText(), expected);

    // The program's next write of the same text leaves the box alone.
    QSignalSpy changes(&f.box, &QPlainTextEdit::textChanged);
    f.window.show(expected);
    QCOMPARE(changes.count(), 0);
}

QTEST_MAIN(TestReceiveWindow)
#include "tst_receivewindow.moc"
