#pragma once

#include "core/framereceiver.h"
#include "core/serialport.h"
#include "tests/support/pseudoterminal.h"

#include <QCoreApplication>
#include <QList>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

// How well a frame's "$" is dated: a device thread sends frames on a pseudo-terminal at the
// line's pace, noting when it wrote each "$"; this thread polls every 100 ms as the window
// does, optionally staying busy for part of each period without looking at its events, and
// compares the arrival the reception core gives each frame taken with when its "$" was
// written. With `noise`, the device sends those bytes at the line's pace `pause` before each
// frame. Returns one error per frame taken (positive: dated late).
QList<std::chrono::microseconds> markerDatingErrors(SerialPort *port, PseudoTerminal *line,
                                                    int frames,
                                                    std::chrono::milliseconds busyPerPoll,
                                                    const QByteArray &noise = {},
                                                    std::chrono::milliseconds pause = {});

// The median of `values`; zero for none.
template <typename T> T medianOf(QList<T> values)
{
    if (values.isEmpty())
        return T{};
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}
