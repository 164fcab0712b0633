// quorvel-refclock: the GPS clock device as a reference clock for chrony on Linux, and for the
// Windows Time service on Windows.

#include "core/terminationsignals.h"
#include "refclock/refclocklog.h"
#include "refclock/refclockoptions.h"
#include "refclock/referenceclock.h"
#include "serial/deviceserialport.h"
#include "share/deviceshare.h"
#include "share/sharingserialport.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>
#include <memory>

#ifdef Q_OS_WIN
#include "refclock/samplepipeserver.h"
#include "refclock/windowsservice.h"
#else
#include "refclock/calibrationrun.h"
#include "refclock/unixdatagramsocket.h"
#endif

namespace {

int refclockMain(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quorvel-refclock"));
    // Before anything is opened, so that a signal from now on ends the program cleanly.
    TerminationSignals termination;

    const ParsedRefclockOptions parsed = parseRefclockOptions(QCoreApplication::arguments());
    if (parsed.help) {
        std::fputs(qPrintable(parsed.helpText), stdout);
        return 0;
    }
    if (!parsed.error.isEmpty()) {
#ifdef Q_OS_WIN
        if (WindowsService::isRunning())
            FileLog(WindowsService::logPath()).write(parsed.error);
#endif
        std::fprintf(stderr, "quorvel-refclock: %s\n%s\n", qPrintable(parsed.error),
                     qPrintable(QCoreApplication::translate("quorvel-refclock",
                                                            "Pruebe quorvel-refclock --help.")));
        return 2;
    }
    const RefclockOptions &options = parsed.options;

    DeviceSerialPort device;
    if (options.devicePath.isEmpty())
        device.setCommPort(qint16(options.portNumber));
    else
        device.setDevicePath(options.devicePath);
#ifdef Q_OS_WIN
    // The samples go to the Windows Time service's provider; the service's log to a file.
    SamplePipeServer socket("COM" + QByteArray::number(options.portNumber));
    const QString socketLabel = SamplePipeServer::name();
    std::unique_ptr<RefclockLog> logged;
    if (WindowsService::isRunning())
        logged = std::make_unique<FileLog>(WindowsService::logPath());
    else
        logged = std::make_unique<StandardErrorLog>();
    RefclockLog &log = *logged;
    if (options.calibrate) {
        log.write(QCoreApplication::translate(
            "quorvel-refclock",
            "--calibrate compara el dispositivo con chrony, que solo hay en Linux."));
        return 2;
    }
    const QString receiver =
        QCoreApplication::translate("quorvel-refclock", "El servicio de hora de Windows");
#else
    StandardErrorLog log;
    if (options.calibrate) {
        QObject::connect(&termination, &TerminationSignals::received, &application,
                         [] { QCoreApplication::exit(1); });
        return runCalibration(options, &device, &log);
    }
    UnixDatagramSocket socket(options.socketPath);
    const QString socketLabel = options.socketPath;
    const QString receiver = QStringLiteral("chrony");
#endif
    // What it reads is offered to local clients too: the window reads the device through it.
    DeviceShare share([&log](const QString &line) { log.write(line); });
    SharingSerialPort port(&device, &share);
    ReferenceClock clock(
        &port, &socket, &log,
        {options.zone, options.portLabel(), socketLabel, options.verbose, options.delay, receiver});

    QTimer poll;
    poll.setTimerType(Qt::PreciseTimer);
    QObject::connect(&poll, &QTimer::timeout, &poll, [&clock] { clock.poll(); });
    QObject::connect(&termination, &TerminationSignals::received, &application,
                     [&log](int signalNumber) {
                         log.write(QCoreApplication::translate("quorvel-refclock", "Señal %1: fin.")
                                       .arg(signalNumber));
                         QCoreApplication::exit(0);
                     });
#ifdef Q_OS_WIN
    if (WindowsService::isRunning()) {
        WindowsService::setStopHandler([&log] {
            log.write(QCoreApplication::translate(
                "quorvel-refclock", "El Administrador de servicios de Windows pide parar: fin."));
            QCoreApplication::exit(0);
        });
        log.write(QCoreApplication::translate("quorvel-refclock",
                                              "Servicio quorvel-refclock iniciado (%1).")
                      .arg(options.portLabel()));
        WindowsService::reportRunning();
    }
#endif
    poll.start(ReferenceClock::PollInterval);
    clock.poll(); // open the port now, not a poll from now

    const int status = QCoreApplication::exec();
    share.withdraw(ShareProtocol::EndReason::ServiceStopping);
    clock.stop();
    return status;
}

} // namespace

int main(int argc, char *argv[])
{
#ifdef Q_OS_WIN
    if (WindowsService::requested(argc, argv))
        return WindowsService::run(argc, argv, &refclockMain);
#endif
    return refclockMain(argc, argv);
}
