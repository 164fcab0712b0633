#include "refclock/refclockservice.h"

#include "refclock/refclocklog.h"
#include "refclock/refclockoptions.h"
#include "serial/deviceserialport.h"

namespace {

std::function<void(const QString &)> lineTo(RefclockLog *log)
{
    return [log](const QString &line) { log->write(line); };
}

} // namespace

RefclockService::RefclockService(const RefclockOptions &options, Settings settings,
                                 SampleSink *sink, RefclockLog *log)
    : m_share(lineTo(log), settings.clientBuffer)
{
    auto device = std::make_unique<DeviceSerialPort>();
    if (options.devicePath.isEmpty())
        device->setCommPort(qint16(options.portNumber));
    else
        device->setDevicePath(options.devicePath);
    // The path the port number stood for at the open, as the window resolves it too.
    m_deviceName = [port = device.get()] { return port->deviceName(); };
    m_device = std::move(device);
    build(settings, sink, log, &ClockPair::now);
}

RefclockService::RefclockService(std::unique_ptr<SerialPort> device, const QString &deviceName,
                                 Settings settings, SampleSink *sink, RefclockLog *log,
                                 std::function<ClockPair()> clocks)
    : m_device(std::move(device)), m_deviceName([deviceName] { return deviceName; }),
      m_share(lineTo(log), settings.clientBuffer)
{
    build(settings, sink, log, std::move(clocks));
}

RefclockService::~RefclockService()
{
    stop();
}

void RefclockService::build(const Settings &settings, SampleSink *sink, RefclockLog *log,
                            std::function<ClockPair()> clocks)
{
    SerialPort *port = m_device.get();
    if (settings.share) {
        m_sharing = std::make_unique<SharingSerialPort>(m_device.get(), m_deviceName, &m_share);
        port = m_sharing.get();
    }
    m_clock = std::make_unique<ReferenceClock>(port, sink, log, settings.clock, std::move(clocks));
    m_poll.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_poll, &QTimer::timeout, &m_poll, [this] { m_clock->poll(); });
}

void RefclockService::start()
{
    m_poll.start(ReferenceClock::PollInterval);
    m_clock->poll();
}

void RefclockService::stop()
{
    m_poll.stop();
    m_share.withdraw(ShareProtocol::EndReason::ServiceStopping);
    m_clock->stop();
}
