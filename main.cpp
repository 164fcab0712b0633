#include "clock/clocksetting.h"
#ifdef Q_OS_WIN
#include "clock/windowsclockbackend.h"
#endif
#include "core/terminationsignals.h"
#include "serial/deviceserialport.h"
#include "serial/portdevice.h"
#ifdef QUORVEL_SHARING
#include "share/serviceclientport.h"
#endif
#include "ui/applicationsetup.h"
#include "ui/caretblinktimeout.h"
#include "ui/form1.h"
#include "ui/usermessages.h"

#include <QApplication>
#include <QScreen>

int main(int argc, char *argv[])
{
#ifdef Q_OS_WIN
    // Started elevated by a window that is not, for one change of the clock: it is made, and
    // the program ends with its Windows error as the exit code, before any window exists.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    if (const std::optional<int> code = elevatedClockChange(arguments, systemWindowsClock()))
        return *code;
#endif
    QApplication app(argc, argv);
    installQtTranslation(&app); // before --help, which Qt words
    readCommandLine(app);       // --help, --version; ends the program on a bad argument
    addFontFallbacks();
    setApplicationIdentity();
    new CaretBlinkTimeout(&app); // owned by the application
#ifndef Q_OS_WIN
    // The system's serial ports, listed on a thread of their own while the window is made.
    PortListing::shared();
#endif

    DeviceSerialPort device;
#ifdef QUORVEL_SHARING
    // Through quorvel-refclock when it holds the device, else the device itself.
    ServiceOrDevicePort port(&device);
#else
    DeviceSerialPort &port = device;
#endif
    MessageBoxMessages messages;
    ClockSetting clock(createPlatformClockBackend(&app));
    Form1 window(&port, &messages, &clock);
    messages.setWindow(&window);

    // exit() and not quit(): quit() would first close the window, and closing the window
    // runs the closing handler a second time.
    bool ended = false;
    QObject::connect(&window, &Form1::programEndRequested, &app, [&ended] {
        ended = true;
        QCoreApplication::exit(0);
    });
    // Being asked to end (a logout, systemctl stop, Ctrl+C) closes the window as its close box
    // does: the port is closed, so that no lock file stays behind, and the program ends with
    // status 0.
    TerminationSignals endSignals;
    QObject::connect(&endSignals, &TerminationSignals::received, &window,
                     [&window] { window.close(); });

    if (const QScreen *screen = window.screen())
        window.move(screen->availableGeometry().center() - window.rect().center());
    window.Form_Load();
    if (ended) // asked to end while the port selection showed its message
        return 0;
    window.show();
    return QApplication::exec();
}
