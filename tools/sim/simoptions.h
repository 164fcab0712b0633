#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>

// A step of the device's clock: after frame `afterFrame` (counted from 1) it reads `by` more.
struct ClockJump
{
    std::chrono::nanoseconds by{0};
    qint64 afterFrame = 0;
};

// How the simulated device behaves, as chosen on its command line.
struct SimOptions
{
    std::chrono::nanoseconds offset{0};                       // device clock minus computer clock
    std::chrono::nanoseconds period{std::chrono::seconds(1)}; // between frame starts
    QString device;         // serial device to send on; empty: create a pseudo-terminal
    qint64 count = 0;       // frames to send before ending; 0: no limit
    bool noise = false;     // random bytes between frames
    bool busy = false;      // other lines between frames, never quiet for a poll
    bool split = false;     // a pause inside every frame
    bool malformed = false; // every second frame broken
    std::chrono::nanoseconds silence{0}; // quiet stretch after every third slot; 0: none
    int burst = 1;                       // frames sent back to back at each slot
    qint64 hangupAfter = 0;              // frames before the line is closed; 0: never
    std::optional<quint32> seed;         // seed of the random choices; none: a random one
    std::chrono::nanoseconds delay{0};   // from the start of a slot to its first "$"
    std::chrono::nanoseconds jitter{0};  // each slot's frames late by a random 0 to this more
    std::chrono::nanoseconds latency{0}; // bytes handed over at its multiples; 0: at once
    QList<ClockJump> jumps;              // steps of the device's clock, in frame order
    qint64 freezeAfter = 0; // frames after which every frame holds the same time; 0: never
    bool verbose = false;   // log every frame on stderr
};

// The outcome of reading a command line.
struct ParsedOptions
{
    SimOptions options;
    QString error;     // what is wrong with the arguments; empty when they are valid
    bool help = false; // --help was asked for: show helpText and end
    QString helpText;
};

// Reads the command line `arguments` (the program name first).
ParsedOptions parseOptions(const QStringList &arguments);
