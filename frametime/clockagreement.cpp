#include "frametime/clockagreement.h"

using std::chrono::microseconds;

ClockAgreement::State ClockAgreement::add(std::optional<UtcTime> device, MonotonicTime arrival)
{
    if (!device)
        return m_state;
    const std::optional<UtcTime> previous = m_previous;
    m_previous = device;
    if (!m_agreed) {
        m_agreed = Reading{*device, arrival};
        m_agreeingInARow = 1;
        return m_state;
    }
    const microseconds deviceStep = *device - m_agreed->device;
    const microseconds monotonicStep =
        std::chrono::duration_cast<microseconds>(arrival - m_agreed->arrival);
    const microseconds mismatch = deviceStep - monotonicStep;
    if (mismatch > Tolerance || mismatch < -Tolerance) {
        const bool standingStill = previous && *previous == *device && mismatch < microseconds(0);
        // Before the device was ever trusted there is no good time to wait for: the newest
        // frame is the one the next ones are compared with.
        if (m_trusted) {
            m_agreeingInARow = 0;
        } else {
            m_agreed = Reading{*device, arrival};
            m_agreeingInARow = 1;
        }
        if (standingStill) {
            m_state = State::Stopped;
        } else {
            m_state = State::Jumped;
            m_lastJump = mismatch;
        }
        return m_state;
    }
    m_agreed = Reading{*device, arrival};
    if (++m_agreeingInARow >= FramesToAgree) {
        m_state = State::Agreeing;
        m_trusted = true;
    }
    return m_state;
}

void ClockAgreement::reset()
{
    *this = ClockAgreement();
}
