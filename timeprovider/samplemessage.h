#pragma once

#include "timeprovider/samplepipe.h"

// What one record read from the pipe is.
enum class RecordCheck {
    Valid,       // a Message within the bounds
    OutOfBounds, // a Message, but its values are not to be believed: drop it
    NotAMessage, // wrong magic, version or size: the stream is not ours, or out of step
};

// Checks `message` against the protocol and its bounds; `now` is the system time in the
// message's units (100 ns since 1601).
RecordCheck checkRecord(const SamplePipe::Message &message, unsigned long long now);
