// quorvel-refclock as the Windows service, with the device fed at the port interface
// (DeviceTimePort): the real program's service, as RefclockService builds it (the reference
// clock, the device's sharing, the pipe server) and the service code, for the chain test under
// wine.
//   scriptedrefclock --service OFFSET_US     what the service manager starts
#include "refclock/refclocklog.h"
#include "refclock/refclockservice.h"
#include "refclock/samplepipeserver.h"
#include "refclock/windowsservice.h"
#include "tests/timeprovider/devicetimeport.h"

#include <QCoreApplication>

namespace {

int scriptedMain(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    const std::chrono::microseconds offset(arguments.value(1).toLongLong());
    // Beside the program, not in the real service's folder, which the installer test checks.
    FileLog log(QCoreApplication::applicationDirPath() + QStringLiteral("/scriptedrefclock.log"));
    auto port = std::make_unique<DeviceTimePort>(offset);
    port->open = false; // opened by the reference clock, as a real port is
    port->setCommPort(1);
    SamplePipeServer socket("COM1");
    RefclockService service(
        std::move(port), QStringLiteral("COM1"),
        {{QTimeZone::utc(), QStringLiteral("puerto 1"), SamplePipeServer::name(), true}}, &socket,
        &log);
    WindowsService::setStopHandler([] { QCoreApplication::exit(0); });
    WindowsService::reportRunning();
    service.start();
    const int status = QCoreApplication::exec();
    service.stop();
    return status;
}

} // namespace

int main(int argc, char *argv[])
{
    if (!WindowsService::requested(argc, argv))
        return 2;
    return WindowsService::run(argc, argv, &scriptedMain);
}
