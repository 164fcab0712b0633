// bare-window: the yardstick of the idle-cost benchmark. A Qt Widgets window of Quorvel's size
// with a timer that fires every 100 ms and does nothing: what any such program costs.

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <chrono>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("bare window"));
    window.resize(421, 332);
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, &window, [] {});
    timer.start(std::chrono::milliseconds(100));
    window.show();
    return QApplication::exec();
}
