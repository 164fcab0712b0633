#include "refclock/samplepiperecord.h"

#include "timeprovider/samplepipe.h"

#include <algorithm>
#include <cstring>

namespace SamplePipeRecord {

// 100 ns in a microsecond.
constexpr std::int64_t TicksPerMicrosecond = 10;

std::uint64_t fileTimeOf(UtcTime time)
{
    return UnixEpochAsFileTime
           + std::uint64_t(time.time_since_epoch().count() * TicksPerMicrosecond);
}

QByteArray encode(UtcTime systemTime, std::chrono::microseconds offset, std::uint32_t sequence,
                  const QByteArray &source)
{
    SamplePipe::Message message{};
    message.magic = SamplePipe::Magic;
    message.version = SamplePipe::Version;
    message.size = sizeof message;
    message.sequence = sequence;
    message.reserved = 0;
    message.offset = offset.count() * TicksPerMicrosecond;
    // No estimate of its own: the provider adds the spread of the offsets and their age.
    message.dispersion = 0;
    message.systemTime = fileTimeOf(systemTime);
    std::memcpy(message.source, source.constData(),
                std::min<std::size_t>(std::size_t(source.size()), sizeof message.source - 1));

    QByteArray bytes(int(sizeof message), '\0');
    std::memcpy(bytes.data(), &message, sizeof message);
    return bytes;
}

} // namespace SamplePipeRecord
