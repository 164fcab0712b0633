#pragma once

#include "tools/sim/simoptions.h"

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
    // Sends one byte at its instant of the device clock; false when a stop signal came first.
    bool sendAt(std::chrono::nanoseconds instant, char byte);
    // Waits until the reader has taken everything sent, for ClosingGrace at most; false when
    // a stop signal came first.
    bool letReaderCatchUp();
    // Writes on stderr what `chunk` sent from the instant `instant` of the device clock.
    void log(std::chrono::nanoseconds instant, const Chunk &chunk, qint64 frames) const;

    SimOptions m_options;
    DeviceLine &m_line;
    Pacer &m_pacer;
};
