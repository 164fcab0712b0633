#pragma once

#include "frametime/frametime.h"
#include "refclock/chronysample.h"

#include <QByteArray>
#include <QString>

#include <chrono>

// Where samples go: chrony's refclock SOCK socket (UnixDatagramSocket) on Linux, the Windows
// Time service provider's pipe (SamplePipeServer) on Windows; tests pass a fake chrony.
// Sending never blocks.
class SampleSocket
{
public:
    enum Result {
        Sent,
        NotListening, // nobody receives at the path: no socket there, or chrony is not running
        Failed,       // anything else: no permission, chrony's queue full
    };

    virtual ~SampleSocket() = default;

    // The record that says: at `systemTime` on the computer's clock, the true time was
    // `systemTime + offset`. chrony's sample unless the receiver reads another format.
    virtual QByteArray encode(UtcTime systemTime, std::chrono::microseconds offset)
    {
        return ChronySample::encode(systemTime, offset);
    }

    // Sends one datagram; on anything but Sent, `reason` (when given) says why in words.
    virtual Result send(const QByteArray &datagram, QString *reason) = 0;
};
