#pragma once

#include <QByteArrayList>
#include <QFile>
#include <QString>

#include <cstring>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

// Plays chronyd's side of a refclock SOCK socket: binds a Unix datagram socket at a path (as
// chronyd does while root, so it is root's and writable by root only) and collects what
// arrives. Closing it leaves the socket file behind, as chronyd does when it has dropped root.
class FakeChrony
{
public:
    explicit FakeChrony(const QString &path) : m_path(QFile::encodeName(path)) {}
    ~FakeChrony() { close(); }
    FakeChrony(const FakeChrony &) = delete;
    FakeChrony &operator=(const FakeChrony &) = delete;

    bool listen()
    {
        close();
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (m_path.size() >= qsizetype(sizeof address.sun_path))
            return false;
        std::memcpy(address.sun_path, m_path.constData(), size_t(m_path.size()));
        ::unlink(address.sun_path);
        m_socket = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (m_socket < 0
            || ::bind(m_socket, reinterpret_cast<const sockaddr *>(&address), sizeof address)
                   != 0) {
            close();
            return false;
        }
        return true;
    }

    void close()
    {
        if (m_socket >= 0)
            ::close(m_socket);
        m_socket = -1;
    }

    // Every datagram received so far.
    QByteArrayList received()
    {
        char buffer[256];
        ssize_t size = 0;
        while (m_socket >= 0 && (size = ::recv(m_socket, buffer, sizeof buffer, 0)) >= 0)
            m_received.append(QByteArray(buffer, size));
        return m_received;
    }

private:
    QByteArray m_path;
    int m_socket = -1;
    QByteArrayList m_received;
};
