#include "serial/deviceserialport.h"
#include "serial/portreader.h"
#include "serial/receivedbuffer.h"
#include "tests/support/markerdating.h"
#include "tests/support/processusage.h"
#include "tests/support/pseudoterminal.h"

#include <QEventLoop>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <thread>

using namespace std::chrono_literals;

namespace {

// The bytes of `chunks` one after the other.
QByteArray joined(const QList<ReceivedChunk> &chunks)
{
    QByteArray all;
    for (const ReceivedChunk &chunk : chunks)
        all += chunk.bytes;
    return all;
}

// Reads until `expected` bytes have come in or five seconds have passed.
QByteArray readAtLeast(DeviceSerialPort &port, qsizetype expected,
                       QList<ReceivedChunk> *chunks = nullptr)
{
    QList<ReceivedChunk> all;
    QDeadlineTimer deadline(5s);
    while (joined(all).size() < expected && !deadline.hasExpired()) {
        QTest::qWait(10);
        QList<ReceivedChunk> some;
        if (port.input(&some) != SerialOk)
            break;
        all += some;
    }
    if (chunks)
        *chunks = all;
    return joined(all);
}

// Opens `port` as Com1, which names the test's line.
bool openCom1(DeviceSerialPort &port)
{
    port.setCommPort(1);
    return port.setPortOpen(true) == SerialOk;
}

} // namespace

class TestDeviceSerialPort : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void readsWhatTheDeviceSends_data();
    void readsWhatTheDeviceSends();
    void datesEachReadWhenItArrives();
    void lineDoesNotWakeThePollsThread();
    void markerDatedWhileThePollsThreadIsBusy_data();
    void markerDatedWhileThePollsThreadIsBusy();
    void operationsInTheWrongStateFail();
    void deviceGoingAwayClosesThePortWithoutSpinning();
    void keepsNewestBytesWhenNobodyReads();
    void bufferMarksWhatItDrops_data();
    void bufferMarksWhatItDrops();
    void devicePathTakesPrecedenceOverPortNumber();

private:
    std::unique_ptr<PseudoTerminal> m_line;
};

void TestDeviceSerialPort::init()
{
    m_line = std::make_unique<PseudoTerminal>();
    QVERIFY(m_line->isValid());
    qputenv("QUORVEL_COM1", m_line->path().toLocal8Bit());
}

void TestDeviceSerialPort::readsWhatTheDeviceSends_data()
{
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("a frame") << QByteArray("$12:00:00,06/15/2007,5,1\r\n");
    QByteArray everyByte;
    for (int b = 0; b < 256; ++b)
        everyByte.append(char(b));
    QTest::newRow("every byte value") << everyByte;
}

void TestDeviceSerialPort::readsWhatTheDeviceSends()
{
    QFETCH(QByteArray, bytes);

    DeviceSerialPort port;
    QCOMPARE(port.setCommPort(1), int(SerialOk));
    QCOMPARE(port.setPortOpen(true), int(SerialOk));
    bool open = false;
    QCOMPARE(port.portOpen(&open), int(SerialOk));
    QVERIFY(open);

    QVERIFY(m_line->send(bytes));
    QCOMPARE(readAtLeast(port, bytes.size()), bytes);

    // Each byte once: a further read brings nothing.
    QList<ReceivedChunk> again;
    QCOMPARE(port.input(&again), int(SerialOk));
    QVERIFY(again.isEmpty());

    QCOMPARE(port.setPortOpen(false), int(SerialOk));
    QCOMPARE(port.portOpen(&open), int(SerialOk));
    QVERIFY(!open);
    QVERIFY(m_line->takeWritten().isEmpty()); // the program never writes to the device
}

