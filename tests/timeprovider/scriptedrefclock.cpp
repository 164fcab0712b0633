// quorvel-refclock as the Windows service, with the device fed at the port interface
// (DeviceTimePort): the reference clock, the pipe server and the service code of the real
// program, for the chain test under wine.
//   scriptedrefclock --service OFFSET_US     what the service manager starts
#include "refclock/refclocklog.h"
#include "refclock/referenceclock.h"
#include "refclock/samplepipeserver.h"
#include "refclock/windowsservice.h"
#include "tests/timeprovider/devicetimeport.h"

#include <QCoreApplication>
#include <QTimer>

namespace {

int scriptedMain(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    const std::chrono::microseconds offset(arguments.value(1).toLongLong());
    DeviceTimePort port(offset);
    port.setCommPort(1);
    SamplePipeServer socket("COM1");
    // Beside the program, not in the real service's folder, which the installer test checks.
    FileLog log(QCoreApplication::applicationDirPath() + QStringLiteral("/scriptedrefclock.log"));
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
