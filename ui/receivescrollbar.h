#pragma once

#include <QScrollBar>

// The receive window's vertical scroll bar. It does not repaint for a new page or single step
// while there is nothing to scroll.
//
// The text box sets the page step to the number of lines in view, and that changes whenever
// the text wraps anew, which is on almost every frame. Each repaint of the bar also repaints
// what lies under it (the bar is not opaque): its container, the box's frame and the window
// background. With nothing to scroll (minimum equal to maximum) the handle fills the groove
// whatever the steps are, so the repaint would not change a pixel. Changes of range, value
// and orientation repaint as always, and a change of steps does as soon as there is something
// to scroll.
class ReceiveScrollBar : public QScrollBar
{
    Q_OBJECT

public:
    explicit ReceiveScrollBar(QWidget *parent = nullptr);

protected:
    void sliderChange(SliderChange change) override;
};
