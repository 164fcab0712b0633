#pragma once

#include "frametime/clockagreement.h"

#include <QString>

#include <chrono>
#include <optional>

// The line that tells how far the computer's clock is from the device's, in Spanish:
// "El PC va 2,500 s atrasado" when the device is ahead (`offset` = device - computer > 0),
// "El PC va 0,004 s adelantado" when it is behind, "El PC va en hora" within half a
// millisecond. The amount is rounded to the millisecond and written in seconds with a decimal
// comma and three decimals; from a minute up, days, hours and minutes go in front, a zero unit
// only where it stands between two that are not zero ("3 d 5 h 0 min 1,250 s",
// "1 h 2 min 0,000 s"). No offset means the frame named no time: "Hora del equipo no válida".
// When the device's weekday contradicts its date, " (el día de la semana no coincide con la
// fecha)" follows. While the device's last frames disagree with the computer's monotonic clock
// (`clock`, see ClockAgreement), " (el reloj del dispositivo saltó)" or " (el reloj del
// dispositivo está parado)" follows last.
QString offsetText(std::optional<std::chrono::microseconds> offset, bool weekdayMatchesDate,
                   ClockAgreement::State clock = ClockAgreement::State::Agreeing);
