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
// The refclock sends samples, and the window's offset line adds its note, by this one rule.
class ClockAgreement
{
public:
    static constexpr std::chrono::milliseconds Tolerance{250};
    static constexpr int FramesToAgree = 3;

    enum class State {
        Starting, // fewer than three frames seen since the start, none disagreeing
        Agreeing, // the last three frames agreed
        Jumped,   // a frame disagreed, and fewer than three agreed since
        Stopped,  // the same, the last mismatch the device's time standing still
    };

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

private:
    struct Reading
    {
        UtcTime device;
        MonotonicTime arrival;
    };

    State m_state = State::Starting;
    std::optional<Reading> m_agreed;   // the last frame that agreed
    std::optional<UtcTime> m_previous; // the time the frame before named
    int m_agreeingInARow = 0;
    bool m_trusted = false; // three frames agreed since the start
    std::chrono::microseconds m_lastJump{0};
};
