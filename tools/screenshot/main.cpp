// quorvel-screenshot: renders the main window, after it has shown one frame, into a PNG.
//
//     QT_QPA_PLATFORM=offscreen quorvel-screenshot docs/screenshot.png

#include "fontfallbacks.h"
#include "form1.h"
#include "scriptedserialport.h"
#include "usermessages.h"

#include <QApplication>
#include <QLabel>
#include <QPixmap>
#include <QTextStream>

#include <cstdio>

namespace {

// Messages go to the console: nothing may wait for a click here.
class ConsoleMessages : public UserMessages
{
public:
    void show(const QString &text) override { QTextStream(stderr) << text << Qt::endl; }
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    addFontFallbacks();
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() != 2) {
        QTextStream(stderr) << "usage: quorvel-screenshot <file.png>" << Qt::endl;
        return 2;
    }

    // A device that sends one frame and then stays quiet.
    ScriptedSerialPort port;
    port.chunks = QStringList{QStringLiteral("$12:00:00,06/15/2007,5,1\r\n")};
    ConsoleMessages messages;
    Form1 window(&port, &messages, nullptr);
    window.start();
    window.show();

    // Tick until the frame shows; a quiet tick after it takes it.
    const QLabel *time = window.findChild<QLabel *>(QStringLiteral("Label1"));
    for (int tick = 0; tick < 10 && time->text() != QLatin1String("12:00:00"); ++tick)
        window.poll();
    if (time->text() != QLatin1String("12:00:00")) {
        QTextStream(stderr) << "the frame did not show" << Qt::endl;
        return 1;
    }
    QApplication::processEvents();

    if (!window.grab().save(arguments.at(1), "PNG")) {
        QTextStream(stderr) << "cannot write " << arguments.at(1) << Qt::endl;
        return 1;
    }
    return 0;
}
