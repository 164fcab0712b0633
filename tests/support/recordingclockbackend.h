#pragma once

#include "clock/clockbackend.h"

#include <QList>
#include <QString>

#include <chrono>

// A clock backend that records the offsets it is asked to move the clock by and answers as
// told, at once or only when the test calls answer(). It never touches the clock.
class RecordingClockBackend : public ClockBackend
{
    Q_OBJECT

public:
    using ClockBackend::ClockBackend;

    QList<std::chrono::microseconds> asked;
    Outcome outcome = Outcome::Set;
    QString systemText;
    bool answerAtOnce = true;

    void setTimeBy(std::chrono::microseconds offset) override
    {
        asked.append(offset);
        if (answerAtOnce)
            answer();
    }

    void answer() { emit finished(outcome, systemText); }
};
