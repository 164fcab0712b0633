#pragma once

#include <QByteArray>
#include <QDateTime>

#include <optional>

// The ways a broken frame can be broken, in the order --malformed uses them.
enum class Malformation {
    MissingField, // the summer field is left out
    GarbledTime,  // three digits of the time are letters
    EmptyFields,  // "$,,," CR LF
    BadNumbers,   // weekday 9 and summer flag "x"
    CutShort,     // the frame breaks off inside the time, then CR LF
};
inline constexpr int MalformationCount = 5;

// The frame the device sends for the local time `time`: "$hh:mm:ss,mm/dd/yyyy,w,s" CR LF,
// with w the weekday (1 Monday to 7 Sunday) and s 1 when `time` is summer time, else 0.
QByteArray frameText(const QDateTime &time);

// The frame for `time`, broken the way `kind` says.
QByteArray malformedFrameText(const QDateTime &time, Malformation kind);

// How --malformed breaks frame `number` (counted from 1): every second frame is broken, each
// time in the next way; the others are whole.
std::optional<Malformation> malformationOfFrame(qint64 number);
