// The record quorvel-refclock writes to the Windows Time service provider's pipe, checked
// against the layout the provider reads and against the values chrony's sample carries for
// the same frame.
#include "refclock/chronysocket.h"
#include "samplepipe/samplepipe.h"

#include <QTest>

#include <cstring>

using namespace std::chrono_literals;
using std::chrono::microseconds;

class TestSamplePipe : public QObject
{
    Q_OBJECT

private slots:
    void layout_data();
    void layout();
    void fileTimeOfTheUnixEpoch();
    void sourceIsCutAndEnded();
};

void TestSamplePipe::layout_data()
{
    QTest::addColumn<qint64>("systemMicro");
    QTest::addColumn<qint64>("offsetMicro");
    QTest::addColumn<qint64>("offsetTicks");
    // 2026-12-09 01:00:00.123456 UTC
    QTest::newRow("computer behind") << qint64(1796778000123456) << qint64(1500) << qint64(15000);
    QTest::newRow("computer ahead")
        << qint64(1796778000123456) << qint64(-123456789) << qint64(-1234567890);
    QTest::newRow("no offset") << qint64(1) << qint64(0) << qint64(0);
}

void TestSamplePipe::layout()
{
    QFETCH(qint64, systemMicro);
    QFETCH(qint64, offsetMicro);
    QFETCH(qint64, offsetTicks);
    const UtcTime system{microseconds(systemMicro)};
    const SamplePipe::Message message = SamplePipe::encode(systemMicro, offsetMicro, 7, "COM1");
    QCOMPARE(message.magic, SamplePipe::Magic);
    QCOMPARE(message.version, SamplePipe::Version);
    QCOMPARE(int(message.size), 56);
    QCOMPARE(message.sequence, 7u);
    QCOMPARE(message.reserved, 0u);
    QCOMPARE(message.offset, offsetTicks);
    QCOMPARE(message.dispersion, 0u);
    QCOMPARE(message.systemTime, quint64(116444736000000000ULL + quint64(systemMicro) * 10));
    QCOMPARE(QByteArray(message.source), QByteArrayLiteral("COM1"));
    QCOMPARE(message.source[15], '\0');
    // The same values as chrony's sample of that frame: its offset, in seconds.
    const QByteArray chrony = ChronySample::encode(system, microseconds(offsetMicro));
    double chronyOffset = 0;
    std::memcpy(&chronyOffset, chrony.constData() + 16, sizeof chronyOffset);
    QCOMPARE(qint64(qRound64(chronyOffset * 1e7)), message.offset);
}

void TestSamplePipe::fileTimeOfTheUnixEpoch()
{
    // 1970-01-01 as a FILETIME, as Windows' documentation of FILETIME gives it.
    QCOMPARE(SamplePipe::fileTimeOf(0), 116444736000000000ULL);
    QCOMPARE(SamplePipe::fileTimeOf(1'000'000), 116444736010000000ULL);
}

void TestSamplePipe::sourceIsCutAndEnded()
{
    const SamplePipe::Message message = SamplePipe::encode(0, 0, 1, QByteArray(40, 'X'));
    QCOMPARE(QByteArray(message.source), QByteArray(15, 'X'));
}

QTEST_GUILESS_MAIN(TestSamplePipe)
#include "tst_samplepipe.moc"
