#pragma once

#include <QList>

#include <chrono>

// The device's delay measured frame by frame against the computer's clock, kept in sync by
// another source: how long after its second began (the frame's time, on the computer's
// clock) each frame's "$" arrived. The delay to use is the median: half the frames come
// sooner, half later, whatever their jitter.
class DelayCalibration
{
public:
    // Enough frames for a median worth using.
    static constexpr int MinimumFrames = 10;

    // A frame whose device time was `offset` ahead of the computer's clock at its "$" (a late
    // frame reads as the device behind: offset -0.132 s for a delay of 132 ms).
    void add(std::chrono::microseconds offset) { m_delays.append(-offset); }

    int frames() const { return int(m_delays.size()); }
    std::chrono::microseconds median() const { return quantile(0.5); }
    // How far apart the middle half of the delays lie: the third quartile less the first.
    std::chrono::microseconds spread() const { return quantile(0.75) - quantile(0.25); }

private:
    std::chrono::microseconds quantile(double fraction) const;

    QList<std::chrono::microseconds> m_delays;
};
