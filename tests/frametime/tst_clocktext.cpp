#include "frametime/frametime.h"

#include <QLocale>
#include <QTest>

// The date and time texts are read month first and on a 24-hour clock whatever the user's
// locale; the tests run under a Spanish one, where the usual reading is day first.
class TestClockText : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void date_data();
    void date();
    void time_data();
    void time();
};

void TestClockText::initTestCase()
{
    QLocale::setDefault(QLocale(QLocale::Spanish, QLocale::Spain));
}

void TestClockText::date_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QDate>("expected"); // invalid: does not convert

    QTest::newRow("month first") << "06/12/2007" << QDate(2007, 6, 12);
    QTest::newRow("frame date") << "06/15/2007" << QDate(2007, 6, 15);
    QTest::newRow("day above 12") << "12/31/1999" << QDate(1999, 12, 31);
    QTest::newRow("one-digit month and day") << "6/1/2007" << QDate(2007, 6, 1);
    QTest::newRow("one-digit month") << "1/15/2030" << QDate(2030, 1, 15);
    QTest::newRow("leap day") << "02/29/2008" << QDate(2008, 2, 29);
    QTest::newRow("leap day of no leap year") << "02/29/2007" << QDate();
    QTest::newRow("30 February") << "02/30/2007" << QDate();
    QTest::newRow("31 April") << "04/31/2007" << QDate();
    QTest::newRow("day first") << "15/06/2007" << QDate();
    QTest::newRow("month 0") << "00/10/2007" << QDate();
    QTest::newRow("day 0") << "06/00/2007" << QDate();
    QTest::newRow("two-digit year") << "06/15/07" << QDate();
    QTest::newRow("five-digit year") << "06/15/20071" << QDate();
    QTest::newRow("year 0") << "06/15/0000" << QDate();
    QTest::newRow("three-digit month") << "006/15/2007" << QDate();
    QTest::newRow("leading blank") << " 06/15/2007" << QDate();
    QTest::newRow("trailing blank") << "06/15/2007 " << QDate();
    QTest::newRow("blanks") << "   " << QDate();
    QTest::newRow("empty") << "" << QDate();
    QTest::newRow("placeholder") << "mm/dd/aaaa" << QDate();
    QTest::newRow("dashes") << "06-15-2007" << QDate();
    QTest::newRow("dots") << "06.15.2007" << QDate();
    QTest::newRow("sign") << "+6/15/2007" << QDate();
    QTest::newRow("fourth field") << "06/15/2007/1" << QDate();
    QTest::newRow("missing field") << "06/15" << QDate();
    QTest::newRow("empty field") << "06//2007" << QDate();
    QTest::newRow("non-ASCII digits") << QString::fromUtf8("٠٦/١٥/٢٠٠٧") << QDate();
    QTest::newRow("month name") << "jun/15/2007" << QDate();
}

void TestClockText::date()
{
    QFETCH(QString, text);
    QFETCH(QDate, expected);
    const std::optional<QDate> parsed = parseClockDate(text);
    QCOMPARE(parsed.has_value(), expected.isValid());
    if (parsed)
        QCOMPARE(*parsed, expected);
}

void TestClockText::time_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QTime>("expected"); // invalid: does not convert

    QTest::newRow("noon") << "12:00:00" << QTime(12, 0, 0);
    QTest::newRow("afternoon, 24-hour") << "18:30:45" << QTime(18, 30, 45);
    QTest::newRow("midnight") << "00:00:00" << QTime(0, 0, 0);
    QTest::newRow("last second") << "23:59:59" << QTime(23, 59, 59);
    QTest::newRow("one-digit hour") << "9:05:07" << QTime(9, 5, 7);
    QTest::newRow("one-digit hour 0") << "0:00:01" << QTime(0, 0, 1);
    QTest::newRow("hour 24") << "24:00:00" << QTime();
    QTest::newRow("minute 60") << "12:60:00" << QTime();
    QTest::newRow("second 60") << "12:00:60" << QTime();
    QTest::newRow("one-digit minute") << "12:0:00" << QTime();
    QTest::newRow("one-digit second") << "12:00:0" << QTime();
    QTest::newRow("three-digit hour") << "012:00:00" << QTime();
    QTest::newRow("no seconds") << "12:00" << QTime();
    QTest::newRow("fraction") << "12:00:00.5" << QTime();
    QTest::newRow("12-hour suffix") << "12:00:00 PM" << QTime();
    QTest::newRow("dots") << "12.00.00" << QTime();
    QTest::newRow("negative") << "-1:00:00" << QTime();
    QTest::newRow("leading blank") << " 12:00:00" << QTime();
    QTest::newRow("blanks") << "        " << QTime();
    QTest::newRow("empty") << "" << QTime();
    QTest::newRow("placeholder") << "hh:mm:ss" << QTime();
    QTest::newRow("empty field") << "12::00" << QTime();
}

void TestClockText::time()
{
    QFETCH(QString, text);
    QFETCH(QTime, expected);
    const std::optional<QTime> parsed = parseClockTime(text);
    QCOMPARE(parsed.has_value(), expected.isValid());
    if (parsed)
        QCOMPARE(*parsed, expected);
}

QTEST_GUILESS_MAIN(TestClockText)
#include "tst_clocktext.moc"
