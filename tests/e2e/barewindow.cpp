// bare-window: the yardstick of the idle-cost benchmark. A Qt Widgets window of Quorvel's size
// with a timer that fires every 100 ms and does nothing: what any such program costs.
//
// With --clock-label the window also shows a label in Quorvel's time font whose text changes
// once a second: what showing a clock costs and nothing else, for comparison.

#include <QApplication>
#include <QLabel>
#include <QTime>
#include <QTimer>
#include <QWidget>

#include <chrono>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const bool clockLabel = QCoreApplication::arguments().contains(QStringLiteral("--clock-label"));
    QWidget window;
    window.setWindowTitle(QStringLiteral("bare window"));
    window.resize(421, 332);
    QLabel label(&window);
    label.setGeometry(17, 81, 159, 39);
    QFont font = label.font();
    font.setPointSize(24);
    label.setFont(font);
    label.setVisible(clockLabel);

    QTimer timer;
    int ticks = 0;
    QObject::connect(&timer, &QTimer::timeout, &window, [&] {
        if (clockLabel && ++ticks % 10 == 0)
            label.setText(QTime::currentTime().toString(QStringLiteral("hh:mm:ss")));
    });
    timer.start(std::chrono::milliseconds(100));
    window.show();
    return QApplication::exec();
}
