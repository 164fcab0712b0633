#pragma once

#include "clock/clockbackend.h"
#include "core/serialport.h"
#include "frametime/clockagreement.h"

#include <QString>

#include <chrono>
#include <optional>

// The texts the window shows, in Spanish unless a translation is installed: the captions of
// the clock display, the line under the receive window, and the messages of the port and of
// the clock's setting.

// The captions of the clock display for the numbers of a frame, in the user's language
// (Spanish unless a translation is installed).

// The weekday's name for 1 (Monday) to 7 (Sunday); an empty text for any other number,
// which names no day.
QString weekdayCaption(int weekday);

// "Verano" for summer time, "Invierno" for winter time.
QString seasonCaption(bool summer);

// The line that tells how far the computer's clock is from the device's, in Spanish:
// "El PC va 2,500 s atrasado" when the device is ahead (`offset` = device - computer > 0),
// "El PC va 0,004 s adelantado" when it is behind, "El PC va en hora" within half a
// millisecond. The amount is rounded to the millisecond and written in seconds with a decimal
// comma and three decimals; from a minute up, days, hours and minutes go in front, a zero unit
// only where it stands between two that are not zero ("3 d 5 h 0 min 1,250 s",
// "1 h 2 min 0,000 s"). No offset means the frame named no time: "Hora del equipo no válida".
// When the device's weekday contradicts its date, " (el día de la semana no coincide con la
// fecha)" follows. While the device's last frames disagree with the computer's monotonic clock
// (`clock`, see ClockAgreement), " (el reloj del dispositivo saltó)", " (el reloj del
// dispositivo está parado)" or " (la fecha del dispositivo es anterior a este programa)"
// follows last.
QString offsetText(std::optional<std::chrono::microseconds> offset, bool weekdayMatchesDate,
                   ClockAgreement::State clock = ClockAgreement::State::Agreeing);

// The offset line once frames have stopped coming: "El dispositivo no envía tramas".
QString deviceSilentText();

// What the offset line adds, briefly, of how the service the window reads through keeps the
// computer's time: " · el servicio pone en hora el PC con el dispositivo", and so on.
QString keepingTimeText(const KeepingTime &keeping);

// What the user is told, under "Puerto no disponible", of why a port could not be used, in
// Spanish, naming the device and what to do about it; an empty text when nothing is known.
QString portFailureText(const PortFailure &failure);

// What the user is told of how a setting of the clock ended, in Spanish: why the date or time
// could not be used, or "No se pudo poner en hora el PC." and, on the next line, why the
// system refused (with `systemText`, the system's own words, for a refusal Quorvel does not
// know); an empty text when the clock was set, of which nothing is said.
QString clockSettingText(ClockBackend::Outcome outcome, const QString &systemText = {});
