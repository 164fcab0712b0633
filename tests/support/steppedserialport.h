#pragma once

#include "core/serialport.h"

#include <QString>

#include <functional>

// Passes every call on to a real serial port, and runs `between` once, right after the call
// named `after` ("portOpen", "close", "setCommPort" or "open") has returned: for a device
// that goes away between two steps of the port selection.
class SteppedSerialPort : public SerialPort
{
public:
    explicit SteppedSerialPort(SerialPort *port);

    QString after;
    std::function<void()> between;

    int portOpen(bool *open) override;
    int setPortOpen(bool open) override;
    int setCommPort(qint16 number) override;
    int input(QList<ReceivedChunk> *chunks) override { return m_port->input(chunks); }
    PortFailure lastFailure() const override { return m_port->lastFailure(); }
    int streamsBegun() const override { return m_port->streamsBegun(); }
    std::optional<KeepingTime> keepingTime() const override { return m_port->keepingTime(); }

private:
    int step(const QString &name, int result);

    SerialPort *m_port;
};
