// quorvel-refclock: the GPS clock device as a reference clock for chrony.

#include "core/terminationsignals.h"
#include "refclock/calibrationrun.h"
#include "refclock/refclocklog.h"
#include "refclock/refclockoptions.h"
#include "refclock/referenceclock.h"
#include "refclock/unixdatagramsocket.h"
#include "serial/deviceserialport.h"
#include "share/deviceshare.h"
#include "share/sharingserialport.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>

int main(int argc, char *argv[])
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
    StandardErrorLog log;
    if (options.calibrate) {
        QObject::connect(&termination, &TerminationSignals::received, &application,
                         [] { QCoreApplication::exit(1); });
        return runCalibration(options, &device, &log);
    }
    UnixDatagramSocket socket(options.socketPath);
    // What it reads is offered to local clients too: the window reads the device through it.
    DeviceShare share([&log](const QString &line) { log.write(line); });
    SharingSerialPort port(&device, &share);
    ReferenceClock clock(
        &port, &socket, &log,
        {options.zone, options.portLabel(), options.socketPath, options.verbose, options.delay});

    QTimer poll;
    poll.setTimerType(Qt::PreciseTimer);
    QObject::connect(&poll, &QTimer::timeout, &poll, [&clock] { clock.poll(); });
    QObject::connect(&termination, &TerminationSignals::received, &application,
                     [&log](int signalNumber) {
                         log.write(QCoreApplication::translate("quorvel-refclock", "Señal %1: fin.")
                                       .arg(signalNumber));
                         QCoreApplication::exit(0);
                     });
    poll.start(ReferenceClock::PollInterval);
    clock.poll(); // open the port now, not a poll from now

    const int status = QCoreApplication::exec();
    share.withdraw(ShareProtocol::EndReason::ServiceStopping);
    clock.stop();
    return status;
}
