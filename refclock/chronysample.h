#pragma once

#include "frametime/frametime.h"

#include <QByteArray>

#include <chrono>

// One sample for chrony's "refclock SOCK" driver, laid out as chrony's refclock_sock.c reads
// it: struct timeval tv (the computer's clock at the measurement), double offset (true time
// minus `tv`, in seconds), int pulse (0: the sample carries the whole time), int leap
// (0: no leap second announced), int padding, int magic (0x534f434b). Native byte order and
// alignment, as chrony compiled for the same machine expects: 40 bytes on 64-bit Linux. chrony
// drops a datagram of any other size or magic without a word.
namespace ChronySample {

constexpr int Magic = 0x534f434b;

// The datagram that tells chrony: at `systemTime` on the computer's clock, the true time was
// `systemTime + offset`.
QByteArray encode(UtcTime systemTime, std::chrono::microseconds offset);

// The size chrony expects.
int size();

} // namespace ChronySample
