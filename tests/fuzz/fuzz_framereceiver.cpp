// Fuzz target for the reception core: plays a script of device output, poll ticks, closed
// ports and user edits through FrameReceiver and aborts as soon as an invariant breaks.
//
// The input bytes are the script, read one command byte at a time. The command byte's low
// three bits choose the command, its high five bits are a parameter p (0 to 31):
//   0  the device sends the next p + 1 input bytes (one character per byte, Latin-1)
//   1  the device sends a well-formed frame built from the next four input bytes
//   2  the device sends the next input byte (p + 1) * 64 times
//   3  poll tick that delivers the next p + 1 characters the device has sent
//   4  poll tick that delivers everything the device has sent (quiet when nothing is pending)
//   5  quiet poll tick: the device pauses, whatever it has sent stays pending
//   6  poll tick with a port that is closed (p % 3 == 0), fails to answer whether it is open
//      (1) or fails to read (2)
//   7  the user edits the receive window (p % 8 chooses the edit, see userEdit())
// Bytes missing at the end of the input read as zero.
//
// A reference model of the receiver (Expected) runs alongside and is built only from what the
// script delivered and typed; after every step the receiver must agree with it. The target
// also asserts the invariants on their own: the receive text stays within its bound, the
// latest frame changes only on a tick that took a frame, no frame is taken on a tick that
// brought input, a frame taken is the text between the last "$" and the first CR LF after it
// in what the window held, and the frame handed over is made of that text's fields.

#include "core/framereceiver.h"
#include "tools/sim/scriptedserialport.h"

#include <QByteArray>
#include <QStringList>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>

using namespace std::chrono_literals;

namespace {

const QString InitialText = QStringLiteral("Ventana de recepción.\r\n");
const QString LineEnd = QStringLiteral("\r\n");
constexpr QChar Marker = u'$';

[[noreturn]] void fail(const char *what, int step)
{
    std::fprintf(stderr, "fuzz_framereceiver: invariant broken at step %d: %s\n", step, what);
    std::abort();
}

#define CHECK(condition)                                                                           \
    do {                                                                                           \
        if (!(condition))                                                                          \
            fail(#condition, m_step);                                                              \
    } while (false)

// Reads the script; past its end every byte is zero.
class ScriptReader
{
public:
    ScriptReader(const uint8_t *data, size_t size) : m_data(data), m_size(size) {}
    bool atEnd() const { return m_pos >= m_size; }
    uint8_t byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }
    int number16() { return byte() | (byte() << 8); }
    QString latin1(int count)
    {
        const int available =
            int(std::min<size_t>(size_t(count), m_size - std::min(m_pos, m_size)));
        const QString text =
            QString::fromLatin1(reinterpret_cast<const char *>(m_data + m_pos), available);
        m_pos += size_t(available);
        return text;
    }

private:
    const uint8_t *m_data;
    size_t m_size;
    size_t m_pos = 0;
};

// A field read as a number the way the device's numeric fields are meant: decimal digits with
// optional blanks (space, tab) around them; huge values saturate. Empty when not a number.
std::optional<long long> numberOf(const QString &field)
{
    const QString digits = [&] {
        qsizetype begin = 0;
        qsizetype end = field.size();
        while (begin < end && (field[begin] == u' ' || field[begin] == u'\t'))
            ++begin;
        while (end > begin && (field[end - 1] == u' ' || field[end - 1] == u'\t'))
            --end;
        return field.mid(begin, end - begin);
    }();
    if (digits.isEmpty())
        return std::nullopt;
    long long value = 0;
    for (const QChar c : digits) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = std::min<long long>(value * 10 + c.digitValue(), INT_MAX);
    }
    return value;
}

// When the "$" that starts the latest frame arrived, as far as the script knows: exactly,
// when the device sent it; within the span of the edit, when the user's edit put it there.
struct MarkerTime
{
    MonotonicTime earliest;
    MonotonicTime latest;
};

// The fields of a frame as the model reads them.
struct Fields
{
    QString time;
    QString date;
    long long weekday = 0;
    bool summer = false;

    bool matches(const Frame &frame) const
    {
        return frame.time == time && frame.date == date && frame.weekday == weekday
               && frame.summer == summer;
    }
};

// What the receiver must hold after each step, worked out from the script alone.
struct Expected
{
    QString text = InitialText;
    qsizetype lastLength = 0;
    std::optional<Fields> latest; // the latest frame
    std::optional<MarkerTime> marker;
    std::optional<MarkerTime> shownFrame;
    bool tookFrame = false;

    static QString bounded(const QString &text)
    {
        return text.size() > FrameReceiver::MaxReceiveLength
                   ? text.right(FrameReceiver::MaxReceiveLength)
                   : text;
    }

