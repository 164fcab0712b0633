// The Windows service's log file (FileLog): lines appended, each with its date and time, in a
// folder made when missing; stderr when the file cannot be opened.
#include "refclock/refclocklog.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

class TestRefclockFileLog : public QObject
{
    Q_OBJECT

private slots:
    void appendsStampedLinesInANewFolder();
    void aFileThatCannotBeOpened();
};

void TestRefclockFileLog::appendsStampedLinesInANewFolder()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Quorvel/quorvel-refclock.log"));
    {
        FileLog log(path);
        QVERIFY(log.isOpen());
        log.write(QStringLiteral("Leyendo el dispositivo en puerto 1."));
        // Written out at once: readable while the log is open.
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().endsWith("Leyendo el dispositivo en puerto 1.\n"));
    }
    FileLog again(path);
    again.write(QStringLiteral("Señal 15: fin."));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2);
    const QRegularExpression stamped(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} (.*)$"));
    QCOMPARE(stamped.match(lines.at(0)).captured(1),
             QStringLiteral("Leyendo el dispositivo en puerto 1."));
    QCOMPARE(stamped.match(lines.at(1)).captured(1), QStringLiteral("Señal 15: fin."));
}

void TestRefclockFileLog::aFileThatCannotBeOpened()
{
    QTemporaryDir dir;
    // A folder where the file should be.
    FileLog log(dir.path());
    QVERIFY(!log.isOpen());
    log.write(QStringLiteral("a stderr"));
}

QTEST_GUILESS_MAIN(TestRefclockFileLog)
#include "tst_refclockfilelog.moc"