void TestDeviceSerialPort::datesEachReadWhenItArrives()
{
    DeviceSerialPort port;
    QVERIFY(openCom1(port));

    // Two bursts with a poll long after each: the first byte of each is dated when it
    // arrived, not when the poll took it, and no byte later than the poll.
    QList<MonotonicTime> arrivals;
    for (const QByteArray &burst : {QByteArray("$first"), QByteArray("$second")}) {
        QTest::qWait(50);
        const MonotonicTime before = MonotonicClock::now();
        QVERIFY(m_line->send(burst));
        QTest::qWait(100);
        QList<ReceivedChunk> chunks;
        QCOMPARE(readAtLeast(port, burst.size(), &chunks), burst);
        const MonotonicTime taken = MonotonicClock::now();
        QVERIFY(chunks.first().lastArrival >= before);
        QVERIFY2(chunks.first().lastArrival < before + 20ms,
                 "dated by the poll, not by the arrival");
        for (const ReceivedChunk &chunk : chunks) {
            QVERIFY(chunk.lastArrival < taken);
            arrivals.append(chunk.lastArrival);
        }
    }
    QVERIFY(std::is_sorted(arrivals.cbegin(), arrivals.cend()));
}

void TestDeviceSerialPort::lineDoesNotWakeThePollsThread()
{
    DeviceSerialPort port;
    QVERIFY(openCom1(port));

    // A frame paced the way a 4800 baud line delivers it, while this thread sits in its event
    // loop. Every time the thread is woken it gives up the processor once more.
    const QByteArray frame("$12:00:00,06/15/2007,5,1\r\n");
    MonotonicTime sentFirst{};
    const qint64 switchesBefore = wakeUpsFrom(QStringLiteral("/proc/thread-self/status"));
    QVERIFY(switchesBefore >= 0);
    std::thread device([&] {
        sentFirst = MonotonicClock::now();
        for (const char c : frame) {
            m_line->send(QByteArray(1, c));
            std::this_thread::sleep_for(CharacterTime);
        }
    });
    // Long enough for the frame and the reading thread's gathering of its last bytes.
    QEventLoop loop;
    QTimer::singleShot(std::chrono::duration_cast<std::chrono::milliseconds>(
                           frame.size() * CharacterTime + 2 * PortReader::Gathering)
                           + 40ms,
                       &loop, &QEventLoop::quit);
    loop.exec();
    device.join();
    const qint64 wakeUps = wakeUpsFrom(QStringLiteral("/proc/thread-self/status")) - switchesBefore;

    QList<ReceivedChunk> chunks;
    QCOMPARE(port.input(&chunks), int(SerialOk));
    QCOMPARE(joined(chunks), frame);
    qInfo("%lld wake-ups of the polling thread for a frame of %lld characters", wakeUps,
          qint64(frame.size()));
    QVERIFY2(wakeUps < frame.size() / 3, "the line wakes the polling thread");
    // The "$" is dated when it arrived, not by the read.
    const MonotonicTime marker = chunks.first().arrivalOf(0);
    QVERIFY(marker >= sentFirst - CharacterTime);
    QVERIFY(marker < sentFirst + 10ms);
}

void TestDeviceSerialPort::markerDatedWhileThePollsThreadIsBusy_data()
{
    QTest::addColumn<int>("busyMs");       // of every 100 ms poll period
    QTest::addColumn<QByteArray>("noise"); // sent before each frame
    QTest::addColumn<int>("pauseMs");      // between the noise and the frame
    QTest::addColumn<int>("medianLimitUs");

    QTest::newRow("idle") << 0 << QByteArray() << 0 << 1000;
    QTest::newRow("busy 30 ms of every 100") << 30 << QByteArray() << 0 << 1000;
    // The "$" comes while the bytes before it are still being gathered: it is dated back from
    // the read, to within a character time.
    QTest::newRow("noise 1 ms before the frame") << 0 << QByteArray("x\x07#") << 1 << 2083;
    QTest::newRow("noise 20 ms before the frame, busy")
        << 30 << QByteArray("\xff\x80") << 20 << 2083;
}

