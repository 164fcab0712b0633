#pragma once

#include "frametime/frametime.h"

#include <QByteArray>

#include <chrono>
#include <cstdint>

// One sample for the Windows Time service provider (QuorvelTimeProvider.dll), laid out as
// timeprovider/samplepipe.h's SamplePipe::Message: the same values as chrony's sample (the
// computer's clock at the frame's "$" and the device's time minus it), in 100 ns units, the
// system time as a FILETIME (100 ns since 1601-01-01 UTC). Plain bytes, no Windows header, so
// that it is checked on Linux too.
namespace SamplePipeRecord {

// 100 ns intervals from 1601-01-01 to 1970-01-01 00:00 UTC.
inline constexpr std::uint64_t UnixEpochAsFileTime = 116444736000000000ULL;

// `time` as a FILETIME count.
std::uint64_t fileTimeOf(UtcTime time);

// The record of the sample numbered `sequence`: at `systemTime` the device read
// `systemTime + offset`. `source` is the port ("COM1"), cut to 15 characters.
QByteArray encode(UtcTime systemTime, std::chrono::microseconds offset, std::uint32_t sequence,
                  const QByteArray &source);

} // namespace SamplePipeRecord
