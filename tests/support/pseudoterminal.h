#pragma once

#include "tools/sim/deviceline.h"

// A real pseudo-terminal, set up as the simulated device sets up its own: the program opens
// its device like a serial port, and the test plays the device on the other side.
class PseudoTerminal : public DeviceLine
{
public:
    PseudoTerminal()
    {
        QString error;
        createPseudoTerminal(&error);
    }

    bool isValid() const { return isOpen(); }

    // Plays the device: sends `bytes` to whoever has the device open, all in one write.
    bool send(const QByteArray &bytes) { return DeviceLine::send(bytes) == bytes.size(); }
};