void TestDeviceSerialPort::markerDatedWhileThePollsThreadIsBusy()
{
    QFETCH(int, busyMs);
    QFETCH(QByteArray, noise);
    QFETCH(int, pauseMs);
    QFETCH(int, medianLimitUs);

    DeviceSerialPort port;
    QVERIFY(openCom1(port));
    const QList<std::chrono::microseconds> errors =
        markerDatingErrors(&port, m_line.get(), 8, std::chrono::milliseconds(busyMs), noise,
                           std::chrono::milliseconds(pauseMs));
    QList<std::chrono::microseconds> sizes;
    for (const auto error : errors)
        sizes.append(std::chrono::abs(error));
    qInfo("\"$\" dating error, median %lld us, largest %lld us, over %lld frames",
          qlonglong(medianOf(sizes).count()),
          qlonglong(std::max_element(sizes.cbegin(), sizes.cend())->count()),
          qlonglong(sizes.size()));
    QVERIFY(sizes.size() >= 7);
    QVERIFY2(medianOf(sizes) <= std::chrono::microseconds(medianLimitUs),
             "the \"$\" is dated by the poll, not by its arrival");
}

void TestDeviceSerialPort::operationsInTheWrongStateFail()
{
    DeviceSerialPort port;
    QList<ReceivedChunk> chunks;
    QVERIFY(port.input(&chunks) > SerialOk);
    QVERIFY(port.setPortOpen(false) > SerialOk);
    port.setCommPort(1);
    QCOMPARE(port.setPortOpen(true), int(SerialOk));
    QVERIFY(port.setPortOpen(true) > SerialOk);
    QVERIFY(port.setCommPort(2) > SerialOk);
    // The same device cannot be opened twice.
    DeviceSerialPort other;
    other.setCommPort(1);
    QVERIFY(other.setPortOpen(true) > SerialOk);
}

void TestDeviceSerialPort::deviceGoingAwayClosesThePortWithoutSpinning()
{
    DeviceSerialPort port;
    QVERIFY(openCom1(port));
    QVERIFY(m_line->send("$12:00"));
    QCOMPARE(readAtLeast(port, 6), QByteArray("$12:00"));

    m_line->hangUp();
    m_line->closeDeviceSide();
    const auto isOpen = [&port] {
        bool open = true;
        port.portOpen(&open);
        return open;
    };
    QTRY_VERIFY_WITH_TIMEOUT(!isOpen(), 5000);

    // With the port closed, a second of event processing costs next to no CPU.
    const auto cpuBefore = cpuTime();
    QTest::qWait(1000);
    QVERIFY2(cpuTime() - cpuBefore < 300ms, "the event loop spins after the device went away");
    QVERIFY(!isOpen());

    // The device comes back: opening the port again resumes reception, behind a line end
    // that keeps the frame cut short by the loss from joining what arrives now.
    PseudoTerminal back;
    qputenv("QUORVEL_COM1", back.path().toLocal8Bit());
    QCOMPARE(port.setPortOpen(true), int(SerialOk));
    QVERIFY(back.send("$again"));
    QCOMPARE(readAtLeast(port, 8), QByteArray("\r\n$again"));
}

void TestDeviceSerialPort::keepsNewestBytesWhenNobodyReads()
{
    DeviceSerialPort port;
    QVERIFY(openCom1(port));
    QByteArray sent;
    for (int i = 0; sent.size() < 3000; ++i)
        sent += QByteArray::number(i) + ' ';
    QVERIFY(m_line->send(sent));
    // Let the port collect everything without reading it.
    QTest::qWait(300);

    QList<ReceivedChunk> chunks;
    QCOMPARE(port.input(&chunks), int(SerialOk));
    const QByteArray kept = joined(chunks);
    QCOMPARE(kept.size(), ReceivedBuffer::Capacity);
    // The gap is marked with a line end, so nothing before it joins what follows.
    QVERIFY(kept.startsWith("\r\n"));
    QVERIFY(sent.endsWith(kept.mid(2)));
}

