#include "ui/usermessages.h"

#include <QGuiApplication>
#include <QMessageBox>

MessageBoxMessages::MessageBoxMessages(QWidget *window) : m_window(window) {}

void MessageBoxMessages::show(const QString &text)
{
    const std::unique_ptr<QMessageBox> box = createBox(text);
    box->exec();
}

std::unique_ptr<QMessageBox> MessageBoxMessages::createBox(const QString &text) const
{
    // A label shows a CR as a character of its own; the line break is the LF.
    QString shown = text;
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    auto box = std::make_unique<QMessageBox>(QMessageBox::NoIcon,
                                             QGuiApplication::applicationDisplayName(), shown,
                                             QMessageBox::Ok, m_window.data());
    box->setTextFormat(Qt::PlainText);
    return box;
}
