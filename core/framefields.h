#pragma once

#include <QString>
#include <QStringView>

#include <optional>

// The fields of one frame text "time,date,weekday,summer[,...]". Fields after the fourth are
// ignored; time and date are kept exactly as received.
struct FrameFields
{
    QString time;
    QString date;
    int weekday = 0; // 1 Monday to 7 Sunday; any other number names no day
    int summer = 0;  // 1 summer time, any other number winter time

    // The fields of `frameText`, or nothing when it has fewer than four fields or its
    // weekday or summer field is not a number.
    static std::optional<FrameFields> parse(const QString &frameText);
};

// A frame field read as a whole number: decimal digits, leading zeros and blanks around
// them allowed. Numbers too large for an int come out as INT_MAX. Anything else (empty,
// signs, decimal points, letters) is no number.
std::optional<int> fieldNumber(QStringView field);
