#include "tools/sim/simulateddevice.h"

#include "tools/sim/deviceline.h"
#include "tools/sim/pacer.h"
#include "tools/sim/slotplan.h"

#include <QTimeZone>

#include <algorithm>
#include <cstdio>
#include <random>

namespace {

// --silence leaves the line quiet after every this many slots.
constexpr qint64 SlotsBetweenSilences = 3;

// The first frame waits at least this long, so that a reader has time to open the line.
constexpr std::chrono::milliseconds StartMargin{200};

// Before the line closes, the reader has this long to take what was sent.
constexpr std::chrono::milliseconds ClosingGrace{500};

} // namespace

SimulatedDevice::SimulatedDevice(const SimOptions &options, DeviceLine &line, Pacer &pacer)
    : m_options(options), m_offset(options.offset), m_line(line), m_pacer(pacer)
{
}

void SimulatedDevice::run()
{
    const QTimeZone zone = QTimeZone::systemTimeZone();
    const quint32 seed = m_options.seed ? *m_options.seed : std::random_device()();
    if (m_options.verbose)
        std::fprintf(stderr, "quorvel-sim: seed %u\n", seed);
    std::mt19937 random(seed);

    const auto deviceNow = [this] { return realtimeNow() + m_offset; };
    std::chrono::nanoseconds slot = slotAtOrAfter(deviceNow() + StartMargin, m_options.period);
    qint64 frames = 0;
    std::optional<std::chrono::nanoseconds> frozen;
    qsizetype nextJump = 0;
    for (qint64 slotsSent = 1;; ++slotsSent) {
        if (!m_pacer.waitUntil(slot - m_offset))
            return;
        m_line.dropUnread();
        const SlotPlan plan = planSlot(slot, frames, m_options, zone, random, frozen);
        for (const Chunk &chunk : plan.chunks) {
            if (!sendFrom(slot + chunk.start, chunk.bytes))
                return;
            if (chunk.endsFrame)
                ++frames;
            if (m_options.verbose)
                log(slot + chunk.start, chunk, frames);
            if (!chunk.endsFrame)
                continue;
            if (frames == m_options.count) {
                letReaderCatchUp();
                return;
            }
            if (frames == m_options.hangupAfter) {
                if (!letReaderCatchUp())
                    return;
                m_line.hangUp();
                if (m_options.verbose)
                    std::fprintf(stderr, "quorvel-sim: hung up\n");
                m_pacer.waitForStop();
                return;
            }
        }
        if (!frozen && m_options.freezeAfter > 0 && frames >= m_options.freezeAfter) {
            frozen = slot;
            if (m_options.verbose)
                std::fprintf(stderr, "quorvel-sim: clock frozen after frame %lld\n",
                             static_cast<long long>(frames));
        }
        std::chrono::nanoseconds jumped{0};
        for (;
             nextJump < m_options.jumps.size() && m_options.jumps.at(nextJump).afterFrame <= frames;
             ++nextJump) {
            jumped += m_options.jumps.at(nextJump).by;
            if (m_options.verbose)
                std::fprintf(stderr, "quorvel-sim: clock jumped by %.6f s after frame %lld\n",
                             double(m_options.jumps.at(nextJump).by.count()) / 1e9,
                             static_cast<long long>(frames));
        }
        m_offset += jumped;
        const bool silent = m_options.silence.count() > 0 && slotsSent % SlotsBetweenSilences == 0;
        const std::chrono::nanoseconds quiet =
            silent ? m_options.silence : std::chrono::nanoseconds(0);
        // After a late wake-up, slots that have already passed are skipped.
        slot = std::max(slotAtOrAfter(slot + jumped + plan.end() + quiet, m_options.period),
                        slotAtOrAfter(deviceNow(), m_options.period));
    }
}

bool SimulatedDevice::letReaderCatchUp()
{
    // A byte written now is still on its way for a character time; the kernel of a
    // pseudo-terminal counts it as unread only after that.
    const std::chrono::nanoseconds deadline = realtimeNow() + ClosingGrace;
    std::chrono::nanoseconds next = realtimeNow() + characterTimes(1);
    do {
        if (!m_pacer.waitUntil(next))
            return false;
        next += characterTimes(1);
    } while (m_line.unread() > 0 && next < deadline);
    return true;
}

std::chrono::nanoseconds SimulatedDevice::handOver(std::chrono::nanoseconds complete) const
{
    const std::chrono::nanoseconds realtime = complete - m_offset;
    // An adapter's latency timer hands over what it holds at every tick of its own.
    return m_options.latency.count() > 0 ? slotAtOrAfter(realtime, m_options.latency) : realtime;
}

bool SimulatedDevice::sendFrom(std::chrono::nanoseconds start, const QByteArray &bytes)
{
    // A serial device sends each byte's bits itself; a pseudo-terminal delivers a byte the
    // moment it is written, so it is written when its stop bit would end.
    const qint64 sent = m_line.isPseudoTerminal() ? 1 : 0;
    qsizetype first = 0;
    while (first < bytes.size()) {
        const std::chrono::nanoseconds instant = handOver(start + characterTimes(first + sent));
        qsizetype end = first + 1;
        while (end < bytes.size() && handOver(start + characterTimes(end + sent)) == instant)
            ++end;
        if (!m_pacer.waitUntil(instant))
            return false;
        m_line.send(bytes.mid(first, end - first));
        first = end;
    }
    return true;
}

void SimulatedDevice::log(std::chrono::nanoseconds instant, const Chunk &chunk, qint64 frames) const
{
    const double realtime = double((instant - m_offset).count()) / 1e9;
    const QByteArray text = chunk.bytes.toPercentEncoding(" $:,/");
    std::fprintf(stderr, "quorvel-sim: %.6f sent \"%s\"", realtime, text.constData());
    if (chunk.endsFrame)
        std::fprintf(stderr, ", end of frame %lld", static_cast<long long>(frames));
    std::fputc('\n', stderr);
}
