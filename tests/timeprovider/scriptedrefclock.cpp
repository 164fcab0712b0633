// quorvel-refclock as the Windows service, with the device fed at the port interface
// (DeviceTimePort): the reference clock, the pipe server, the device's sharing and the service
// code of the real program, for the chain test under wine.
//   scriptedrefclock --service OFFSET_US     what the service manager starts
#include "refclock/refclocklog.h"
#include "refclock/referenceclock.h"
#include "refclock/samplepipeserver.h"
#include "refclock/windowsservice.h"
#include "share/deviceshare.h"
#include "tests/timeprovider/devicetimeport.h"

#include <QCoreApplication>
#include <QTimer>

namespace {

// The device offered to the window as the real program's SharingSerialPort offers it: from
// the open on, every read.
class SharedDeviceTimePort : public DeviceTimePort
{
public:
    SharedDeviceTimePort(std::chrono::microseconds offset, DeviceShare *share)
        : DeviceTimePort(offset), m_share(share)
    {
    }

    int setPortOpen(bool open) override
    {
        const int result = DeviceTimePort::setPortOpen(open);
        if (open && result == SerialOk)
            m_share->offer(QStringLiteral("COM1"));
        return result;
    }

    int input(QList<ReceivedChunk> *received) override
    {
        const int result = DeviceTimePort::input(received);
        if (result == SerialOk)
            m_share->publish(*received);
        return result;
    }

private:
    DeviceShare *m_share;
};

int scriptedMain(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    const std::chrono::microseconds offset(arguments.value(1).toLongLong());
    // Beside the program, not in the real service's folder, which the installer test checks.
    FileLog log(QCoreApplication::applicationDirPath() + QStringLiteral("/scriptedrefclock.log"));
    DeviceShare share([&log](const QString &line) { log.write(line); });
    SharedDeviceTimePort port(offset, &share);
    port.open = false; // opened by the reference clock, as a real port is
    port.setCommPort(1);
    SamplePipeServer socket("COM1");
    ReferenceClock clock(
        &port, &socket, &log,
        {QTimeZone::utc(), QStringLiteral("puerto 1"), SamplePipeServer::name(), true});
    QTimer poll;
    poll.setTimerType(Qt::PreciseTimer);
    QObject::connect(&poll, &QTimer::timeout, &poll, [&clock] { clock.poll(); });
    WindowsService::setStopHandler([] { QCoreApplication::exit(0); });
    WindowsService::reportRunning();
    poll.start(ReferenceClock::PollInterval);
    return QCoreApplication::exec();
}

} // namespace

int main(int argc, char *argv[])
{
    if (!WindowsService::requested(argc, argv))
        return 2;
    return WindowsService::run(argc, argv, &scriptedMain);
}
