#include "applicationidentity.h"
#include "caretblinktimeout.h"
#include "clocksetting.h"
#include "commandline.h"
#include "deviceserialport.h"
#include "fontfallbacks.h"
#include "form1.h"
#include "messageboxmessages.h"
#include "platformclockbackend.h"

#include <QApplication>
#include <QScreen>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    readCommandLine(app); // --help, --version; ends the program on a bad argument
    addFontFallbacks();
    setApplicationIdentity();
    new CaretBlinkTimeout(&app); // owned by the application

    DeviceSerialPort port;
    MessageBoxMessages messages;
    ClockSetting clock(createPlatformClockBackend(&app), &messages);
    Form1 window(&port, &messages, &clock);
    messages.setWindow(&window);

    // exit() and not quit(): quit() would first close the window, and closing the window
    // runs the closing handler a second time.
    QObject::connect(&window, &Form1::programEndRequested, &app, [] { QCoreApplication::exit(0); });

    if (const QScreen *screen = window.screen())
        window.move(screen->availableGeometry().center() - window.rect().center());
    window.start();
    window.show();
    return QApplication::exec();
}
