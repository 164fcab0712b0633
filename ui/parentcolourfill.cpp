#include "ui/parentcolourfill.h"

#include <QEvent>
#include <QImage>
#include <QPalette>
#include <QWidget>

#include <utility>

ParentColourFill::ParentColourFill(QWidget *parent, const QList<QWidget *> &widgets)
    : QObject(parent), m_widgets(widgets)
{
    fill();
    parent->installEventFilter(this);
}

bool ParentColourFill::eventFilter(QObject *watched, QEvent *event)
{
    // The parent has its new palette or style here, before its children are told.
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange)
        fill();
    return QObject::eventFilter(watched, event);
}

void ParentColourFill::fill()
{
    auto *parent = static_cast<QWidget *>(this->parent());
    QImage parentAlone(parent->size(), QImage::Format_ARGB32_Premultiplied);
    parentAlone.fill(Qt::transparent);
    parent->render(&parentAlone, QPoint(), QRegion(), QWidget::DrawWindowBackground);
    for (QWidget *widget : std::as_const(m_widgets)) {
        QPalette palette = widget->palette();
        palette.setColor(widget->backgroundRole(),
                         parentAlone.pixelColor(widget->geometry().center()));
        widget->setPalette(palette);
    }
}
