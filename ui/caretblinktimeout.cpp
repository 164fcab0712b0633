#include "ui/caretblinktimeout.h"

#include <QApplication>
#include <QEvent>

namespace {

// The events by which a user shows that they are at the program again.
bool isUserInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::InputMethod:
    case QEvent::FocusIn:
        return true;
    default:
        return false;
    }
}

} // namespace

CaretBlinkTimeout::CaretBlinkTimeout(QObject *parent, std::chrono::milliseconds timeout)
    : QObject(parent), m_desktopFlashTime(QApplication::cursorFlashTime())
{
    if (m_desktopFlashTime <= 0)
        return;
    m_idle.setSingleShot(true);
    m_idle.setInterval(timeout);
    connect(&m_idle, &QTimer::timeout, this, &CaretBlinkTimeout::stopBlinking);
    QCoreApplication::instance()->installEventFilter(this);
    m_idle.start();
}

bool CaretBlinkTimeout::eventFilter(QObject *watched, QEvent *event)
{
    if (isUserInput(event->type())) {
        if (QApplication::cursorFlashTime() == 0) // stopped here
            QApplication::setCursorFlashTime(m_desktopFlashTime);
        m_idle.start();
    }
    return QObject::eventFilter(watched, event);
}

void CaretBlinkTimeout::stopBlinking()
{
    QApplication::setCursorFlashTime(0);
}
