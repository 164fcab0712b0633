#pragma once

#include "clock/clockbackend.h"

#include <QMetaType>
#include <QObject>
#include <QString>

// How a setting of the clock from a frame ended, as the clock setting found out. The window
// turns it into words for the user.
struct ClockSettingOutcome
{
    Q_GADGET

public:
    enum class Kind {
        Set,         // the clock now reads the device's time
        NoValidTime, // the frame's date or time names no instant the clock can be set to
        Refused,     // the system did not set the clock: `refusal` and `systemText` say why
    };
    Q_ENUM(Kind)

    Kind kind = Kind::Set;
    // Refused: the backend's answer (NoPermission, AutomaticSync or Refused).
    ClockBackend::Outcome refusal = ClockBackend::Outcome::Set;
    // Refused: the system's own description of the refusal, empty when it gave none.
    QString systemText;
};

Q_DECLARE_METATYPE(ClockSettingOutcome)
