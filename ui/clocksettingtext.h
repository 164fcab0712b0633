#pragma once

#include "clock/clocksettingoutcome.h"

#include <QString>

// What the user is told of how a setting of the clock ended, in Spanish: why the date or time
// could not be used, or "No se pudo poner en hora el PC." and, on the next line, why the
// system refused; an empty text when the clock was set, of which nothing is said.
QString clockSettingText(const ClockSettingOutcome &outcome);
