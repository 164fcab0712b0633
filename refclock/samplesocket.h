#pragma once

#include <QByteArray>
#include <QString>

// Where samples go: chrony's refclock SOCK socket. The real one is UnixDatagramSocket; tests
// pass a fake chrony. Sending never blocks.
class SampleSocket
{
public:
    enum Result {
        Sent,
        NotListening, // nobody receives at the path: no socket there, or chrony is not running
        Failed,       // anything else: no permission, chrony's queue full
    };

    virtual ~SampleSocket() = default;

    // Sends one datagram; on anything but Sent, `reason` (when given) says why in words.
    virtual Result send(const QByteArray &datagram, QString *reason) = 0;
};
