#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <chrono>

// How quorvel-refclock is keeping time, as it tells its clients (the window's line and
// quorvel-refclock --status) in the State messages of its state socket. Typed values only: the
// words are made where they are shown.
struct ServiceState
{
    enum class Port : quint8 { Unknown, Open, Missing, Lost };
    // The device's clock, as ClockAgreement judges it.
    enum class DeviceClock : quint8 { Starting, Agrees, Jumped, Stopped, Implausible };
    enum class DelaySource : quint8 {
        None,          // not calibrated: the samples carry the device's whole delay
        Calibrated,    // measured by the service (or --calibrate --save), on `calibratedAt`
        Administrator, // --delay in the service's settings
    };
    // chrony's view, from chronyc's tracking and sources.
    enum class Chrony : quint8 {
        Unknown,         // not asked yet
        NoChrony,        // chronyc found no chronyd (`chronyReference`: what it said)
        NotSynchronised, // chronyd keeps the clock from no source
        FollowsOther,    // chronyd follows `chronyReference`, a source other than the device
        FollowsDevice,   // chronyd follows the device
    };

    // Windows: whether the Time service's provider is connected to the samples' pipe.
    enum class Provider : quint8 { Unknown, Reading, Absent };

    std::chrono::microseconds delay{0};
    QDateTime calibratedAt; // UTC, with DelaySource::Calibrated
    qint64 samplesSent = 0;
    qint64 samplesDropped = 0;
    // chronyd's estimate of the device's offset (its latest sample, adjusted) and its error.
    std::chrono::nanoseconds chronyOffset{0};
    std::chrono::nanoseconds chronyError{0};
    QString device;     // the device's path
    QString portReason; // why the device is missing, in the service's words
    QString chronyReference;
    int calibrationFrames = 0; // measured so far, while calibrating
    Port port = Port::Unknown;
    DeviceClock deviceClock = DeviceClock::Starting;
    DelaySource delaySource = DelaySource::None;
    bool calibrating = false;
    Chrony chrony = Chrony::Unknown;
    bool deviceSeen = false;     // chronyd lists the device as a source
    bool deviceSelected = false; // ... and has selected it
    Provider provider = Provider::Unknown;
    // Measured over SNTP instead of chrony (Windows, --sntp-server): the server, whether its
    // latest measurement answered (`sntpReason`: why not), and how far the computer's clock
    // was behind it.
    QString sntpServer;
    QString sntpReason;
    bool sntpAnswered = false;
    std::chrono::microseconds sntpOffset{0};

    bool operator==(const ServiceState &other) const;
    bool operator!=(const ServiceState &other) const { return !(*this == other); }

    // The payload of a State message: "key=value" lines, UTF-8. Keys a reader does not know
    // are skipped, so that a later service may say more to an earlier window.
    QByteArray encode() const;
    static ServiceState decode(const QByteArray &payload);
};
