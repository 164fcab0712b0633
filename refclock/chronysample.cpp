#include "refclock/chronysample.h"

#include <sys/time.h>

#include <cstring>

namespace {

// chrony's struct sock_sample, field for field.
struct SockSample
{
    timeval tv;
    double offset;
    int pulse;
    int leap;
    int pad;
    int magic;
};

} // namespace

namespace ChronySample {

int size()
{
    return int(sizeof(SockSample));
}

QByteArray encode(UtcTime systemTime, std::chrono::microseconds offset)
{
    using namespace std::chrono;
    // Whole seconds rounded down, so that the microseconds are never negative, as a timeval's
    // must not be (before 1970 too).
    const seconds wholeSeconds = floor<seconds>(systemTime.time_since_epoch());
    const microseconds rest = systemTime.time_since_epoch() - wholeSeconds;

    SockSample sample{};
    // The field types as the system declares them (MinGW's timeval has no suseconds_t).
    sample.tv.tv_sec = decltype(sample.tv.tv_sec)(wholeSeconds.count());
    sample.tv.tv_usec = decltype(sample.tv.tv_usec)(rest.count());
    sample.offset = duration<double>(offset).count();
    sample.pulse = 0;
    sample.leap = 0;
    sample.magic = Magic;

    QByteArray bytes(int(sizeof sample), '\0');
    std::memcpy(bytes.data(), &sample, sizeof sample);
    return bytes;
}

} // namespace ChronySample
