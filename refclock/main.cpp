// quorvel-refclock: the GPS clock device as a reference clock for chrony on Linux, and for the
// Windows Time service on Windows.

#include "core/terminationsignals.h"
#include "refclock/refclocklog.h"
#include "refclock/refclockoptions.h"
#include "refclock/refclockservice.h"

#include <QCoreApplication>

#include <cstdio>
#include <memory>

#include "refclock/calibration.h"
#include "refclock/statuscommand.h"

#ifdef Q_OS_WIN
#include "refclock/samplepipeserver.h"
#include "refclock/windowsservice.h"
#else
#include "refclock/chronysocket.h"
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

#ifdef Q_OS_WIN
    if (options.status)
        return runStatus();
    // The samples go to the Windows Time service's provider; the service's log to a file.
    std::unique_ptr<RefclockLog> logged;
    if (WindowsService::isRunning())
        logged = std::make_unique<FileLog>(WindowsService::logPath());
    else
        logged = std::make_unique<StandardErrorLog>();
    RefclockLog &log = *logged;
    // Nothing else keeps the computer's clock (the installer turns the Time service's NTP
    // client off): the device is calibrated against the server the Time service was set to.
    RefclockOptions calibrated = options;
    if (calibrated.sntpServer.isEmpty())
        calibrated.sntpServer = WindowsService::timeServiceServer();
    if (options.calibrate) {
        QObject::connect(&termination, &TerminationSignals::received, &application,
                         [] { QCoreApplication::exit(1); });
        return runCalibration(calibrated, &log);
    }
    SamplePipeServer socket("COM" + QByteArray::number(options.portNumber));
    const QString socketLabel = SamplePipeServer::name();
    const QString receiver =
        QCoreApplication::translate("quorvel-refclock", "El servicio de hora de Windows");
#else
    StandardErrorLog log;
    if (options.status)
        return runStatus();
    if (options.calibrate) {
        QObject::connect(&termination, &TerminationSignals::received, &application,
                         [] { QCoreApplication::exit(1); });
        return runCalibration(options, &log);
    }
    ChronySocket socket(options.socketPath);
    const QString socketLabel = options.socketPath;
    const QString receiver = QStringLiteral("chrony");
    const RefclockOptions &calibrated = options;
#endif
    // What it reads is offered to local clients too: the window reads the device through it.
    RefclockService::Settings settings{{options.zone, options.portLabel(), socketLabel,
                                        options.verbose, options.delay, receiver,
                                        options.acceptStepAfter}};
    // It calibrates itself unless the administrator gave --delay.
    settings.selfCalibrate = true;
    settings.delayGiven = options.delayGiven;
    settings.statePath =
        options.statePath.isEmpty() ? CalibrationState::defaultPath() : options.statePath;
    settings.chronyCommandSocket = options.chronyCommandSocket;
    settings.chronyInterval = options.chronyInterval;
    settings.sntpServer = calibrated.sntpServer;
    RefclockService service(options, settings, &socket, &log);
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
    service.start();
    const int status = QCoreApplication::exec();
    service.stop();
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
