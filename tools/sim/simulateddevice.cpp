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
    : m_options(options), m_line(line), m_pacer(pacer)
{
}

void SimulatedDevice::run()
{
    const QTimeZone zone = QTimeZone::systemTimeZone();
    const quint32 seed = m_options.seed ? *m_options.seed : std::random_device()();
    if (m_options.verbose)
        std::fprintf(stderr, "quorvel-sim: seed %u\n", seed);
    std::mt19937 random(seed);

    const auto deviceNow = [this] { return realtimeNow() + m_options.offset; };
    std::chrono::nanoseconds slot = slotAtOrAfter(deviceNow() + StartMargin, m_options.period);
    qint64 frames = 0;
    for (qint64 slotsSent = 1;; ++slotsSent) {
        if (!m_pacer.waitUntil(slot - m_options.offset))
            return;
        m_line.dropUnread();
        const SlotPlan plan = planSlot(slot, frames, m_options, zone, random);
        for (const Chunk &chunk : plan.chunks) {
            for (qsizetype i = 0; i < chunk.bytes.size(); ++i) {
                if (!sendAt(slot + chunk.start + characterTimes(i), chunk.bytes.at(i)))
                    return;
            }
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
        const bool silent = m_options.silence.count() > 0 && slotsSent % SlotsBetweenSilences == 0;
        const std::chrono::nanoseconds quiet =
            silent ? m_options.silence : std::chrono::nanoseconds(0);
        // After a late wake-up, slots that have already passed are skipped.
        slot = std::max(slotAtOrAfter(slot + plan.end() + quiet, m_options.period),
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

bool SimulatedDevice::sendAt(std::chrono::nanoseconds instant, char byte)
{
    if (!m_pacer.waitUntil(instant - m_options.offset))
        return false;
    m_line.send(byte);
    return true;
}

void SimulatedDevice::log(std::chrono::nanoseconds instant, const Chunk &chunk, qint64 frames) const
{
    const double realtime = double((instant - m_options.offset).count()) / 1e9;
    const QByteArray text = chunk.bytes.toPercentEncoding(" $:,/");
    std::fprintf(stderr, "quorvel-sim: %.6f sent \"%s\"", realtime, text.constData());
    if (chunk.endsFrame)
        std::fprintf(stderr, ", end of frame %lld", static_cast<long long>(frames));
    std::fputc('\n', stderr);
}
