#include "serial/lowlatency.h"
#include "serial/portreader.h"
#include "tests/support/pseudoterminal.h"

#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <linux/serial.h>
#include <unistd.h>

namespace {

// A serial driver's settings behind the two requests, as a test sets them up, and what was
// asked of it.
struct FakeDriver
{
    serial_struct settings{};
    int readError = 0;  // errno of a failing TIOCGSERIAL; 0: it answers
    int writeError = 0; // errno of a failing TIOCSSERIAL; 0: it takes the settings
    QList<int> handles; // the handle of every request
    int writes = 0;     // TIOCSSERIAL requests the driver took

    SerialSettingsRequests requests()
    {
        return SerialSettingsRequests{[this](int handle, serial_struct *read) {
                                          handles.append(handle);
                                          if (readError != 0) {
                                              errno = readError;
                                              return -1;
                                          }
                                          *read = settings;
                                          return 0;
                                      },
                                      [this](int handle, const serial_struct *written) {
                                          handles.append(handle);
                                          if (writeError != 0) {
                                              errno = writeError;
                                              return -1;
                                          }
                                          settings = *written;
                                          ++writes;
                                          return 0;
                                      }};
    }
};

// Flags of a driver other than low latency, which must stay as they are.
constexpr int OtherFlags = int(ASYNC_SPD_HI | ASYNC_SKIP_TEST);
constexpr int LowLatencyFlag = int(ASYNC_LOW_LATENCY);

} // namespace

class TestLowLatency : public QObject
{
    Q_OBJECT

private slots:
    void onlyTheFlagChangesAndComesBack_data();
    void onlyTheFlagChangesAndComesBack();
    void restoreKeepsChangesMadeMeanwhile();
    void pseudoTerminalIsUsedAsItIs();
    void portReaderAsksOnOpenAndRestoresOnClose();
};

void TestLowLatency::onlyTheFlagChangesAndComesBack_data()
{
    QTest::addColumn<int>("flagsBefore");
    QTest::addColumn<int>("readError");
    QTest::addColumn<int>("writeError");
    QTest::addColumn<bool>("answer");   // what request() answers
    QTest::addColumn<int>("flagsOpen"); // the driver's flags while the port is open
    QTest::addColumn<int>("writes");    // settings written, request and restore together

    QTest::newRow("flag clear: set, then cleared")
        << OtherFlags << 0 << 0 << true << (OtherFlags | LowLatencyFlag) << 2;
    QTest::newRow("flag already set: left alone")
        << (OtherFlags | LowLatencyFlag) << 0 << 0 << true << (OtherFlags | LowLatencyFlag) << 0;
    QTest::newRow("no such request") << OtherFlags << ENOTTY << 0 << false << OtherFlags << 0;
    QTest::newRow("driver refuses") << OtherFlags << 0 << EPERM << false << OtherFlags << 0;
    QTest::newRow("driver without the request") << 0 << EINVAL << 0 << false << 0 << 0;
}

void TestLowLatency::onlyTheFlagChangesAndComesBack()
{
    QFETCH(int, flagsBefore);
    QFETCH(int, readError);
    QFETCH(int, writeError);
    QFETCH(bool, answer);
    QFETCH(int, flagsOpen);
    QFETCH(int, writes);

    FakeDriver driver;
    driver.settings.flags = flagsBefore;
    driver.settings.baud_base = 24'000'000;
    driver.settings.custom_divisor = 7;
    driver.readError = readError;
    driver.writeError = writeError;
    LowLatency lowLatency(driver.requests());

    QCOMPARE(lowLatency.request(5), answer);
    QCOMPARE(driver.settings.flags, flagsOpen);
    lowLatency.restore(5);
    QCOMPARE(driver.settings.flags, flagsBefore);
    QCOMPARE(driver.writes, writes);
    // The rest of the settings went back as the driver gave them.
    QCOMPARE(driver.settings.baud_base, 24'000'000);
    QCOMPARE(driver.settings.custom_divisor, 7);
    QVERIFY(!driver.handles.isEmpty());
    QCOMPARE(driver.handles.count(5), driver.handles.size());

    // A second restore has nothing left to put back.
    lowLatency.restore(5);
    QCOMPARE(driver.writes, writes);
}

void TestLowLatency::restoreKeepsChangesMadeMeanwhile()
{
    FakeDriver driver;
    LowLatency lowLatency(driver.requests());
    QVERIFY(lowLatency.request(3));
    driver.settings.flags |= ASYNC_SPD_HI; // someone else, while the port was open
    lowLatency.restore(3);
    QCOMPARE(driver.settings.flags, int(ASYNC_SPD_HI));
}

void TestLowLatency::pseudoTerminalIsUsedAsItIs()
{
    // A pseudo-terminal answers TIOCGSERIAL with ENOTTY: no low latency, nothing changed.
    PseudoTerminal terminal;
    QVERIFY(terminal.isValid());
    const int handle = ::open(terminal.path().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    QVERIFY(handle >= 0);
    LowLatency lowLatency;
    QVERIFY(!lowLatency.request(handle));
    lowLatency.restore(handle);
    ::close(handle);
}

void TestLowLatency::portReaderAsksOnOpenAndRestoresOnClose()
{
    // The reader asks on the port's own handle once it is open, reads a pseudo-terminal all
    // the same, and puts the flag back before it closes.
    PseudoTerminal terminal;
    QVERIFY(terminal.isValid());
    FakeDriver driver;
    driver.settings.flags = OtherFlags;
    ReceivedBuffer received;
    PortReader reader(&received, driver.requests());
    PortReader::Failure failure;
    QVERIFY2(reader.open(terminal.path(), &failure), qPrintable(failure.text));
    QCOMPARE(driver.settings.flags, OtherFlags | LowLatencyFlag);
    QCOMPARE(driver.handles.size(), 2);
    QVERIFY(driver.handles.constFirst() >= 0);

    QVERIFY(terminal.send("$12:00:00,06/15/2007,5,1\r\n"));
    QByteArray bytes;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            for (const ReceivedChunk &chunk : received.take())
                bytes += chunk.bytes;
            return bytes.endsWith("\r\n");
        }(),
        3000);

    QVERIFY(reader.close());
    QCOMPARE(driver.settings.flags, OtherFlags);
    QCOMPARE(driver.writes, 2);
    QCOMPARE(driver.handles.size(), 4);
}

QTEST_GUILESS_MAIN(TestLowLatency)
#include "tst_lowlatency.moc"
