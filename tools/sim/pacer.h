#pragma once

#include <chrono>

// The computer's realtime clock, in nanoseconds since the Unix epoch.
std::chrono::nanoseconds realtimeNow();

// Waits for absolute instants of the realtime clock, so that a schedule of instants never
// drifts however late one wake-up is, and wakes at once when SIGINT or SIGTERM arrives.
// Construct it before any thread starts: it blocks both signals for the whole process and
// receives them itself.
class Pacer
{
public:
    Pacer();
    ~Pacer();
    Pacer(const Pacer &) = delete;
    Pacer &operator=(const Pacer &) = delete;

    bool isValid() const { return m_timer >= 0 && m_signals >= 0; }

    // Returns true at the instant `realtime` (at once when it has passed), or false as soon
    // as a stop signal has arrived.
    bool waitUntil(std::chrono::nanoseconds realtime);

    // Returns when a stop signal has arrived.
    void waitForStop();

private:
    int m_timer = -1;
    int m_signals = -1;
    bool m_stopped = false;
};
