#include "refclock/chronysocket.h"

#include <QCoreApplication>

#include <cerrno>
#include <cstring>

#include <sys/time.h>
#ifndef _WIN32
#include <sys/socket.h>
#include <unistd.h>
#endif

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

#ifndef _WIN32
ChronySocket::ChronySocket(const QString &path)
    : m_path(path.toLocal8Bit()), m_socket(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0))
{
}

ChronySocket::~ChronySocket()
{
    if (m_socket >= 0)
        ::close(m_socket);
}

SampleSink::Result ChronySocket::send(UtcTime systemTime, std::chrono::microseconds offset,
                                      QString *reason)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (m_socket < 0 || m_path.isEmpty() || m_path.size() > MaxSocketPathBytes) {
        if (reason)
            *reason = m_socket < 0 ? QString::fromLocal8Bit(std::strerror(errno))
                                   : QCoreApplication::translate("UnixDatagramSocket",
                                                                 "ruta de socket no válida");
        return Failed;
    }
    std::memcpy(address.sun_path, m_path.constData(), size_t(m_path.size()));
    const QByteArray datagram = ChronySample::encode(systemTime, offset);
    // Never wait: a chrony that does not keep up loses a sample, not the device's next frame.
    const ssize_t sent =
        ::sendto(m_socket, datagram.constData(), size_t(datagram.size()),
                 MSG_DONTWAIT | MSG_NOSIGNAL, reinterpret_cast<const sockaddr *>(&address),
                 socklen_t(offsetof(sockaddr_un, sun_path) + size_t(m_path.size()) + 1));
    if (sent == datagram.size())
        return Sent;
    const int error = sent < 0 ? errno : EMSGSIZE;
    if (reason)
        *reason = QString::fromLocal8Bit(std::strerror(error));
    return error == ENOENT || error == ECONNREFUSED || error == ENOTDIR ? NotListening : Failed;
}
#endif
