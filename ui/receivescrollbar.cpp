#include "ui/receivescrollbar.h"

ReceiveScrollBar::ReceiveScrollBar(QWidget *parent) : QScrollBar(Qt::Vertical, parent) {}

void ReceiveScrollBar::sliderChange(SliderChange change)
{
    if (change == SliderStepsChange && minimum() == maximum())
        return;
    QScrollBar::sliderChange(change);
}
