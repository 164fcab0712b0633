#pragma once

#include <QObject>
#include <QString>

#include <chrono>

// The system's way of setting its clock. One call sets date and time together, in one change
// of the clock, by an offset: the clock is moved that far from what it reads at the moment of
// the change. Since the device's clock and the computer's run at the same rate, the offset
// between them stays the same however long the change waits (for example while the system asks
// the user for a password), and the change is right whenever it is made. A refusal leaves the
// clock as it was. The answer comes through finished(), possibly before setTimeBy() returns,
// possibly much later; the caller waits for it before setting the clock again. Failures are
// reported as an outcome, never thrown.
class ClockBackend : public QObject
{
    Q_OBJECT

public:
    // How a setting of the clock ended: a backend's answer, and also how ClockSetting reports
    // a setting from a frame, which the window turns into words for the user.
    enum class Outcome {
        Set,           // the clock was moved by the offset asked for
        NoPermission,  // the user lacks the right, or dismissed the password prompt
        AutomaticSync, // the system keeps its clock by network time and will not be set
        Refused,       // any other refusal; the system's own text says why
        NoValidTime,   // the frame names no instant the clock can be set to (ClockSetting's
                       // own answer: a backend never gives it)
        NoAnswer,      // the system's clock service did not answer in time (ClockSetting's own)
    };
    Q_ENUM(Outcome)

    using QObject::QObject;

    // Starts moving the system clock `offset` ahead of what it reads at the moment of the
    // change (behind, when negative).
    virtual void setTimeBy(std::chrono::microseconds offset) = 0;

signals:
    // `systemText` is the system's description of a refusal, empty otherwise.
    void finished(ClockBackend::Outcome outcome, const QString &systemText);
};
