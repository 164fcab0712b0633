#include "frametime/clockagreement.h"

#include "core/version.h"

using std::chrono::microseconds;

ClockAgreement::ClockAgreement(UtcTime earliest, microseconds acceptStepAfter)
    : m_earliest(earliest), m_acceptStepAfter(acceptStepAfter)
{
}

UtcTime ClockAgreement::buildDate()
{
    return UtcTime(std::chrono::seconds(BuildDateSeconds));
}

bool ClockAgreement::advancesFrom(const Reading &from, const Reading &reading,
                                  microseconds *mismatch)
{
    const microseconds deviceStep = reading.device - from.device;
    const microseconds monotonicStep =
        std::chrono::duration_cast<microseconds>(reading.arrival - from.arrival);
    *mismatch = deviceStep - monotonicStep;
    return *mismatch <= Tolerance && *mismatch >= -Tolerance;
}

ClockAgreement::State ClockAgreement::add(std::optional<UtcTime> device, MonotonicTime arrival)
{
    if (!device)
        return m_state;
    if (*device < m_earliest) {
        // Never agreed with, and no new time to follow: what comes after is compared with
        // the time agreed with before, or, before the device was trusted, starts anew.
        m_state = State::Implausible;
        m_previous.reset();
        m_newTimeSince.reset();
        m_newTimeLast.reset();
        m_agreeingInARow = 0;
        if (!m_trusted)
            m_agreed.reset();
        return m_state;
    }
    const std::optional<UtcTime> previous = m_previous;
    m_previous = device;
    const Reading reading{*device, arrival};
    if (!m_agreed) {
        m_agreed = reading;
        m_agreeingInARow = 1;
        if (m_state == State::Implausible)
            m_state = State::Starting;
        return m_state;
    }
    microseconds mismatch{0};
    if (!advancesFrom(*m_agreed, reading, &mismatch)) {
        const bool standingStill = previous && *previous == *device && mismatch < microseconds(0);
        // Before the device was ever trusted there is no good time to wait for: the newest
        // frame is the one the next ones are compared with.
        if (m_trusted) {
            m_agreeingInARow = 0;
            if (watchNewTime(reading)) {
                m_agreed = reading;
                m_agreeingInARow = FramesToAgree;
                m_state = State::Agreeing;
                ++m_stepsFollowed;
                return m_state;
            }
        } else {
            m_agreed = reading;
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
    // Back on the time agreed with: a new time watched meanwhile is forgotten.
    m_newTimeSince.reset();
    m_newTimeLast.reset();
    m_agreed = reading;
    if (++m_agreeingInARow >= FramesToAgree) {
        m_state = State::Agreeing;
        m_trusted = true;
    } else if (m_state == State::Implausible) {
        m_state = m_trusted ? State::Jumped : State::Starting;
    }
    return m_state;
}

bool ClockAgreement::watchNewTime(const Reading &reading)
{
    microseconds mismatch{0};
    if (!m_newTimeLast || !advancesFrom(*m_newTimeLast, reading, &mismatch)) {
        // The first frame of a new time, or one that broke with it: watched from here.
        m_newTimeSince = reading;
        m_newTimeLast = reading;
        return false;
    }
    m_newTimeLast = reading;
    if (reading.arrival - m_newTimeSince->arrival < m_acceptStepAfter)
        return false;
    m_newTimeSince.reset();
    m_newTimeLast.reset();
    return true;
}

std::optional<MonotonicTime> ClockAgreement::followsNewTimeAt() const
{
    if (!m_newTimeSince)
        return std::nullopt;
    return m_newTimeSince->arrival
           + std::chrono::duration_cast<MonotonicClock::duration>(m_acceptStepAfter);
}

void ClockAgreement::reset()
{
    *this = ClockAgreement(m_earliest, m_acceptStepAfter);
}
