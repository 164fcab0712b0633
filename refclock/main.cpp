// quorvel-refclock: the GPS clock device as a reference clock for chrony.

#include "core/terminationsignals.h"
#include "refclock/refclocklog.h"
#include "refclock/refclockoptions.h"
#include "refclock/referenceclock.h"
#include "refclock/unixdatagramsocket.h"
#include "serial/deviceserialport.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>

#ifdef Q_OS_WIN
#include "refclock/samplepipeserver.h"
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
        std::fprintf(stderr, "quorvel-refclock: %s\n%s\n", qPrintable(parsed.error),
                     qPrintable(QCoreApplication::translate("quorvel-refclock",
                                                            "Pruebe quorvel-refclock --help.")));
        return 2;
    }
    const RefclockOptions &options = parsed.options;

    DeviceSerialPort port;
    if (options.devicePath.isEmpty())
        port.setCommPort(qint16(options.portNumber));
    else
        port.setDevicePath(options.devicePath);
#ifdef Q_OS_WIN
    // The samples go to the Windows Time service's provider.
    SamplePipeServer socket("COM" + QByteArray::number(options.portNumber));
    const QString socketLabel = SamplePipeServer::name();
    StandardErrorLog log;
#else
    UnixDatagramSocket socket(options.socketPath);
    const QString socketLabel = options.socketPath;
    StandardErrorLog log;
#endif
    ReferenceClock clock(
        &port, &socket, &log,
        {options.zone, options.portLabel(), socketLabel, options.verbose, options.dateAtPoll});

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
    clock.stop();
    return status;
}

} // namespace

int main(int argc, char *argv[])
{
    return refclockMain(argc, argv);
}
