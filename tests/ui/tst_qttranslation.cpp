#include "ui/applicationsetup.h"
#include "ui/usermessages.h"

#include <QAbstractButton>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTest>

// Qt's own Spanish translation, the real one, loaded as the program loads it.
class TestQtTranslation : public QObject
{
    Q_OBJECT

private slots:
    void qtOwnTextsAreSpanish();
};

void TestQtTranslation::qtOwnTextsAreSpanish()
{
    QVERIFY2(installQtTranslation(qApp),
             "qtbase_es.qm not found: is qt6-translations-l10n installed?");

    const std::unique_ptr<QMessageBox> box = MessageBoxMessages().createBox(QStringLiteral("x"));
    QCOMPARE(box->button(QMessageBox::Ok)->text(), QStringLiteral("Aceptar"));

    // The receive window's context menu, with something to undo and to paste.
    QPlainTextEdit receiveWindow;
    QTest::keyClicks(&receiveWindow, QStringLiteral("ab"));
    receiveWindow.selectAll();
    receiveWindow.copy();
    const std::unique_ptr<QMenu> menu(receiveWindow.createStandardContextMenu());
    QStringList texts;
    for (const QAction *action : menu->actions())
        texts.append(action->text().section(u'\t', 0, 0));
    for (const char *text : {"&Deshacer", "&Copiar", "&Pegar"})
        QVERIFY2(texts.contains(QString::fromUtf8(text)), qPrintable(texts.join(u'|')));
}

QTEST_MAIN(TestQtTranslation)
#include "tst_qttranslation.moc"
