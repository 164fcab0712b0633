#pragma once

// The samples that the service quorvel-refclock hands to the Windows Time service provider
// (QuorvelTimeProvider.dll), over a local named pipe. Plain C++, no Qt and no Windows headers,
// so that both sides include it.
//
// The service creates the pipe as its first and only instance (PIPE_ACCESS_OUTBOUND |
// FILE_FLAG_FIRST_PIPE_INSTANCE, PIPE_REJECT_REMOTE_CLIENTS, one instance; the default security
// lets the Time service, running as LOCAL SERVICE, read it) and writes one Message per sample,
// each with a single WriteFile, never waiting on a reader that does not read (overlapped
// writes; a sample is dropped while one is still pending).
//
// The provider is the only client. It reads the pipe as a stream of Message records (byte read
// mode, so that it needs no more than read access), checks that the process serving the pipe
// is the running service quorvel-refclock, drops a message whose values are outside the bounds
// below, and leaves (and comes back 5 s later) when a record is not a Message at all.
//
// The window checks the same way that the pipe it reads the shared device from is the
// service's (serverprocess.h).

#include <cstddef>
#include <cstdint>

namespace SamplePipe {

// \\.\pipe\quorvel-refclock-samples
inline constexpr wchar_t Name[] = L"\\\\.\\pipe\\quorvel-refclock-samples";

// The service whose process must serve the pipe.
inline constexpr wchar_t ServiceName[] = L"quorvel-refclock";

inline constexpr std::uint32_t Magic = 0x53545651; // "QVTS" in memory, little-endian
inline constexpr std::uint16_t Version = 1;

// Bounds the provider holds every message to; one outside them is dropped.
inline constexpr std::int64_t MaxOffset = 366LL * 86400 * 10000000; // a year, 100 ns
inline constexpr std::uint64_t MaxDispersion = 16ULL * 10000000;    // 16 s, 100 ns
inline constexpr std::uint64_t MaxAge = 60ULL * 10000000;           // measured <= 60 s ago
inline constexpr std::uint64_t MaxAhead = 10000000;                 // or <= 1 s ahead

struct Message
{
    std::uint32_t magic;   // Magic
    std::uint16_t version; // Version
    std::uint16_t size;    // sizeof(Message)
    std::uint32_t sequence;
    std::uint32_t reserved; // 0
    // Device time minus system time, in 100 ns: positive when the computer is behind.
    std::int64_t offset;
    // The service's own estimate of the error of `offset`, in 100 ns; 0 when it has none.
    std::uint64_t dispersion;
    // The system time at which `offset` was measured: 100 ns since 1601-01-01 00:00 UTC, as
    // GetSystemTimePreciseAsFileTime gives it.
    std::uint64_t systemTime;
    // The device's port ("COM3"), ASCII, NUL-padded, at least one NUL.
    char source[16];
};

static_assert(sizeof(Message) == 56, "one fixed layout for both sides");
static_assert(offsetof(Message, offset) == 16 && offsetof(Message, source) == 40,
              "no padding inside the message");

// 100 ns intervals from 1601-01-01 to 1970-01-01 00:00 UTC.
inline constexpr std::uint64_t UnixEpochAsFileTime = 116444736000000000ULL;

// A time given in microseconds since 1970-01-01 UTC as a FILETIME count.
std::uint64_t fileTimeOf(std::int64_t unixMicroseconds);

// The service's record of the sample numbered `sequence`: at `systemTime` (microseconds since
// 1970 on the computer's clock) the device read `systemTime + offset` (microseconds). `source`
// is the port ("COM1"), cut to 15 characters.
Message encode(std::int64_t systemTime, std::int64_t offset, std::uint32_t sequence,
               const char *source);

// What one record read from the pipe is.
enum class RecordCheck {
    Valid,       // a Message within the bounds
    OutOfBounds, // a Message, but its values are not to be believed: drop it
    NotAMessage, // wrong magic, version or size: the stream is not ours, or out of step
};

// The provider's check of `message` against the protocol and its bounds; `now` is the system
// time in the message's units (100 ns since 1601).
RecordCheck checkRecord(const Message &message, std::uint64_t now);

} // namespace SamplePipe
