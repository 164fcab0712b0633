#pragma once

#include <QLatin1String>
#include <QString>

// The serial ports the window lists and quorvel-refclock takes: "Com1" to "Com4", each
// standing for its number.
inline constexpr QLatin1String PortNamePrefix("Com");
inline constexpr int FirstPortNumber = 1;
inline constexpr int LastPortNumber = 4;

// The port number that a port's name gives: the value of its character after "Com" when that
// is a decimal digit ("Com3" is 3), whatever the first three characters are; otherwise 0
// (also for texts shorter than four).
qint16 portNumberOf(const QString &name);

// The number of a listed port, "Com1" to "Com4" in any case; 0 for any other text.
qint16 listedPortNumber(const QString &name);
