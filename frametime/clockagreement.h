#pragma once

#include "core/monotonicclock.h"
#include "frametime/frametime.h"

#include <chrono>
#include <optional>

// Whether the device's clock advances with the computer's monotonic clock, frame by frame.
// Each frame that names an instant is compared with the last frame that agreed: the device
// time between the two must match the monotonic time between their arrivals within a quarter
// second. A frame that names the same time as the frame before it, a while later, means the
// device's clock stands still; any other mismatch is a jump. The device is trusted once three
// frames in a row agree (the first frame seen, or the first after reset(), agrees by itself),
// and again three frames after a mismatch. Comparing with the last frame that agreed, and not
// only with the one before, keeps a device that jumped and stays jumped out for good: it is
// trusted again only when its time comes back, or after reset() (a device plugged in anew).
// Until the device was first trusted, a mismatch starts the count anew from the newest frame,
// so that one bad frame at the start does not keep a good device out.
// A lasting correction is followed, within limits: when the device's clock jumped and then
// advances with the computer's from its new time, without a break, for `acceptStepAfter`
// (15 minutes, as ntpd waits before it believes a lasting step), that new time is the one
// agreed with from then on. A frame that names an instant before `earliest` (the program's
// build date: a flat backup battery, a receiver whose week number rolled over) is never
// agreed with, at the start or after a step.
// The refclock sends samples, and the window's offset line adds its note, by this one rule.
class ClockAgreement
{
public:
    static constexpr std::chrono::milliseconds Tolerance{250};
    static constexpr int FramesToAgree = 3;
    static constexpr std::chrono::minutes DefaultAcceptStepAfter{15};

    enum class State {
        Starting,    // fewer than three frames seen since the start, none disagreeing
        Agreeing,    // the last three frames agreed
        Jumped,      // a frame disagreed, and fewer than three agreed since
        Stopped,     // the same, the last mismatch the device's time standing still
        Implausible, // the last frame named an instant before `earliest`
    };

    explicit ClockAgreement(UtcTime earliest = buildDate(),
                            std::chrono::microseconds acceptStepAfter = DefaultAcceptStepAfter);

    // The day this program was built: no device time before it is believed.
    static UtcTime buildDate();

    // Takes one frame: the instant it names (`device`, nothing when it names none: ignored)
    // and the arrival of its "$" on the monotonic clock. Returns the state after it.
    State add(std::optional<UtcTime> device, MonotonicTime arrival);

    // Forgets every frame: the next one starts anew.
    void reset();

    State state() const { return m_state; }
    bool agrees() const { return m_state == State::Agreeing; }
    // Whether the last frames disagree: Jumped or Stopped.
    bool disagrees() const { return m_state == State::Jumped || m_state == State::Stopped; }
    // At a jump, how far the device's clock jumped (its time less the expected time).
    std::chrono::microseconds lastJump() const { return m_lastJump; }
    // After a jump, when (on the monotonic clock) the device's new time is followed if it
    // holds it without a break until then; nothing when no new time is being watched.
    std::optional<MonotonicTime> followsNewTimeAt() const;
    // How many times a new time was followed after a lasting step.
    int stepsFollowed() const { return m_stepsFollowed; }
    UtcTime earliest() const { return m_earliest; }
    std::chrono::microseconds acceptStepAfter() const { return m_acceptStepAfter; }

private:
    struct Reading
    {
        UtcTime device;
        MonotonicTime arrival;
    };

    // Whether `reading` advanced with the computer's clock since `from`; `mismatch` gets how far
    // it is off.
    static bool advancesFrom(const Reading &from, const Reading &reading,
                             std::chrono::microseconds *mismatch);
    // Takes a frame that disagrees with the time agreed with, after the device was trusted:
    // watches its new time; true when that time has now held long enough to be followed.
    bool watchNewTime(const Reading &reading);

    UtcTime m_earliest;
    std::chrono::microseconds m_acceptStepAfter;
    State m_state = State::Starting;
    std::optional<Reading> m_agreed; // the last frame that agreed
    // The device's new time after a jump: the first frame that named it and the newest.
    std::optional<Reading> m_newTimeSince;
    std::optional<Reading> m_newTimeLast;
    int m_stepsFollowed = 0;
    std::optional<UtcTime> m_previous; // the time the frame before named
    int m_agreeingInARow = 0;
    bool m_trusted = false; // three frames agreed since the start
    std::chrono::microseconds m_lastJump{0};
};
