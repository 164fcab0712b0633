#pragma once

#include <QObject>
#include <QScrollBar>
#include <QString>

class QPlainTextEdit;

// The receive text as the receive window shows it: CR LF and lone CR or LF each as one line
// break.
QString displayTextOf(const QString &receiveText);

// The receive text back from what the user left in the receive window: every line break
// becomes CR LF, the line end the device sends.
QString receiveTextOf(const QString &displayText);

// Keeps a text box showing the receive text, and tells the user's edits of it.
//
// The box is written only when what it would show has changed, and then by appending when the
// new text merely continues the old one, so that a user selecting or editing in the box keeps
// caret and selection while the device sends. The newest text stays in view unless the user
// has scrolled back. Only the user's edits are told, never the writes made here. What the box
// shows is read back from its document, not kept beside it.
class ReceiveWindow : public QObject
{
    Q_OBJECT

public:
    explicit ReceiveWindow(QPlainTextEdit *box, QObject *parent = nullptr);

    // The receive text that the box shows: the text last shown, as it was told (a lone CR or LF
    // of the device stays one), or the box's content after the user's edit, with CR LF line
    // ends.
    QString receiveText() const { return m_lastTold; }

    // Shows `receiveText` in the box unless it shows it already.
    void show(const QString &receiveText);

signals:
    // The user has edited the box; `receiveText` is its whole new content, with CR LF line ends.
    void edited(const QString &receiveText);

private:
    QString displayed() const;
    void takeUserEdit();

    QPlainTextEdit *m_box;
    // The receive text last shown or edited, as told: the receiver's own, shared with it (Qt's
    // strings share their characters), so that an unchanged text costs a comparison only.
    QString m_lastTold;
    bool m_writing = false; // the box's changes are this object's own writes, not the user's
};

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
