#include "ui/applicationsetup.h"
#include "ui/usermessages.h"

#include <QMessageBox>
#include <QTest>

class TestMessageBoxMessages : public QObject
{
    Q_OBJECT

private slots:
    void boxHasOkOnlyNoIconAndTheProgramName();
};

void TestMessageBoxMessages::boxHasOkOnlyNoIconAndTheProgramName()
{
    setApplicationIdentity();
    QWidget window;
    window.setWindowTitle(QStringLiteral(" Q u o r v e l"));
    MessageBoxMessages messages;
    messages.setWindow(&window);

    const std::unique_ptr<QMessageBox> box =
        messages.createBox(QStringLiteral("Software V.2.0\r\nsegunda línea"));

    QCOMPARE(box->text(), QStringLiteral("Software V.2.0\nsegunda línea"));
    QCOMPARE(box->textFormat(), Qt::PlainText);
    QCOMPARE(box->icon(), QMessageBox::NoIcon);
    QCOMPARE(box->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(box->buttons().size(), 1);
    QCOMPARE(box->windowTitle(), QStringLiteral("Quorvel"));
    QVERIFY(box->isModal());
    QCOMPARE(box->parentWidget(), &window);
    QCOMPARE(window.windowTitle(), QStringLiteral(" Q u o r v e l"));
}

QTEST_MAIN(TestMessageBoxMessages)
#include "tst_messageboxmessages.moc"
