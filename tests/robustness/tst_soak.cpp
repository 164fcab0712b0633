// Soak: megabytes of frames, broken frames and line noise through a real pseudo-terminal into
// the running window, then one clean frame.
#include "tests/robustness/soakstream.h"
#include "tests/robustness/tickwatch.h"
#include "tests/support/processusage.h"
#include "tests/support/windowonline.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <thread>

using namespace std::chrono_literals;

namespace {

constexpr qint64 SoakBytes = 2 * 1024 * 1024;
// A round is sent in pieces a little apart, so that it spans several polls and the receive
// text reaches its bound; after each round the device falls quiet for a few polls, so that
// the window takes a frame.
constexpr qsizetype RoundBytes = 128 * 1024;
constexpr qsizetype PieceBytes = 2048;
constexpr auto PieceGap = 10ms;
constexpr auto RoundPause = 350ms;
constexpr quint32 Seed = 20070615;

// The resident memory may grow by this much over the soak (after a first round has warmed
// up every buffer).
constexpr qint64 MemoryGrowthLimit = 4 * 1024 * 1024;
// The window counts as having stopped answering when two polls are further apart than this.
constexpr auto AnswerLimit = 2000ms;

const QByteArray CleanFrame("$06:30:00,01/01/2008,2,0\r\n");
const QStringList CleanLabels{"06:30:00", "01/01/2008", "Martes", "Invierno"};

// Plays the device in a thread of its own, far faster than the line's 4800 baud: the rounds
// one after the other, each followed by a pause.
class FloodingDevice
{
public:
    FloodingDevice(PseudoTerminal *line, QList<QByteArray> rounds)
        : m_line(line), m_rounds(std::move(rounds))
    {
        m_thread = std::thread([this] { run(); });
    }
    ~FloodingDevice()
    {
        m_stop = true;
        m_thread.join();
    }
    FloodingDevice(const FloodingDevice &) = delete;
    FloodingDevice &operator=(const FloodingDevice &) = delete;

    bool done() const { return m_done; }
    bool failed() const { return m_failed; }

private:
    void run()
    {
        for (const QByteArray &round : m_rounds) {
            for (qsizetype at = 0; at < round.size() && !m_stop; at += PieceBytes) {
                const QByteArray piece = round.mid(at, PieceBytes);
                if (!m_line->sendAll(piece, 5s)) {
                    m_failed = true;
                    m_done = true;
                    return;
                }
                std::this_thread::sleep_for(PieceGap);
            }
            if (m_stop)
                break;
            std::this_thread::sleep_for(RoundPause);
        }
        m_done = true;
    }

    PseudoTerminal *m_line;
    QList<QByteArray> m_rounds;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_done{false};
    std::atomic<bool> m_failed{false};
};

QString megabytes(qint64 bytes)
{
    return QString::number(double(bytes) / (1024 * 1024), 'f', 2) + QLatin1String(" MB");
}

} // namespace

class TestSoak : public QObject
{
    Q_OBJECT

private slots:
    void noiseAndFramesForMegabytes();
};

