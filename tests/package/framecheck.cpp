// quorvel-framecheck: tells whether a picture of the main window shows a device frame whose
// time lies in a given range. The picture comes from another process, such as the installed
// program under the minimal platform plugin with QT_DEBUG_BACKINGSTORE=1, which saves every
// repaint of the window as outputNNNN.png. For each second of the range this renders the
// window itself after a frame of that second, and compares the four value labels (time,
// date, weekday, summer) pixel by pixel with the picture.
//
//     quorvel-framecheck <picture.png> <from> <to>      (device times, yyyy-MM-ddThh:mm:ss)
//
// Exit status 0 and the frame's time on stdout when one second matches; 1 when none does;
// 2 for a bad command line or an unreadable picture. Run it under the same platform plugin
// as the program that saved the picture, so that the text is rendered alike.

#include "fontfallbacks.h"
#include "form1.h"
#include "scriptedserialport.h"
#include "usermessages.h"

#include <QApplication>
#include <QDateTime>
#include <QImage>
#include <QLabel>
#include <QTextStream>

namespace {

class ConsoleMessages : public UserMessages
{
public:
    void show(const QString &text) override { QTextStream(stderr) << text << Qt::endl; }
};

const QStringList ValueLabels = {QStringLiteral("Label1"), QStringLiteral("Label3"),
                                 QStringLiteral("Label5"), QStringLiteral("Label7")};

QString frameOf(const QDateTime &second)
{
    return QStringLiteral("$%1,%2,%3,%4\r\n")
        .arg(second.toString(QStringLiteral("hh:mm:ss")),
             second.toString(QStringLiteral("MM/dd/yyyy")))
        .arg(second.date().dayOfWeek())
        .arg(second.isDaylightTime() ? 1 : 0);
}

// Whether the value labels of the window, after `frame`, look in `picture` as they do here.
bool labelsMatch(const QString &frame, const QImage &picture)
{
    ScriptedSerialPort port;
    port.chunks = QStringList{frame};
    ConsoleMessages messages;
    Form1 window(&port, &messages, nullptr);
    window.start();
    const QLabel *time = window.findChild<QLabel *>(ValueLabels.constFirst());
    const QString expected = frame.mid(1, 8);
    for (int tick = 0; tick < 10 && time->text() != expected; ++tick)
        window.poll();
    if (time->text() != expected)
        return false;
    const QImage rendered = window.grab().toImage().convertToFormat(QImage::Format_RGB32);
    for (const QString &name : ValueLabels) {
        const QLabel *label = window.findChild<QLabel *>(name);
        const QRect area(label->mapTo(&window, QPoint(0, 0)), label->size());
        if (!picture.rect().contains(area) || picture.copy(area) != rendered.copy(area))
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    addFontFallbacks(); // as the program does
    const QStringList arguments = QApplication::arguments();
    const QString format = QStringLiteral("yyyy-MM-ddThh:mm:ss");
    if (arguments.size() != 4) {
        QTextStream(stderr) << "usage: quorvel-framecheck <picture.png> <from> <to>" << Qt::endl;
        return 2;
    }
    const QImage picture = QImage(arguments.at(1)).convertToFormat(QImage::Format_RGB32);
    const QDateTime from = QDateTime::fromString(arguments.at(2), format);
    const QDateTime to = QDateTime::fromString(arguments.at(3), format);
    if (picture.isNull() || !from.isValid() || !to.isValid() || from.secsTo(to) > 600) {
        QTextStream(stderr) << "quorvel-framecheck: bad picture or range" << Qt::endl;
        return 2;
    }
    for (QDateTime second = from; second <= to; second = second.addSecs(1)) {
        const QString frame = frameOf(second);
        if (labelsMatch(frame, picture)) {
            QTextStream(stdout) << frame.trimmed() << Qt::endl;
            return 0;
        }
    }
    QTextStream(stderr) << "quorvel-framecheck: the picture shows no frame from " << arguments.at(2)
                        << " to " << arguments.at(3) << Qt::endl;
    return 1;
}
