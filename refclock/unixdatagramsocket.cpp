#include "refclock/unixdatagramsocket.h"

#include <QCoreApplication>

#include <cerrno>
#include <cstring>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

UnixDatagramSocket::UnixDatagramSocket(const QString &path)
    : m_path(path.toLocal8Bit()), m_socket(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0))
{
}

UnixDatagramSocket::~UnixDatagramSocket()
{
    if (m_socket >= 0)
        ::close(m_socket);
}

SampleSocket::Result UnixDatagramSocket::send(const QByteArray &datagram, QString *reason)
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
