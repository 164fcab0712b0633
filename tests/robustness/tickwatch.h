#pragma once

#include <QObject>
#include <QTimer>

#include <algorithm>
#include <chrono>

// Watches a poll timer: counts its ticks and keeps the longest time the event loop let pass
// between two of them, which tells whether the window kept answering.
class TickWatch : public QObject
{
    Q_OBJECT

public:
    using Clock = std::chrono::steady_clock;

    explicit TickWatch(QTimer *timer, QObject *parent = nullptr) : QObject(parent)
    {
        connect(timer, &QTimer::timeout, this, &TickWatch::tick);
        restart();
    }

    // Forgets what was seen so far; the next gap is measured from now.
    void restart()
    {
        m_ticks = 0;
        m_longestGap = Clock::duration::zero();
        m_lastTick = Clock::now();
    }

    int ticks() const { return m_ticks; }

    // The longest gap between two ticks since restart(), counting the time since the last
    // tick as a gap too, so that a loop that stopped for good is not missed.
    std::chrono::milliseconds longestGap() const
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
            std::max(m_longestGap, Clock::now() - m_lastTick));
    }

private:
    void tick()
    {
        const Clock::time_point now = Clock::now();
        m_longestGap = std::max(m_longestGap, now - m_lastTick);
        m_lastTick = now;
        ++m_ticks;
    }

    int m_ticks = 0;
    Clock::duration m_longestGap{};
    Clock::time_point m_lastTick;
};
