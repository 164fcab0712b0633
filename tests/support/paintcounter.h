#pragma once

#include <QEvent>
#include <QObject>
#include <QWidget>

// Counts the paint events that a widget receives, for tests of what a change repaints. It
// belongs to the widget and only looks at its events.
class PaintCounter : public QObject
{
public:
    explicit PaintCounter(QWidget *widget);

    int count = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};
