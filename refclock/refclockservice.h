#pragma once

#include "frametime/clockpair.h"
#include "refclock/referenceclock.h"
#include "share/deviceshare.h"

#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

class RefclockLog;
class SampleSink;
class SerialPort;
struct RefclockOptions;

// quorvel-refclock built in one place, for the service, its calibration and the tests that run
// a scripted service: the device's serial port, offered to local clients (the window) while it
// is open, and the reference clock that reads it every 100 ms and hands its samples to a sink.
//
//   device --SerialPort--> SharingSerialPort --same bytes--> DeviceShare --> the window
//                             --> ReferenceClock --samples--> SampleSink: chrony, the Windows
//                                                             Time service's provider, ...
class RefclockService
{
public:
    struct Settings
    {
        ReferenceClock::Settings clock;
        bool share = true; // offer the device to local clients
        // Most bytes that may wait for one client before it is dropped.
        qint64 clientBuffer = DeviceShare::DefaultClientBuffer;
    };

    // Reads the device that `options` name (a port number or a path).
    RefclockService(const RefclockOptions &options, Settings settings, SampleSink *sink,
                    RefclockLog *log);
    // Reads `device`, a stand-in for the device, which it offers to clients as `deviceName`;
    // `clocks` reads the computer's clocks.
    RefclockService(std::unique_ptr<SerialPort> device, const QString &deviceName,
                    Settings settings, SampleSink *sink, RefclockLog *log,
                    std::function<ClockPair()> clocks = &ClockPair::now);
    ~RefclockService();
    RefclockService(const RefclockService &) = delete;
    RefclockService &operator=(const RefclockService &) = delete;

    // Opens the port now, not a poll from now, and polls it every 100 ms from then on.
    void start();
    // Stops polling, ends the clients' streams (the service is stopping) and closes the port.
    void stop();

    ReferenceClock &clock() { return *m_clock; }
    DeviceShare &share() { return m_share; }

private:
    void build(const Settings &settings, SampleSink *sink, RefclockLog *log,
               std::function<ClockPair()> clocks);

    std::unique_ptr<SerialPort> m_device;
    std::function<QString()> m_deviceName;
    DeviceShare m_share;
    std::unique_ptr<SharingSerialPort> m_sharing;
    std::unique_ptr<ReferenceClock> m_clock;
    QTimer m_poll;
};
