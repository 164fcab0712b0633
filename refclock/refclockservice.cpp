#include "refclock/refclockservice.h"

#include "refclock/refclocklog.h"
#include "refclock/refclockoptions.h"
#include "serial/deviceserialport.h"

#include "refclock/chronywatch.h"
#include "refclock/selfcalibration.h"
#include "refclock/sntp.h"

namespace {

std::function<void(const QString &)> lineTo(RefclockLog *log)
{
    return [log](const QString &line) { log->write(line); };
}

} // namespace

RefclockService::RefclockService(const RefclockOptions &options, const Settings &settings,
                                 SampleSink *sink, RefclockLog *log)
    : m_share(lineTo(log), settings.clientBuffer), m_stateShare(lineTo(log))
{
    auto device = std::make_unique<DeviceSerialPort>();
    if (options.devicePath.isEmpty())
        device->setCommPort(qint16(options.portNumber));
    else
        device->setDevicePath(options.devicePath);
    // The path the port number stood for at the open, as the window resolves it too.
    m_deviceName = [port = device.get(), path = options.devicePath] {
        const QString name = port->deviceName();
        return name.isEmpty() ? path : name;
    };
    m_device = std::move(device);
    build(settings, sink, log, &ClockPair::now);
}

RefclockService::RefclockService(std::unique_ptr<SerialPort> device, const QString &deviceName,
                                 const Settings &settings, SampleSink *sink, RefclockLog *log,
                                 std::function<ClockPair()> clocks)
    : m_device(std::move(device)), m_deviceName([deviceName] { return deviceName; }),
      m_share(lineTo(log), settings.clientBuffer), m_stateShare(lineTo(log))
{
    build(settings, sink, log, std::move(clocks));
}

void RefclockService::build(const Settings &settings, SampleSink *sink, RefclockLog *log,
                            std::function<ClockPair()> clocks)
{
    m_offerState = settings.share;
    m_delayGiven = settings.delayGiven;
    SerialPort *port = m_device.get();
    m_receiver = sink;
    if (settings.selfCalibrate) {
        const bool overSntp = !settings.sntpServer.isEmpty();
        SelfCalibration::Settings calibration{settings.statePath, std::nullopt, overSntp};
        if (settings.delayGiven)
            calibration.administratorDelay =
                std::chrono::duration_cast<std::chrono::microseconds>(settings.clock.delay);
        m_calibration = std::make_unique<SelfCalibration>(
            sink, log, calibration,
            [this](std::chrono::microseconds delay) { m_clock->setDelay(delay); });
        sink = m_calibration.get();
        if (overSntp)
            m_sntp = std::make_unique<SntpWatch>(
                settings.sntpServer, settings.chronyInterval,
                [this](const ChronyStatus &status) {
                    m_sntpView = status;
                    chronySaid(status);
                },
                [this] { return m_calibration->needsReference(); });
        else
            m_chrony = std::make_unique<ChronyWatch>(
                settings.chronyCommandSocket, settings.chronyInterval,
                [this](const ChronyWatch::Answer &answer) {
                    switch (answer.status.kind) {
                    case ChronyStatus::Synchronised:
                        m_chronyView = ServiceState::Chrony::FollowsOther;
                        break;
                    case ChronyStatus::NoChrony:
                        m_chronyView = ServiceState::Chrony::NoChrony;
                        break;
                    case ChronyStatus::NotSynchronised:
                        m_chronyView = ServiceState::Chrony::NotSynchronised;
                        break;
                    case ChronyStatus::FollowsDevice:
                        m_chronyView = ServiceState::Chrony::FollowsDevice;
                        break;
                    }
                    m_chronyReference = answer.status.reference;
                    m_chronyDevice = {answer.device.found, answer.device.selected,
                                      answer.device.offset, answer.device.error};
                    chronySaid(answer.status);
                });
    }
    if (settings.share) {
        m_sharing = std::make_unique<SharingSerialPort>(m_device.get(), m_deviceName, &m_share);
        port = m_sharing.get();
    }
    m_clock = std::make_unique<ReferenceClock>(port, sink, log, settings.clock, std::move(clocks));
    m_poll.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_poll, &QTimer::timeout, &m_poll, [this] { poll(); });
}

