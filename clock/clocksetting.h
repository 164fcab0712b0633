#pragma once

#include "clock/clockbackend.h"
#include "core/frame.h"
#include "core/monotonicclock.h"
#include "core/usermessages.h"

#include <QObject>
#include <QString>
#include <QTimeZone>

#include <chrono>
#include <functional>
#include <optional>

// "Poner en hora el PC": sets the computer's clock from the latest frame, whose date and time
// the window shows. They are the device's local time when its second began, which was the
// line's character time and the device's delay before the frame's "$" arrived
// (frametime/frameinstant.h); the clock is set, in one change, to that time converted to
// universal time by the computer's time zone, plus that lateness, plus the time that has
// passed since the "$" arrived. Failures are told to the user in
// Spanish through `messages`; success shows nothing.
class ClockSetting : public QObject
{
    Q_OBJECT

public:
    // `monotonicNow` is the clock the frame's arrival was measured on, and `zone` gives the
    // time zone of the device's local time, asked at each setting; by default the computer's
    // own.
    ClockSetting(ClockBackend *backend, UserMessages *messages, QObject *parent = nullptr,
                 std::function<MonotonicTime()> monotonicNow = MonotonicClock::now,
                 std::function<QTimeZone()> zone = QTimeZone::systemTimeZone);

    // Sets the clock from `frame`. Does nothing when its time or date text is empty, or while
    // an earlier setting still waits for the system's answer. Before the first frame (no
    // frame) there is nothing valid to set, which the user is told.
    void setFromFrame(const std::optional<Frame> &frame);

    // Whether a setting waits for the system's answer.
    bool isBusy() const { return m_busy; }

    // The device's delay from the start of its second to its "$" (0 unless calibrated).
    void setDeviceDelay(std::chrono::nanoseconds delay) { m_delay = delay; }

signals:
    // A setting that was started has ended, successfully or not, and any message about it
    // has been shown. Not emitted when setFromShown() did nothing.
    void finished();

private:
    void onBackendFinished(ClockBackend::Outcome outcome, const QString &systemText);
    void fail(const QString &text);

    ClockBackend *m_backend;
    UserMessages *m_messages;
    std::function<MonotonicTime()> m_monotonicNow;
    std::function<QTimeZone()> m_zone;
    std::chrono::nanoseconds m_delay{0};
    bool m_busy = false;
};
