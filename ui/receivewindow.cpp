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
    : QObject(parent), m_box(box), m_lastTold(receiveTextOf(displayed()))
{
    connect(m_box, &QPlainTextEdit::textChanged, this, &ReceiveWindow::takeUserEdit);
}

QString ReceiveWindow::displayed() const
{
    // The document's characters as written, line breaks as LF. toPlainText() would also turn
    // a no-break space (a byte the device may send) into a space, and the text shown would
    // then never seem to continue what was written.
    QString text = m_box->document()->toRawText();
    text.replace(QChar::ParagraphSeparator, u'\n');
    return text;
}

void ReceiveWindow::show(const QString &receiveText)
{
    // Most ticks bring nothing new: an unchanged text ends here, without reading the document.
    if (receiveText == m_lastTold)
        return;
    m_lastTold = receiveText;
    const QString displayText = displayTextOf(receiveText);
    const QString shown = displayed();
    if (displayText == shown)
        return;

    QScrollBar *scrollBar = m_box->verticalScrollBar();
    bool showEnd = scrollBar->value() == scrollBar->maximum();
    m_writing = true;
    if (displayText.startsWith(shown)) {
        // Appended behind the user's caret and selection, which stay where they are.
        QTextCursor end(m_box->document());
        end.movePosition(QTextCursor::End);
        end.insertText(displayText.mid(shown.size()));
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
    if (showEnd)
        scrollBar->setValue(scrollBar->maximum());
}

void ReceiveWindow::takeUserEdit()
{
    if (m_writing)
        return;
    m_lastTold = receiveTextOf(displayed());
    emit edited(m_lastTold);
}

ReceiveScrollBar::ReceiveScrollBar(QWidget *parent) : QScrollBar(Qt::Vertical, parent) {}

void ReceiveScrollBar::sliderChange(SliderChange change)
{
    if (change == SliderStepsChange && minimum() == maximum())
        return;
    QScrollBar::sliderChange(change);
}
