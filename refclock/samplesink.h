#pragma once

#include "frametime/frametime.h"

#include <QString>

#include <chrono>
#include <optional>

// Where the reference clock's samples go: chrony's refclock SOCK socket (ChronySocket) on
// Linux, the Windows Time service provider's pipe (SamplePipeServer) on Windows, the delay's
// measurement while calibrating, a recording sink in tests. Sending never blocks.
class SampleSink
{
public:
    enum Result {
        Sent,
        NotListening, // nobody receives: no socket there, chrony or the provider not running
        Failed,       // anything else: no permission, the receiver's queue full
        Withheld,     // kept back on purpose: the service's calibration measures it instead
    };

    virtual ~SampleSink() = default;

    // Hands over one sample: at `systemTime` on the computer's clock, the true time was
    // `systemTime + offset`. On anything but Sent, `reason` (when given) says why in words.
    virtual Result send(UtcTime systemTime, std::chrono::microseconds offset, QString *reason) = 0;

    // Whether the receiver is connected now, where the sink can tell without sending (the
    // provider's pipe); nothing where it cannot.
    virtual std::optional<bool> receiverConnected() const { return std::nullopt; }
};
