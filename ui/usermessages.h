#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

#include <memory>

class QMessageBox;

// Modal messages to the user: a text with a single OK button, no icon and no title of its
// own. show() returns once the user has dismissed the message. The window passes a real
// message box; tests pass a recorder so that nothing ever blocks.
class UserMessages
{
public:
    virtual ~UserMessages() = default;
    virtual void show(const QString &text) = 0;
};

// Messages shown in modal message boxes: the text, an OK button, no icon, and as title only
// the program's name (the title every message box of the program has).
class MessageBoxMessages : public UserMessages
{
public:
    // `window` is the window the boxes belong to and are centred on; it may be set later.
    explicit MessageBoxMessages(QWidget *window = nullptr);

    void setWindow(QWidget *window) { m_window = window; }

    // Shows `text` and returns once the user has dismissed it.
    void show(const QString &text) override;

    // The box that show() runs for `text`.
    std::unique_ptr<QMessageBox> createBox(const QString &text) const;

private:
    QPointer<QWidget> m_window;
};
