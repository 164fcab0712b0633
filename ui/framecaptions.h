#pragma once

#include <QString>

// The captions of the clock display for the numbers of a frame, in the user's language
// (Spanish unless a translation is installed).

// The weekday's name for 1 (Monday) to 7 (Sunday); an empty text for any other number,
// which names no day.
QString weekdayCaption(int weekday);

// "Verano" for summer time, "Invierno" for winter time.
QString seasonCaption(bool summer);
