#include "timeprovider/samplemessage.h"

RecordCheck checkRecord(const SamplePipe::Message &message, unsigned long long now)
{
    if (message.magic != SamplePipe::Magic || message.version != SamplePipe::Version
        || message.size != sizeof(SamplePipe::Message))
        return RecordCheck::NotAMessage;
    if (message.reserved != 0)
        return RecordCheck::OutOfBounds;
    if (message.offset > SamplePipe::MaxOffset || message.offset < -SamplePipe::MaxOffset)
        return RecordCheck::OutOfBounds;
    if (message.dispersion > SamplePipe::MaxDispersion)
        return RecordCheck::OutOfBounds;
    if (message.systemTime > now + SamplePipe::MaxAhead
        || (now > message.systemTime && now - message.systemTime > SamplePipe::MaxAge))
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
