#pragma once

#include "core/line.h"
#include "tools/sim/simoptions.h"

#include <QByteArray>
#include <QList>
#include <QTimeZone>

#include <chrono>
#include <optional>
#include <random>

// Instants of the device clock are nanoseconds since the Unix epoch; offsets within a slot
// are nanoseconds from the slot's start.

inline constexpr std::chrono::milliseconds SplitPause{250};    // the pause inside a split frame
inline constexpr int MaximumNoise = 16;                        // noise bytes at most per slot
inline constexpr std::chrono::milliseconds NoiseClearance{20}; // quiet before the next slot

// Bytes sent one character time apart, the first at `start`.
struct Chunk
{
    std::chrono::nanoseconds start{0};
    QByteArray bytes;
    bool endsFrame = false; // the last byte of a frame is the last of this chunk
};

// Everything the device sends in one slot, in the order it goes out.
struct SlotPlan
{
    QList<Chunk> chunks;

    // When the last byte has gone out.
    std::chrono::nanoseconds end() const;
};

// What the device sends in the slot that starts at the instant `slot` of its clock, after
// `framesBefore` frames in earlier slots. The first "$" goes out --delay after the slot's
// start, plus a random 0 to --jitter. Each frame holds the time of `zone` at which its "$"
// would go out without that lateness, so the first frame names the slot's second; with
// `frozen`, the time of that instant instead, as a device whose clock stopped. `random`
// places the pauses of split frames and the noise and draws the jitter.
SlotPlan planSlot(std::chrono::nanoseconds slot, qint64 framesBefore, const SimOptions &options,
                  const QTimeZone &zone, std::mt19937 &random,
                  std::optional<std::chrono::nanoseconds> frozen = std::nullopt);

// The first slot start at or after the instant `instant`: slots start at the whole multiples
// of `period` since the epoch.
std::chrono::nanoseconds slotAtOrAfter(std::chrono::nanoseconds instant,
                                       std::chrono::nanoseconds period);