void TestDeviceSerialPort::bufferMarksWhatItDrops_data()
{
    QTest::addColumn<QList<int>>("reads"); // sizes of the reads appended, 1 ms apart
    QTest::addColumn<int>("gapAtRead");    // -1: nothing dropped; else the read the first
                                           // byte kept belongs to

    const int capacity = int(ReceivedBuffer::Capacity);
    QTest::newRow("exactly full") << QList<int>{capacity} << -1;
    QTest::newRow("many small reads within bounds") << QList<int>(64, 16) << -1;
    QTest::newRow("one read too many") << QList<int>{capacity, 1} << 0;
    QTest::newRow("a flood in one read") << QList<int>{10 * capacity} << 0;
    QTest::newRow("drop across reads") << QList<int>{600, 600, 600} << 1;
}

void TestDeviceSerialPort::bufferMarksWhatItDrops()
{
    QFETCH(QList<int>, reads);
    QFETCH(int, gapAtRead);

    ReceivedBuffer buffer;
    const MonotonicTime start = MonotonicClock::now();
    QByteArray sent;
    QList<MonotonicTime> byteArrival; // when each byte sent arrived
    for (qsizetype r = 0; r < reads.size(); ++r) {
        const QByteArray bytes(reads.at(r), char('a' + r % 26));
        const MonotonicTime last = start + r * 1ms;
        buffer.append(bytes, last);
        sent += bytes;
        for (qsizetype i = 0; i < bytes.size(); ++i)
            byteArrival.append(last - (bytes.size() - 1 - i) * CharacterTime);
    }

    const QList<ReceivedChunk> chunks = buffer.take();
    const QByteArray kept = joined(chunks);
    QVERIFY(kept.size() <= ReceivedBuffer::Capacity);
    QVERIFY(buffer.take().isEmpty());
    if (gapAtRead < 0) {
        QCOMPARE(kept, sent);
        return;
    }
    QCOMPARE(kept.size(), ReceivedBuffer::Capacity);
    QVERIFY(kept.startsWith("\r\n"));
    QVERIFY(sent.endsWith(kept.mid(2)));
    // Each byte kept keeps its arrival; the line end stands just before the first of them.
    const qsizetype firstKept = sent.size() - (kept.size() - 2);
    QCOMPARE(kept.at(2), char('a' + gapAtRead % 26));
    qsizetype at = firstKept;
    for (qsizetype c = 1; c < chunks.size(); ++c) {
        for (qsizetype i = 0; i < chunks.at(c).bytes.size(); ++i, ++at)
            QVERIFY(chunks.at(c).arrivalOf(i) == byteArrival.at(at));
    }
    QVERIFY(chunks.first().lastArrival == byteArrival.at(firstKept));
}

void TestDeviceSerialPort::devicePathTakesPrecedenceOverPortNumber()
{
    // Port 1 names one line, the explicit path another: the path is what opens.
    PseudoTerminal other;
    QVERIFY(other.isValid());
    DeviceSerialPort port;
    port.setCommPort(1);
    port.setDevicePath(other.path());
    QCOMPARE(port.setPortOpen(true), int(SerialOk));
    QVERIFY(m_line->send("x"));
    QVERIFY(other.send("$1"));
    QCOMPARE(readAtLeast(port, 2), QByteArray("$1"));
    QCOMPARE(port.setPortOpen(false), int(SerialOk));

    // A path that names no device fails to open, whatever port 1 has.
    port.setDevicePath(QStringLiteral("/dev/quorvel-no-such-device"));
    QVERIFY(port.setPortOpen(true) > SerialOk);

    // An empty path goes back to the port number.
    port.setDevicePath(QString());
    QCOMPARE(port.setPortOpen(true), int(SerialOk));
    QVERIFY(m_line->send("$2"));
    QCOMPARE(readAtLeast(port, 4), QByteArray("\r\n$2"));
}

QTEST_GUILESS_MAIN(TestDeviceSerialPort)
#include "tst_deviceserialport.moc"
