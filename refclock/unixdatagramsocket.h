#pragma once

#include "refclock/samplesocket.h"

#include <QByteArray>
#include <QString>

#ifdef _WIN32
// The Windows build has no chrony and no Unix socket, but reads the same options: the limit
// that Windows' own sockaddr_un (afunix.h, 108 bytes) would set.
inline constexpr qsizetype MaxSocketPathBytes = 107;
#else
#include <sys/un.h>

// The longest path a Unix socket's address holds, in bytes: sun_path less its ending zero.
inline constexpr qsizetype MaxSocketPathBytes = sizeof(sockaddr_un::sun_path) - 1;
#endif

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
