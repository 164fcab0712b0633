#include "frametime/deviceoffset.h"

#include "frametime/frameinstant.h"

std::optional<std::chrono::microseconds> deviceOffset(const Frame &frame, const QTimeZone &zone,
                                                      const ClockPair &clocks,
                                                      std::chrono::nanoseconds delay)
{
    const std::optional<UtcTime> device = frameInstant(frame, zone);
    if (!device)
        return std::nullopt;
    return *device - clocks.realTimeOf(secondBegan(frame, delay));
}
