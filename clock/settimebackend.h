#pragma once

#include "clock/clockbackend.h"

#include <functional>

#include <time.h>

// The system calls that setting the clock directly needs. Kept apart so that tests hand in
// recorders and the machine's clock is never touched.
struct RealtimeClockCalls
{
    // Whether the process may set the clock (it holds CAP_SYS_TIME, as root normally does).
    std::function<bool()> maySetClock;
    // Reads CLOCK_REALTIME.
    std::function<timespec()> readRealtime;
    // Sets CLOCK_REALTIME; returns 0 or the errno of the failure.
    std::function<int(const timespec &)> setRealtime;
};

// The real calls. They change this machine's clock: only the program itself uses them.
RealtimeClockCalls systemRealtimeClock();

// Sets the clock with clock_settime(CLOCK_REALTIME) to the clock as read right before, plus the
// offset, for a process that holds the right to; for any other it refuses without trying, as
// lacking permission. Answers before setTimeBy() returns.
class SetTimeBackend : public ClockBackend
{
    Q_OBJECT

public:
    explicit SetTimeBackend(RealtimeClockCalls calls, QObject *parent = nullptr);

    void setTimeBy(std::chrono::microseconds offset) override;

private:
    RealtimeClockCalls m_calls;
};
