#pragma once

#include <QList>
#include <QObject>

class QWidget;

// Gives widgets that fill their own background (autoFillBackground) the colour that their
// parent paints under them, so that they look exactly as if they let the parent show through.
//
// A widget that does not fill its background makes Qt repaint its parent under it whenever it
// changes; one that fills it spares the parent. But the parent is not always the window colour
// where the widgets lie (the Fusion style draws a group box a shade darker inside), so the
// colour is taken from the parent as it paints itself, without children, at each widget's
// centre: once at construction, and again whenever the parent's palette or style changes.
//
// Belongs to the parent; the widgets are the parent's children.
class ParentColourFill : public QObject
{
public:
    ParentColourFill(QWidget *parent, const QList<QWidget *> &widgets);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void fill();

    QList<QWidget *> m_widgets;
};
