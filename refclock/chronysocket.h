#pragma once

#include "refclock/samplesink.h"

#include <QByteArray>
#include <QString>

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

#ifdef _WIN32
// The Windows build has no chrony and no Unix socket, but reads the same options: the limit
// that Windows' own sockaddr_un (afunix.h, 108 bytes) would set.
inline constexpr qsizetype MaxSocketPathBytes = 107;
#else
#include <sys/un.h>

// The longest path a Unix socket's address holds, in bytes: sun_path less its ending zero.
inline constexpr qsizetype MaxSocketPathBytes = sizeof(sockaddr_un::sun_path) - 1;

// chrony's refclock SOCK socket at `path`, reached with a Unix datagram socket. Every sample is
// addressed to the path anew, so that a chrony that was restarted (and bound a new socket
// there) receives the next sample with nothing to reconnect.
class ChronySocket : public SampleSink
{
public:
    explicit ChronySocket(const QString &path);
    ~ChronySocket() override;
    ChronySocket(const ChronySocket &) = delete;
    ChronySocket &operator=(const ChronySocket &) = delete;

    Result send(UtcTime systemTime, std::chrono::microseconds offset, QString *reason) override;

private:
    QByteArray m_path;
    int m_socket = -1;
};
#endif
