// The stream the service sends its clients: what the service writes reads back the same, in
// pieces of any size, and anything off the format breaks the stream for good.
#include "share/serviceclientport.h"
#include "share/shareprotocol.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

using namespace std::chrono_literals;
using namespace ShareProtocol;

namespace {

const MonotonicTime Arrival{123'456'789'012ns};

// Every message in `stream`, fed `piece` bytes at a time; `broken` tells whether the decoder
// ended broken.
QList<Message> decode(const QByteArray &stream, qsizetype piece, bool *broken)
{
    Decoder decoder;
    QList<Message> messages;
    for (qsizetype at = 0; at < stream.size(); at += piece) {
        decoder.append(stream.mid(at, piece));
        while (const std::optional<Message> message = decoder.next())
            messages.append(*message);
    }
    *broken = decoder.broken();
    return messages;
}

QByteArray header(quint8 type, quint32 length)
{
    QByteArray bytes(HeaderSize, Qt::Uninitialized);
    bytes[0] = char(type);
    qToLittleEndian<quint32>(length, bytes.data() + 1);
    return bytes;
}

} // namespace

class TestShareProtocol : public QObject
{
    Q_OBJECT

private slots:
    void readsBackWhatIsWritten_data();
    void readsBackWhatIsWritten();
    void longChunkIsSplitAndEachPieceDated();
    void breaksOnWhatIsOffTheFormat_data();
    void breaksOnWhatIsOffTheFormat();
    void sharesOnlyOnTheSystemsMonotonicClock();
    void clientTellsWhyTheStreamEnded_data();
    void clientTellsWhyTheStreamEnded();
};

void TestShareProtocol::readsBackWhatIsWritten_data()
{
    QTest::addColumn<qsizetype>("piece");
    QTest::newRow("all at once") << qsizetype(1 << 20);
    QTest::newRow("byte by byte") << qsizetype(1);
    QTest::newRow("in sevens") << qsizetype(7);
}

void TestShareProtocol::readsBackWhatIsWritten()
{
    QFETCH(qsizetype, piece);
    const ReceivedChunk frame{"$12:00:00,06/15/2007,5,1\r\n", Arrival};
    const QByteArray stream = hello() + device(QStringLiteral("/dev/ttyUSB0")) + chunk(frame)
                              + end(EndReason::ServiceStopping);
    bool broken = true;
    const QList<Message> messages = decode(stream, piece, &broken);
    QVERIFY(!broken);
    QCOMPARE(messages.size(), 3);
    QCOMPARE(messages.at(0).type, Type::Device);
    QCOMPARE(messages.at(0).device, QStringLiteral("/dev/ttyUSB0"));
    QCOMPARE(messages.at(1).type, Type::Chunk);
    QCOMPARE(messages.at(1).chunk.bytes, frame.bytes);
    QVERIFY(messages.at(1).chunk.lastArrival == Arrival);
    QCOMPARE(messages.at(2).type, Type::End);
    QCOMPARE(messages.at(2).reason, EndReason::ServiceStopping);
}

void TestShareProtocol::longChunkIsSplitAndEachPieceDated()
{
    QByteArray bytes(MaxChunkBytes + 10, 'x');
    const ReceivedChunk read{bytes, Arrival};
    bool broken = true;
    const QList<Message> messages = decode(hello() + chunk(read), 1 << 20, &broken);
    QVERIFY(!broken);
    QCOMPARE(messages.size(), 2);
    QCOMPARE(messages.at(0).chunk.bytes.size(), MaxChunkBytes);
    QCOMPARE(messages.at(1).chunk.bytes.size(), 10);
    // Each byte keeps its arrival: the first piece ends ten characters before the last byte.
    QVERIFY(messages.at(0).chunk.lastArrival == Arrival - 10 * CharacterTime);
    QVERIFY(messages.at(1).chunk.lastArrival == Arrival);
}

void TestShareProtocol::breaksOnWhatIsOffTheFormat_data()
{
    QTest::addColumn<QByteArray>("stream");
    QByteArray otherVersion = hello();
    otherVersion[4] = 2;
    QTest::newRow("wrong magic") << QByteArray("QVSX\x01\x00\x00\x00", 8);
    QTest::newRow("other version") << otherVersion;
    QTest::newRow("unknown type") << hello() + header(9, 1) + 'a';
    QTest::newRow("past the bound") << hello() + header(quint8(Type::Chunk), MaxPayload + 1);
    QTest::newRow("chunk without bytes")
        << hello() + header(quint8(Type::Chunk), ArrivalSize) + QByteArray(ArrivalSize, '\0');
    QTest::newRow("end without reason") << hello() + header(quint8(Type::End), 0);
}

void TestShareProtocol::breaksOnWhatIsOffTheFormat()
{
    QFETCH(QByteArray, stream);
    // A good message after the bad one is not read either.
    const QByteArray after = chunk(ReceivedChunk{"$", Arrival});
    bool broken = false;
    const QList<Message> messages = decode(stream + after, 1 << 20, &broken);
    QVERIFY(broken);
    QCOMPARE(messages.size(), 0);
}

void TestShareProtocol::sharesOnlyOnTheSystemsMonotonicClock()
{
    // Arrival times cross processes as CLOCK_MONOTONIC readings: a program whose own clock
    // is another (here one a second ahead) must not share.
    static std::int64_t systemNow = 5'000'000'000;
    const auto system = [] { return systemNow += 1000; };
    QVERIFY(ShareProtocol::sameClock([] { return systemNow; }, system));
    QVERIFY(!ShareProtocol::sameClock([] { return systemNow + 1'000'000'000; }, system));
    QVERIFY(ShareProtocol::monotonicClockIsShared());
}

void TestShareProtocol::clientTellsWhyTheStreamEnded_data()
{
    // What the service sends a new client, then whether it hangs up.
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<bool>("hangsUp");
    QTest::addColumn<int>("ended"); // ServiceClientPort::Ended

    const QByteArray greeting = hello() + device(QStringLiteral("/dev/ttyUSB0"));
    const auto ended = [](ServiceClientPort::Ended why) { return int(why); };
    QTest::newRow("greets and streams") << greeting << false << ended(ServiceClientPort::Ended::No);
    QTest::newRow("never greets") << QByteArray() << false
                                  << ended(ServiceClientPort::Ended::ServiceGone);
    QTest::newRow("its device went away") << greeting + end(EndReason::DeviceGone) << false
                                          << ended(ServiceClientPort::Ended::DeviceGone);
    QTest::newRow("stopping") << greeting + end(EndReason::ServiceStopping) << false
                              << ended(ServiceClientPort::Ended::ServiceGone);
    QTest::newRow("gone without a word")
        << greeting << true << ended(ServiceClientPort::Ended::ServiceGone);
}

void TestShareProtocol::clientTellsWhyTheStreamEnded()
{
    QFETCH(QByteArray, sent);
    QFETCH(bool, hangsUp);
    QFETCH(int, ended);
#ifdef Q_OS_WIN
    QSKIP("On Windows the window reads only a pipe the service itself serves (tst_pipeshare).");
#endif
    QTemporaryDir folder;
    QLocalServer server;
    QVERIFY(server.listen(folder.filePath(QStringLiteral("s"))));
    ServiceClientPort client;
    client.setSocketPath(server.fullServerName());
    // Connected at once, with no greeting waited for.
    QCOMPARE(client.setPortOpen(true), int(SerialOk));
    QVERIFY(server.waitForNewConnection(1000));
    QLocalSocket *service = server.nextPendingConnection();
    service->write(sent);
    service->flush();
    if (hangsUp)
        service->disconnectFromServer();
    bool open = true;
    QTest::qWait(int(ServiceClientPort::AnswerTimeout.count()) + 200);
    QCOMPARE(client.portOpen(&open), int(SerialOk));
    QCOMPARE(open, ended == int(ServiceClientPort::Ended::No));
    QCOMPARE(int(client.ended()), ended);
}

QTEST_GUILESS_MAIN(TestShareProtocol)
#include "tst_shareprotocol.moc"