    void show(const QString &frame)
    {
        const QStringList fields = frame.split(u',');
        if (frame.isEmpty() || fields.size() < 4)
            return;
        const std::optional<long long> weekday = numberOf(fields[2]);
        const std::optional<long long> summer = numberOf(fields[3]);
        if (!weekday || !summer)
            return;
        latest = Fields{fields[0], fields[1], *weekday, *summer == 1};
        shownFrame = marker;
    }

    // One tick with the port open that read `input`, whose first character arrived at `when`
    // and the others back to back after it.
    void tick(const QString &input, MonotonicTime when)
    {
        tookFrame = false;
        if (!input.isEmpty()) {
            if (input.contains(Marker)) {
                const MonotonicTime at = when + input.lastIndexOf(Marker) * CharacterTime;
                marker = MarkerTime{at, at};
            }
            text = bounded(text + input);
        } else if (text.size() == lastLength && text.contains(LineEnd)) {
            // Quiet after a line end: the frame is the text after the last "$", taken only
            // once its own line end has arrived.
            const qsizetype start = text.lastIndexOf(Marker);
            const qsizetype end = start < 0 ? -1 : text.indexOf(LineEnd, start);
            if (end >= 0) {
                text = text.mid(start + 1, end - start - 1);
                tookFrame = true;
                show(text);
            }
        }
        lastLength = text.size();
    }

    void edit(const QString &edited, MonotonicTime before, MonotonicTime after)
    {
        const auto fromLastMarker = [](const QString &s) {
            const qsizetype at = s.lastIndexOf(Marker);
            return at < 0 ? QString() : s.mid(at);
        };
        if (fromLastMarker(edited) != fromLastMarker(text))
            marker = MarkerTime{before, after};
        text = bounded(edited);
    }
};

// The scripted port, recording what each read actually handed over.
class RecordingPort : public ScriptedSerialPort
{
public:
    QString delivered;
    int input(QList<ReceivedChunk> *chunks) override
    {
        const int result = ScriptedSerialPort::input(chunks);
        for (const ReceivedChunk &chunk : *chunks)
            delivered += QString::fromLatin1(chunk.bytes);
        return result;
    }
};

class Run
{
public:
    explicit Run(ScriptReader &script) : m_script(script), m_receiver(InitialText) {}

    void play()
    {
        checkAgreement();
        while (!m_script.atEnd()) {
            ++m_step;
            const uint8_t command = m_script.byte();
            const int p = command >> 3;
            switch (command & 7) {
            case 0:
                m_pending += m_script.latin1(p + 1);
                break;
            case 1:
                m_pending += wellFormedFrame();
                break;
            case 2:
                m_pending += QString((p + 1) * 64, QLatin1Char(char(m_script.byte())));
                break;
            case 3:
                openTick(p + 1);
                break;
            case 4:
                openTick(int(m_pending.size()));
                break;
            case 5:
                openTick(0);
                break;
            case 6:
                closedTick(p % 3);
                break;
            default:
                userEdit(p % 8);
                break;
            }
            checkAgreement();
        }
    }

private:
    // "$hh:mm:ss,mm/dd/yyyy,weekday,flag" CR LF, with weekday 0 to 9 (sometimes zero-padded)
    // and flag 0 to 3, so that valid and out-of-range values both come up often.
    QString wellFormedFrame()
    {
        const uint8_t a = m_script.byte();
        const uint8_t b = m_script.byte();
        const uint8_t c = m_script.byte();
        const uint8_t d = m_script.byte();
        const QString weekday = QString::number(c % 10);
        return QStringLiteral("$%1:%2:%3,%4/%5/20%6,%7,%8\r\n")
            .arg(a % 24, 2, 10, QChar(u'0'))
            .arg(b % 60, 2, 10, QChar(u'0'))
            .arg((a ^ b) % 60, 2, 10, QChar(u'0'))
            .arg(c % 12 + 1, 2, 10, QChar(u'0'))
            .arg(d % 28 + 1, 2, 10, QChar(u'0'))
            .arg(d % 100, 2, 10, QChar(u'0'))
            .arg(c & 0x80 ? QStringLiteral("0") + weekday : weekday)
            .arg(d >> 6);
    }

    void openTick(int count)
    {
        const QString input = m_pending.left(count);
        m_pending.remove(0, input.size());
        const MonotonicTime when = m_deviceTime + m_step * 100ms;
        m_port.calls.clear();
        m_port.delivered.clear();
        m_port.chunks = QStringList{input};
        m_port.chunkArrival = {when};

        const QString textBefore = m_receiver.ReceiveText();
        const std::optional<Frame> frameBefore = m_receiver.LastFrame();
        CHECK(m_receiver.Tick(&m_port));
        CHECK((m_port.calls == QStringList{QStringLiteral("portOpen"), QStringLiteral("input")}));
        CHECK(m_port.delivered == input);
        m_expected.tick(input, when);

        // The invariants, each on its own.
        CHECK(!(m_receiver.TookFrame() && !input.isEmpty()));
        if (!m_receiver.TookFrame()) {
            CHECK(!m_receiver.TakenFrame());
            CHECK(m_receiver.LastFrame() == frameBefore);
        } else {
            checkFrameTaken(textBefore, frameBefore);
        }
    }

