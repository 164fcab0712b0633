#include "tools/sim/slotplan.h"

#include "tools/sim/frametext.h"

namespace {

qint64 floorDivide(qint64 dividend, qint64 divisor)
{
    const qint64 quotient = dividend / divisor;
    return quotient * divisor > dividend ? quotient - 1 : quotient;
}

QDateTime timeAt(std::chrono::nanoseconds instant, const QTimeZone &zone)
{
    return QDateTime::fromMSecsSinceEpoch(floorDivide(instant.count(), 1'000'000), zone);
}

// Where the next byte of a slot goes: so many characters and pauses after the slot's start.
// Counting characters, not adding up rounded character times, keeps a burst from drifting.
struct Position
{
    qint64 characters = 0;
    std::chrono::nanoseconds pauses{0};

    std::chrono::nanoseconds time() const { return characterTimes(characters) + pauses; }
};

// Appends `frame` at `position`, `lateness` after it, and moves `position` past it.
void addFrame(SlotPlan &plan, Position &position, std::chrono::nanoseconds lateness,
              const QByteArray &frame, bool split, std::mt19937 &random)
{
    if (!split) {
        plan.chunks.append({lateness + position.time(), frame, true});
        position.characters += frame.size();
        return;
    }
    // At least the "$" goes before the pause and at least the LF after it.
    std::uniform_int_distribution<qsizetype> cuts(1, frame.size() - 1);
    const qsizetype cut = cuts(random);
    plan.chunks.append({lateness + position.time(), frame.left(cut), false});
    position.characters += cut;
    position.pauses += SplitPause;
    plan.chunks.append({lateness + position.time(), frame.mid(cut), true});
    position.characters += frame.size() - cut;
}

// Appends up to MaximumNoise random bytes, never a "$", somewhere after `after` so that they
// are over NoiseClearance before the next slot.
void addNoise(SlotPlan &plan, std::chrono::nanoseconds after, std::chrono::nanoseconds period,
              std::mt19937 &random)
{
    const std::chrono::nanoseconds earliest = after + characterTimes(1);
    const std::chrono::nanoseconds latestEnd = period - NoiseClearance;
    qsizetype length = std::uniform_int_distribution<qsizetype>(1, MaximumNoise)(random);
    while (length > 0 && earliest + characterTimes(length) > latestEnd)
        --length;
    if (length == 0)
        return;
    std::uniform_int_distribution<qint64> starts(earliest.count(),
                                                 (latestEnd - characterTimes(length)).count());
    std::uniform_int_distribution<int> values(0, 254);
    Chunk noise{std::chrono::nanoseconds(starts(random)), QByteArray(), false};
    for (qsizetype i = 0; i < length; ++i) {
        const int value = values(random);
        noise.bytes.append(char(value < '$' ? value : value + 1));
    }
    plan.chunks.append(noise);
}

// A device that also sends other lines: right after its frames a stray "$" in a little noise,
// then other sentences back to back until NoiseClearance before the next slot.
void addOtherLines(SlotPlan &plan, std::chrono::nanoseconds after, std::chrono::nanoseconds period)
{
    static const QByteArray stray("*$~");
    static const QByteArray other(
        "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n");
    std::chrono::nanoseconds at = after;
    plan.chunks.append({at, stray, false});
    at += characterTimes(stray.size());
    while (at + characterTimes(other.size()) <= period - NoiseClearance) {
        plan.chunks.append({at, other, false});
        at += characterTimes(other.size());
    }
}

} // namespace

std::chrono::nanoseconds SlotPlan::end() const
{
    if (chunks.isEmpty())
        return std::chrono::nanoseconds(0);
    const Chunk &last = chunks.constLast();
    return last.start + characterTimes(last.bytes.size());
}

SlotPlan planSlot(std::chrono::nanoseconds slot, qint64 framesBefore, const SimOptions &options,
                  const QTimeZone &zone, std::mt19937 &random,
                  std::optional<std::chrono::nanoseconds> frozen)
{
    SlotPlan plan;
    Position position;
    std::chrono::nanoseconds lateness = options.delay;
    if (options.jitter.count() > 0)
        lateness += std::chrono::nanoseconds(
            std::uniform_int_distribution<qint64>(0, options.jitter.count())(random));
    for (int i = 0; i < options.burst; ++i) {
        const QDateTime time = timeAt(frozen ? *frozen : slot + position.time(), zone);
        const std::optional<Malformation> broken =
            options.malformed ? malformationOfFrame(framesBefore + i + 1) : std::nullopt;
        const QByteArray frame = broken ? malformedFrameText(time, *broken) : frameText(time);
        addFrame(plan, position, lateness, frame, options.split, random);
    }
    if (options.busy)
        addOtherLines(plan, lateness + position.time(), options.period);
    else if (options.noise)
        addNoise(plan, lateness + position.time(), options.period, random);
    return plan;
}

std::chrono::nanoseconds slotAtOrAfter(std::chrono::nanoseconds instant,
                                       std::chrono::nanoseconds period)
{
    const qint64 number = -floorDivide(-instant.count(), period.count());
    return number * period;
}
