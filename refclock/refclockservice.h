#pragma once

#include "frametime/clockpair.h"
#include "refclock/chronystatus.h"
#include "refclock/referenceclock.h"
#include "share/deviceshare.h"
#include "share/servicestate.h"
#include "share/stateshare.h"

#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class ChronyWatch;
class RefclockLog;
class SampleSink;
class SelfCalibration;
class SntpWatch;
class SerialPort;
struct RefclockOptions;

// quorvel-refclock built in one place, for the service, its calibration and the tests that run
// a scripted service: the device's serial port, offered to local clients (the window) while it
// is open, and the reference clock that reads it every 100 ms and hands its samples to a sink.
//
//   device --SerialPort--> SharingSerialPort --same bytes--> DeviceShare --> the window
//                             --> ReferenceClock --samples--> SampleSink: chrony, the Windows
//                                                             Time service's provider, ...
//
// With `selfCalibrate`, the samples pass through SelfCalibration on their way to the sink, and
// chrony is asked how it keeps the clock (ChronyWatch) at the start and every `chronyInterval`;
// with an `sntpServer` (always on Windows), the computer's clock is measured against that
// server instead (SntpWatch), as often, for as long as the device needs calibrating. Its state
// (ServiceState) is offered to local clients for as long as it runs, on the device's state socket
// beside the device's own. chronyd's view of the device, as ChronyWatch last heard it.
struct ChronyDeviceView
{
    bool seen = false;
    bool selected = false;
    std::chrono::nanoseconds offset{0};
    std::chrono::nanoseconds error{0};
};

class RefclockService
{
public:
    struct Settings
    {
        ReferenceClock::Settings clock;
        bool share = true; // offer the device to local clients
        // Most bytes that may wait for one client before it is dropped.
        qint64 clientBuffer = DeviceShare::DefaultClientBuffer;
        // Calibrate the device when it has no delay (SelfCalibration). clock.delay is then the
        // administrator's --delay, or unset: `delayGiven` says which.
        bool selfCalibrate = false;
        bool delayGiven = false;
        QString statePath{};           // CalibrationState's file
        QString chronyCommandSocket{}; // chronyc's -h; empty: its default
        std::chrono::milliseconds chronyInterval{60000};
        QString sntpServer{}; // measure against it over SNTP instead of asking chrony
    };

    // Reads the device that `options` name (a port number or a path).
    RefclockService(const RefclockOptions &options, const Settings &settings, SampleSink *sink,
                    RefclockLog *log);
    // Reads `device`, a stand-in for the device, which it offers to clients as `deviceName`;
    // `clocks` reads the computer's clocks.
    RefclockService(std::unique_ptr<SerialPort> device, const QString &deviceName,
                    const Settings &settings, SampleSink *sink, RefclockLog *log,
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
    StateShare &stateShare() { return m_stateShare; }
    // The device's path: as given, or the one the port number stood for.
    QString deviceName() const { return m_deviceName(); }
    // How it keeps time now.
    ServiceState state() const;

private:
    void build(const Settings &settings, SampleSink *sink, RefclockLog *log,
               std::function<ClockPair()> clocks);
    void poll();

    std::unique_ptr<SerialPort> m_device;
    std::function<QString()> m_deviceName;
    DeviceShare m_share;
    std::unique_ptr<SharingSerialPort> m_sharing;
    void chronySaid(const ChronyStatus &status);

    SampleSink *m_receiver = nullptr; // chrony's socket or the provider's pipe
    std::unique_ptr<SelfCalibration> m_calibration;
    std::unique_ptr<ReferenceClock> m_clock;
    std::unique_ptr<ChronyWatch> m_chrony;
    std::unique_ptr<SntpWatch> m_sntp;
    StateShare m_stateShare;
    bool m_offerState = true;
    bool m_delayGiven = false;
    ServiceState::Chrony m_chronyView = ServiceState::Chrony::Unknown;
    QString m_chronyReference;
    ChronyDeviceView m_chronyDevice;
    std::optional<ChronyStatus> m_sntpView; // the latest SNTP measurement
    QTimer m_poll;
};
