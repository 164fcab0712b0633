#pragma once

#include "tools/sim/simoptions.h"

#include <QByteArray>

#include <chrono>

class DeviceLine;
class Pacer;
struct Chunk;

// Plays the GPS clock device on an open line: sends the frames of every slot of its clock at
// their instants, character by character, until the frame count is reached or a stop
// signal arrives.
class SimulatedDevice
{
public:
    SimulatedDevice(const SimOptions &options, DeviceLine &line, Pacer &pacer);

    void run();

private:
    // Sends `bytes` one character time apart, the first beginning at the instant `start` of
    // the device clock, each when the line would deliver it; false when a stop signal came
    // first.
    bool sendFrom(std::chrono::nanoseconds start, const QByteArray &bytes);
    // The instant of the computer's clock at which the reader is to get the byte whose last
    // bit the device sends at `complete` of its own clock.
    std::chrono::nanoseconds handOver(std::chrono::nanoseconds complete) const;
    // Waits until the reader has taken everything sent, for ClosingGrace at most; false when
    // a stop signal came first.
    bool letReaderCatchUp();
    // Writes on stderr what `chunk` sent from the instant `instant` of the device clock.
    void log(std::chrono::nanoseconds instant, const Chunk &chunk, qint64 frames) const;

    SimOptions m_options;
    std::chrono::nanoseconds m_offset; // device clock minus computer clock, after any jumps
    DeviceLine &m_line;
    Pacer &m_pacer;
};