RefclockService::~RefclockService()
{
    stop();
}

void RefclockService::chronySaid(const ChronyStatus &status)
{
    m_calibration->setDevice(m_deviceName());
    m_calibration->chronySaid(status);
    m_stateShare.publish(state());
}

void RefclockService::start()
{
    m_poll.start(ReferenceClock::PollInterval);
    poll();
    if (m_calibration) {
        m_calibration->setDevice(m_deviceName());
        if (m_sntp)
            m_sntp->start();
        else
            m_chrony->start();
    }
}

void RefclockService::poll()
{
    m_clock->poll();
    // The device the port number stands for is known once it opened; another is calibrated
    // anew (the port is polled 10 times a second: reading the state file is for a change only).
    if (m_calibration && m_clock->portState() == ReferenceClock::PortState::Open)
        m_calibration->setDevice(m_deviceName());
    // The state socket for as long as it runs, once the device is named (a port number names
    // it at its first open).
    if (m_offerState && !m_stateShare.offered() && !m_deviceName().isEmpty())
        m_stateShare.offer(stateSocketPath(shareSocketPath(m_deviceName())), m_deviceName());
    if (m_stateShare.offered())
        m_stateShare.publish(state());
}

void RefclockService::stop()
{
    m_poll.stop();
    if (m_chrony)
        m_chrony->stop();
    if (m_sntp)
        m_sntp->stop();
    m_share.withdraw(ShareProtocol::EndReason::ServiceStopping);
    m_stateShare.withdraw();
    m_clock->stop();
}

ServiceState RefclockService::state() const
{
    ServiceState state;
    state.device = m_deviceName();
    switch (m_clock->portState()) {
    case ReferenceClock::PortState::Unknown:
        state.port = ServiceState::Port::Unknown;
        break;
    case ReferenceClock::PortState::Open:
        state.port = ServiceState::Port::Open;
        break;
    case ReferenceClock::PortState::Missing:
        state.port = ServiceState::Port::Missing;
        break;
    case ReferenceClock::PortState::Lost:
        state.port = ServiceState::Port::Lost;
        break;
    }
    state.portReason = m_clock->portReason();
    switch (m_clock->agreement()) {
    case ClockAgreement::State::Starting:
        state.deviceClock = ServiceState::DeviceClock::Starting;
        break;
    case ClockAgreement::State::Agreeing:
        state.deviceClock = ServiceState::DeviceClock::Agrees;
        break;
    case ClockAgreement::State::Jumped:
        state.deviceClock = ServiceState::DeviceClock::Jumped;
        break;
    case ClockAgreement::State::Stopped:
        state.deviceClock = ServiceState::DeviceClock::Stopped;
        break;
    case ClockAgreement::State::Implausible:
        state.deviceClock = ServiceState::DeviceClock::Implausible;
        break;
    }
    state.delay = std::chrono::duration_cast<std::chrono::microseconds>(m_clock->delay());
    state.delaySource =
        m_delayGiven ? ServiceState::DelaySource::Administrator : ServiceState::DelaySource::None;
    if (m_calibration) {
        state.delaySource = m_calibration->source();
        state.calibratedAt = m_calibration->calibratedAt();
        state.calibrating = m_calibration->calibrating();
        state.calibrationFrames = m_calibration->frames();
    }
    if (m_sntp) {
        state.sntpServer = m_sntp->server();
        if (m_sntpView) {
            state.sntpAnswered = m_sntpView->kind == ChronyStatus::Synchronised;
            state.sntpOffset = m_sntpView->clockOffset;
            state.sntpReason = state.sntpAnswered ? QString() : m_sntpView->reference;
        }
    }
    if (const std::optional<bool> reading = m_receiver->receiverConnected())
        state.provider =
            *reading ? ServiceState::Provider::Reading : ServiceState::Provider::Absent;
    state.samplesSent = m_clock->samplesSent();
    state.samplesDropped = m_clock->samplesDropped();
    state.chrony = m_chronyView;
    state.chronyReference = m_chronyReference;
    state.deviceSeen = m_chronyDevice.seen;
    state.deviceSelected = m_chronyDevice.selected;
    state.chronyOffset = m_chronyDevice.offset;
    state.chronyError = m_chronyDevice.error;
    return state;
}
