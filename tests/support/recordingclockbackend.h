#pragma once

#include "clock/clockbackend.h"

#include <QList>
#include <QString>

// A clock backend that records the times it is asked to set and answers as told, at once or
// only when the test calls answer(). It never touches the clock.
class RecordingClockBackend : public ClockBackend
{
    Q_OBJECT

public:
    using ClockBackend::ClockBackend;

    QList<UtcTime> asked;
    Outcome outcome = Outcome::Set;
    QString systemText;
    bool answerAtOnce = true;

    void setTime(UtcTime utc) override
    {
        asked.append(utc);
        if (answerAtOnce)
            answer();
    }

    void answer() { emit finished(outcome, systemText); }
};
