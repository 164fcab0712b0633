#pragma once

#include "frametime/utctime.h"

#include <QObject>
#include <QString>

// The system's way of setting its clock. One call sets date and time together, in one change
// of the clock, to a universal time; a refusal leaves the clock as it was. The answer comes
// through finished(), possibly before setTime() returns, possibly much later (for example
// after the system asked the user for a password); the caller waits for it before setting the
// clock again. Failures are reported as an outcome, never thrown.
class ClockBackend : public QObject
{
    Q_OBJECT

public:
    enum class Outcome {
        Set,           // the clock now reads the time asked for
        NoPermission,  // the user lacks the right, or dismissed the password prompt
        AutomaticSync, // the system keeps its clock by network time and will not be set
        Refused,       // any other refusal; the system's own text says why
    };
    Q_ENUM(Outcome)

    using QObject::QObject;

    // Starts setting the system clock to `utc`. The value is the one that is right at the
    // moment of this call; an implementation that sends it on later adds the time that passed.
    virtual void setTime(UtcTime utc) = 0;

signals:
    // `systemText` is the system's description of a refusal, empty otherwise.
    void finished(ClockBackend::Outcome outcome, const QString &systemText);
};