void TestSoak::noiseAndFramesForMegabytes()
{
    WindowOnLine window;
    QVERIFY(window.plugIn());
    PseudoTerminal &line = *window.device;
    window.form.Form_Load();
    QCOMPARE(window.messages.shown, QStringList());

    QTimer *timer1 = window.timer1();
    auto *text1 = window.control<QPlainTextEdit>(QStringLiteral("Text1"));
    QVERIFY(timer1 && text1);
    const auto label = [&window](const char *name) {
        return window.control<QLabel>(QLatin1String(name))->text();
    };

    SoakStream stream(Seed);
    QList<QByteArray> rounds;
    qint64 total = 0;
    while (total < SoakBytes) {
        rounds.append(stream.round(RoundBytes));
        total += rounds.last().size();
    }

    // After every poll: the receive text within its bound, and the time and date shown those
    // of one frame sent whole. Frames shown are counted up to the clean one.
    qsizetype longestReceiveText = 0;
    qsizetype longestText1 = 0;
    int framesShown = 0;
    QStringList wrongShown;
    QString shownBefore = label("Label1") + u',' + label("Label3");
    connect(timer1, &QTimer::timeout, this, [&] {
        longestReceiveText = std::max(longestReceiveText, window.receiveText().size());
        longestText1 = std::max(longestText1, qsizetype(text1->document()->characterCount()));
        const QString shown = label("Label1") + u',' + label("Label3");
        if (shown == shownBefore || shown == CleanLabels.at(0) + u',' + CleanLabels.at(1))
            return;
        ++framesShown;
        if (!stream.sentWhole(label("Label1"), label("Label3")))
            wrongShown.append(shown);
        shownBefore = shown;
    });

    TickWatch watch(timer1);
    const auto cpuBefore = cpuTime();
    const auto started = std::chrono::steady_clock::now();
    qint64 residentWarm = 0;
    {
        // The first round warms up every buffer; memory is measured from its end on.
        FloodingDevice warmUp(&line, rounds.mid(0, 1));
        QTRY_VERIFY_WITH_TIMEOUT(warmUp.done(), 60000);
        QVERIFY(!warmUp.failed());
        QTest::qWait(0);
        residentWarm = residentBytes();
    }
    {
        FloodingDevice device(&line, rounds.mid(1));
        QTRY_VERIFY_WITH_TIMEOUT(device.done(), 100000);
        QVERIFY2(!device.failed(), "the line stayed full: the window stopped reading");
    }
    QVERIFY(line.send(CleanFrame));
    QTRY_COMPARE_WITH_TIMEOUT(window.labels(), CleanLabels, 10000);
    const auto elapsed = std::chrono::steady_clock::now() - started;
    const qint64 residentEnd = residentBytes();

    const auto seconds = std::chrono::duration<double>(elapsed).count();
    qInfo("soak: %s in %d rounds (%d whole frames, %d broken frames, %s of noise) in %.1f s",
          qPrintable(megabytes(total)), int(rounds.size()), stream.wholeFrames(),
          stream.brokenFrames(), qPrintable(megabytes(stream.noiseBytes())), seconds);
    qInfo("soak: %d polls, longest gap between two polls %lld ms; %d frames shown in the pauses of "
          "%d rounds; "
          "longest receive text %lld characters; CPU %.1f s",
          watch.ticks(), qlonglong(watch.longestGap().count()), framesShown, int(rounds.size()),
          qlonglong(longestReceiveText),
          std::chrono::duration<double>(cpuTime() - cpuBefore).count());
    qInfo("soak: resident memory %s after the first round, %s at the end: grew by %lld kB",
          qPrintable(megabytes(residentWarm)), qPrintable(megabytes(residentEnd)),
          qlonglong((residentEnd - residentWarm) / 1024));

    // The clean frame is shown, and nothing the flood brought ever showed as a time.
    QCOMPARE(window.receiveText(), QString::fromLatin1(CleanFrame.mid(1, CleanFrame.size() - 3)));
    QCOMPARE(wrongShown, QStringList());
    QVERIFY2(longestReceiveText <= FrameReceiver::MaxReceiveLength,
             "the receive text grew beyond its bound");
    QVERIFY2(longestReceiveText == FrameReceiver::MaxReceiveLength,
             "the flood never filled the receive text up to its bound");
    QVERIFY2(framesShown > 0, "no frame was taken in the pauses of the flood");

    // The box holds the receive text with each CR LF as one line break, plus its own end.
    QVERIFY(longestText1 <= FrameReceiver::MaxReceiveLength + 1);
    QVERIFY2(watch.longestGap() < AnswerLimit, "the window stopped answering");
    QVERIFY(window.portIsOpen());
    QCOMPARE(window.messages.shown, QStringList());
    QCOMPARE(line.takeWritten(), QByteArray());

#ifdef QUORVEL_SANITIZED
    // AddressSanitizer keeps freed memory in quarantine, so resident memory says nothing
    // about leaks here; LeakSanitizer checks for them when the test ends.
    Q_UNUSED(MemoryGrowthLimit)
#else
    QVERIFY(residentWarm > 0 && residentEnd > 0);
    QVERIFY2(residentEnd - residentWarm < MemoryGrowthLimit,
             qPrintable(QStringLiteral("resident memory grew by %1 kB")
                            .arg((residentEnd - residentWarm) / 1024)));
#endif
}

QTEST_MAIN(TestSoak)
#include "tst_soak.moc"
