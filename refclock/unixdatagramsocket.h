#pragma once

#include "refclock/samplesocket.h"

#include <QByteArray>
#include <QString>

#include <sys/un.h>

// The longest path a Unix socket's address holds, in bytes: sun_path less its ending zero.
inline constexpr qsizetype MaxSocketPathBytes = sizeof(sockaddr_un::sun_path) - 1;

// A Unix datagram socket that sends to the socket chrony binds at `path`. It addresses every
// datagram to the path anew, so that a chrony that was restarted (and bound a new socket
// there) receives the next sample with nothing to reconnect.
class UnixDatagramSocket : public SampleSocket
{
public:
    explicit UnixDatagramSocket(const QString &path);
    ~UnixDatagramSocket() override;
    UnixDatagramSocket(const UnixDatagramSocket &) = delete;
    UnixDatagramSocket &operator=(const UnixDatagramSocket &) = delete;

    Result send(const QByteArray &datagram, QString *reason) override;

private:
    QByteArray m_path;
    int m_socket = -1;
};
