#pragma once

#include <QObject>
#include <QTimer>

#include <chrono>

// Stops the text caret's blinking once the user has left the program alone for a while, as
// desktops do: a caret that blinks forever repaints the window twice a second for as long as
// the program runs, also when nobody looks at it.
//
// After `timeout` without user input the application's cursor flash time is set to 0, which
// leaves the caret shown and steady. The next key press, mouse press, wheel turn, input method
// event or focus change puts the desktop's own flash time (the one found at construction) back
// and starts counting again. Events are only looked at, never taken. When the desktop does
// not blink the caret in the first place, nothing is done at all.
class CaretBlinkTimeout : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds DefaultTimeout = std::chrono::seconds(10);

    explicit CaretBlinkTimeout(QObject *parent = nullptr,
                               std::chrono::milliseconds timeout = DefaultTimeout);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void stopBlinking();

    int m_desktopFlashTime;
    QTimer m_idle;
};
