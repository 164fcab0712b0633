#pragma once

#include "clock/clockbackend.h"
#include "core/frame.h"
#include "frametime/clockpair.h"

#include <QObject>
#include <QTimeZone>
#include <QTimer>

#include <chrono>
#include <functional>
#include <optional>

// "Poner en hora el PC": sets the computer's clock from the latest frame, whose date and time
// the window shows. They are the device's local time when its second began, which was the
// line's character time and the device's delay before the frame's "$" arrived
// (frametime/frametime.h); the device's time now is that time converted to universal time
// by the computer's time zone, plus that lateness, plus the time that has passed since the "$"
// arrived. The clock is moved, in one change, by
// the device's time minus the computer's, both as they stand at one instant: an offset that
// stays right however long the system takes to make the change. How it ended is handed back
// as a ClockBackend::Outcome and the system's own words, which the window puts into words.
class ClockSetting : public QObject
{
    Q_OBJECT

public:
    // `clocks` reads, together, the monotonic clock the frame's arrival was measured on and the
    // computer's clock; `zone` gives the time zone of the device's local time, asked at each
    // setting; by default the computer's own.
    // A setting whose answer has not come after this long is given up: the button works
    // again, and the answer, if it ever comes, is ignored.
    static constexpr std::chrono::minutes AnswerTimeout{5};

    explicit ClockSetting(ClockBackend *backend, QObject *parent = nullptr,
                          std::function<ClockPair()> clocks = ClockPair::now,
                          std::function<QTimeZone()> zone = QTimeZone::systemTimeZone,
                          std::chrono::milliseconds answerTimeout = AnswerTimeout);

    // Sets the clock from `frame`. Does nothing when its time or date text is empty, or while
    // an earlier setting still waits for the system's answer. Before the first frame (no
    // frame) there is no valid time to set.
    void setFromFrame(const std::optional<Frame> &frame);

    // The device's delay from the start of its second to its "$" (0 unless calibrated).
    void setDeviceDelay(std::chrono::nanoseconds delay) { m_delay = delay; }

signals:
    // A setting that was started has ended, successfully or not, as `outcome` says: Set,
    // NoValidTime, NoAnswer, or the backend's refusal with `systemText`, the system's own
    // description of it (empty when it gave none, and for any other outcome). Not emitted
    // when setFromFrame() did nothing.
    void finished(ClockBackend::Outcome outcome, const QString &systemText);

private:
    void onBackendFinished(ClockBackend::Outcome outcome, const QString &systemText);
    void giveUp();

    ClockBackend *m_backend;
    std::function<ClockPair()> m_clocks;
    std::function<QTimeZone()> m_zone;
    std::chrono::nanoseconds m_delay{0};
    bool m_busy = false;
    QTimer *m_answerTimer;
    // Requests given up whose answers have not come yet: the backend answers in turn, so the
    // next answers are theirs, not the current request's.
    int m_abandoned = 0;
};

// The real way of setting this system's clock: on Windows SetSystemTime; elsewhere
// systemd-timedated on the system bus, or, when it is not there, clock_settime for a process
// that holds the right. The backend changes the machine's clock: the program uses it, tests
// never do.
ClockBackend *createPlatformClockBackend(QObject *parent);
