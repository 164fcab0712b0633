#include "ui/receivewindow.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>

QString displayTextOf(const QString &receiveText)
{
    // The text box keeps no CR: it would turn each into a line break of its own, and CR LF
    // into two of them.
    QString text = receiveText;
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(u'\r', u'\n');
    return text;
}

QString receiveTextOf(const QString &displayText)
{
    QString text = displayText;
    text.replace(u'\n', QLatin1String("\r\n"));
    return text;
}

ReceiveWindow::ReceiveWindow(QPlainTextEdit *box, QObject *parent)
    : QObject(parent), m_box(box), m_displayText(box->toPlainText())
{
    m_receiveText = receiveTextOf(m_displayText);
    connect(m_box, &QPlainTextEdit::textChanged, this, &ReceiveWindow::takeUserEdit);
}

void ReceiveWindow::show(const QString &receiveText)
{
    if (receiveText == m_receiveText)
        return;
    m_receiveText = receiveText;
    const QString displayText = displayTextOf(receiveText);
    if (displayText == m_displayText)
        return;

    QScrollBar *scrollBar = m_box->verticalScrollBar();
    bool showEnd = scrollBar->value() == scrollBar->maximum();
    m_writing = true;
    if (displayText.startsWith(m_displayText)) {
        // Appended behind the user's caret and selection, which stay where they are.
        QTextCursor end(m_box->document());
        end.movePosition(QTextCursor::End);
        end.insertText(displayText.mid(m_displayText.size()));
    } else {
        // A frame was taken: the text is a new one. Keep the caret near where it was.
        const int caret = m_box->textCursor().position();
        m_box->setPlainText(displayText);
        QTextCursor cursor = m_box->textCursor();
        cursor.setPosition(std::min(caret, m_box->document()->characterCount() - 1));
        m_box->setTextCursor(cursor);
        showEnd = true;
    }
    m_writing = false;
    m_displayText = displayText;
    if (showEnd)
        scrollBar->setValue(scrollBar->maximum());
}

void ReceiveWindow::takeUserEdit()
{
    if (m_writing)
        return;
    m_displayText = m_box->toPlainText();
    m_receiveText = receiveTextOf(m_displayText);
    emit edited(m_receiveText);
}
