// quorvel-screenshot: renders the main window, after it has shown one frame of a device whose
// clock runs 2.5 s ahead of the computer's, into a PNG.
//
//     QT_QPA_PLATFORM=offscreen quorvel-screenshot docs/screenshot.png

#include "tools/sim/frametext.h"
#include "tools/sim/scriptedserialport.h"
#include "ui/applicationsetup.h"
#include "ui/form1.h"
#include "ui/usermessages.h"

#include <QApplication>
#include <QDateTime>
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

constexpr int DeviceAheadMs = 2500;

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

    // A device whose clock is 2.5 s ahead of the computer's sends one frame and then stays
    // quiet: the "$" of the second it names came when its clock began that second.
    const MonotonicTime now = MonotonicClock::now();
    const QDateTime deviceNow = QDateTime::currentDateTime().addMSecs(DeviceAheadMs);
    const QDateTime second = deviceNow.addMSecs(-deviceNow.time().msec());
    const QString frameTime = second.toString(QStringLiteral("hh:mm:ss"));
    ScriptedSerialPort port;
    port.chunks = QStringList{QString::fromLatin1(frameText(second))};
    port.chunkArrival = {now - std::chrono::milliseconds(second.msecsTo(deviceNow))};
    ConsoleMessages messages;
    Form1 window(&port, &messages, nullptr);
    window.Form_Load();
    window.show();

    // Tick until the frame shows; a quiet tick after it takes it.
    const QLabel *time = window.findChild<QLabel *>(QStringLiteral("Label1"));
    for (int tick = 0; tick < 10 && time->text() != frameTime; ++tick)
        window.Timer1_Timer();
    if (time->text() != frameTime) {
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
