#include "refclock/delaycalibration.h"

#include <algorithm>
#include <cmath>

std::chrono::microseconds DelayCalibration::quantile(double fraction) const
{
    if (m_delays.isEmpty())
        return std::chrono::microseconds(0);
    QList<std::chrono::microseconds> sorted = m_delays;
    std::sort(sorted.begin(), sorted.end());
    // Between the two nearest delays, in proportion.
    const double at = fraction * double(sorted.size() - 1);
    const auto below = qsizetype(std::floor(at));
    const qsizetype above = qMin(below + 1, sorted.size() - 1);
    const double weight = at - double(below);
    return std::chrono::microseconds(std::llround(double(sorted.at(below).count()) * (1 - weight)
                                                  + double(sorted.at(above).count()) * weight));
}
