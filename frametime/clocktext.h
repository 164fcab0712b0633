#pragma once

#include <QDate>
#include <QString>
#include <QTime>

#include <optional>

// The date and time texts of the clock display, read the way the device writes them, whatever
// the user's locale: the date month first, "MM/dd/yyyy" (one-digit month and day accepted,
// four-digit year), the time "hh:mm:ss" on a 24-hour clock (one-digit hour accepted). Only
// ASCII digits count; blanks, other separators, impossible dates (02/30/2007) and times
// (24:00:00) do not convert.
std::optional<QDate> parseClockDate(const QString &text);
std::optional<QTime> parseClockTime(const QString &text);
