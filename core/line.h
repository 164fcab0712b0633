#pragma once

#include <QtGlobal>

#include <chrono>

// The facts of the device's line, defined here once for the program, quorvel-refclock and
// quorvel-sim: 4800 baud, and 10 bits a character (start bit, 8 data bits, stop bit).
inline constexpr qint32 LineBaud = 4800;
inline constexpr qint64 BitsPerCharacter = 10;

// The time the line takes to carry `characters` characters. Counting characters, not adding
// up rounded character times, keeps a long stretch of text from drifting: 28 800 characters
// last exactly a minute.
constexpr std::chrono::nanoseconds characterTimes(qint64 characters)
{
    return std::chrono::nanoseconds(characters * BitsPerCharacter * 1'000'000'000 / LineBaud);
}

// One character on the line: a character is complete, and can be read, this long after the
// device began to send it (2.083 ms).
inline constexpr std::chrono::nanoseconds CharacterTime = characterTimes(1);

// How often the window and quorvel-refclock poll the port.
inline constexpr std::chrono::milliseconds PollInterval{100};
