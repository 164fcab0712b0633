#include "tests/support/paintcounter.h"

PaintCounter::PaintCounter(QWidget *widget) : QObject(widget)
{
    widget->installEventFilter(this);
}

bool PaintCounter::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Paint)
        ++count;
    return QObject::eventFilter(watched, event);
}
