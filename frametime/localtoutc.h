#pragma once

#include "frametime/utctime.h"

#include <QDate>
#include <QTime>
#include <QTimeZone>

#include <optional>

// The universal time of a local wall-clock date and time in `zone`, by the zone's own rules.
// A local time that the zone skips (the hour lost when summer time starts) has no universal
// time. A local time that the zone has twice (the hour repeated when summer time ends) is
// read as summer time when `summer` is set and as winter time otherwise; everywhere else
// `summer` is not consulted.
std::optional<UtcTime> localToUtc(const QDate &date, const QTime &time, bool summer,
                                  const QTimeZone &zone);
