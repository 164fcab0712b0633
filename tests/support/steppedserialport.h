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
    explicit SteppedSerialPort(SerialPort *port) : m_port(port) {}

    QString after;
    std::function<void()> between;

    int portOpen(bool *open) override
    {
        return step(QStringLiteral("portOpen"), m_port->portOpen(open));
    }
    int setPortOpen(bool open) override
    {
        return step(open ? QStringLiteral("open") : QStringLiteral("close"),
                    m_port->setPortOpen(open));
    }
    int setCommPort(qint16 number) override
    {
        return step(QStringLiteral("setCommPort"), m_port->setCommPort(number));
    }
    int input(QList<ReceivedChunk> *chunks) override { return m_port->input(chunks); }
    PortFailure lastFailure() const override { return m_port->lastFailure(); }

private:
    int step(const QString &name, int result)
    {
        if (name == after && between) {
            const std::function<void()> once = std::move(between);
            between = nullptr;
            once();
        }
        return result;
    }

    SerialPort *m_port;
};
