#include "samplepipe/samplepipe.h"

#include <cstring>

namespace SamplePipe {

// 100 ns in a microsecond.
constexpr std::int64_t TicksPerMicrosecond = 10;

std::uint64_t fileTimeOf(std::int64_t unixMicroseconds)
{
    return UnixEpochAsFileTime + std::uint64_t(unixMicroseconds * TicksPerMicrosecond);
}

Message encode(std::int64_t systemTime, std::int64_t offset, std::uint32_t sequence,
               const char *source)
{
    Message message{};
    message.magic = Magic;
    message.version = Version;
    message.size = sizeof message;
    message.sequence = sequence;
    message.reserved = 0;
    message.offset = offset * TicksPerMicrosecond;
    // No estimate of its own: the provider adds the spread of the offsets and their age.
    message.dispersion = 0;
    message.systemTime = fileTimeOf(systemTime);
    if (source != nullptr)
        std::strncpy(message.source, source, sizeof message.source - 1);
    return message;
}

RecordCheck checkRecord(const Message &message, std::uint64_t now)
{
    if (message.magic != Magic || message.version != Version || message.size != sizeof(Message))
        return RecordCheck::NotAMessage;
    if (message.reserved != 0)
        return RecordCheck::OutOfBounds;
    if (message.offset > MaxOffset || message.offset < -MaxOffset)
        return RecordCheck::OutOfBounds;
    if (message.dispersion > MaxDispersion)
        return RecordCheck::OutOfBounds;
    if (message.systemTime > now + MaxAhead
        || (now > message.systemTime && now - message.systemTime > MaxAge))
        return RecordCheck::OutOfBounds;
    // The port name: printable ASCII, then NULs only, at least one.
    bool ended = false;
    for (char c : message.source) {
        if (c == '\0')
            ended = true;
        else if (ended || c < 0x20 || c > 0x7e)
            return RecordCheck::OutOfBounds;
    }
    return ended ? RecordCheck::Valid : RecordCheck::OutOfBounds;
}

} // namespace SamplePipe