    // The frame text now in the receive text lay between the last "$" and the first CR LF
    // after it in what the window held before the tick, and the frame handed over, if any,
    // is made of its fields.
    void checkFrameTaken(const QString &textBefore, const std::optional<Frame> &frameBefore)
    {
        const QString frame = m_receiver.ReceiveText();
        const qsizetype start = textBefore.lastIndexOf(Marker);
        CHECK(start >= 0);
        CHECK(textBefore.mid(start + 1).startsWith(frame + LineEnd));
        CHECK(!frame.contains(LineEnd));

        const std::optional<Frame> taken = m_receiver.TakenFrame();
        if (!taken) {
            CHECK(m_receiver.LastFrame() == frameBefore);
            return;
        }
        CHECK(m_receiver.LastFrame() == taken);
        const QStringList fields = frame.split(u',');
        CHECK(fields.size() >= 4);
        CHECK(taken->time == fields[0]);
        CHECK(taken->date == fields[1]);
        const std::optional<long long> weekday = numberOf(fields[2]);
        const std::optional<long long> summer = numberOf(fields[3]);
        CHECK(weekday && summer);
        CHECK(taken->weekday == *weekday);
        CHECK(taken->summer == (*summer == 1));
    }

    void closedTick(int how)
    {
        m_port.calls.clear();
        m_port.chunks.clear();
        m_port.open = how != 0;
        m_port.failPortOpen = how == 1 ? SerialNotOpen : SerialOk;
        m_port.failInput = how == 2 ? SerialNotOpen : SerialOk;

        const QString textBefore = m_receiver.ReceiveText();
        const std::optional<Frame> frameBefore = m_receiver.LastFrame();
        CHECK(!m_receiver.Tick(&m_port));
        CHECK(!m_receiver.TookFrame());
        CHECK(!m_receiver.TakenFrame());
        CHECK(m_port.calls.size() == (how == 2 ? 2 : 1));
        CHECK(m_receiver.ReceiveText() == textBefore);
        CHECK(m_receiver.LastFrame() == frameBefore);
        m_expected.tookFrame = false;

        m_port.open = true;
        m_port.failPortOpen = m_port.failInput = SerialOk;
    }

    // The edits a user can make in the receive window.
    void userEdit(int kind)
    {
        QString text = m_receiver.ReceiveText();
        const int length = int(text.size());
        const int at = m_script.number16() % (length + 1);
        switch (kind) {
        case 0: // cut the text off
            text.truncate(at);
            break;
        case 1: // delete a stretch
            text.remove(at, m_script.byte());
            break;
        case 2: // type some characters
            text.insert(at, m_script.latin1(m_script.byte() % 16 + 1));
            break;
        case 3: // replace everything
            text = m_script.latin1(m_script.byte());
            break;
        case 4: // type a frame marker
            text.insert(at, Marker);
            break;
        case 5: // type a line end
            text.insert(at, LineEnd);
            break;
        case 6: // empty the window
            text.clear();
            break;
        default: // paste a text far beyond the bound
            text.insert(at, QString(FrameReceiver::MaxReceiveLength + m_script.byte(), u'x'));
            break;
        }
        const std::optional<Frame> frameBefore = m_receiver.LastFrame();
        const MonotonicTime before = MonotonicClock::now();
        m_receiver.SetReceiveText(text);
        const MonotonicTime after = MonotonicClock::now();
        m_expected.edit(text, before, after);
        CHECK(m_receiver.LastFrame() == frameBefore);
    }

    // The receiver agrees with the reference model; the bound holds.
    void checkAgreement()
    {
        CHECK(m_receiver.ReceiveText().size() <= FrameReceiver::MaxReceiveLength);
        CHECK(m_receiver.ReceiveText() == m_expected.text);
        CHECK(m_receiver.TookFrame() == m_expected.tookFrame);
        const std::optional<Frame> frame = m_receiver.LastFrame();
        CHECK(frame.has_value() == m_expected.latest.has_value());
        CHECK(frame.has_value() == m_expected.shownFrame.has_value());
        if (frame) {
            CHECK(m_expected.latest->matches(*frame));
            CHECK(frame->arrival >= m_expected.shownFrame->earliest);
            CHECK(frame->arrival <= m_expected.shownFrame->latest);
        }
    }

    ScriptReader &m_script;
    FrameReceiver m_receiver;
    RecordingPort m_port;
    Expected m_expected;
    QString m_pending; // sent by the device, not yet delivered by a tick
    // Device arrival times lie well in the past, apart from the "now" of user edits.
    const MonotonicTime m_deviceTime = MonotonicClock::now() - 1h;
    int m_step = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ScriptReader script(data, size);
    Run run(script);
    run.play();
    return 0;
}
