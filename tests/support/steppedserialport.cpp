#include "tests/support/steppedserialport.h"

SteppedSerialPort::SteppedSerialPort(SerialPort *port) : m_port(port) {}

int SteppedSerialPort::portOpen(bool *open)
{
    return step(QStringLiteral("portOpen"), m_port->portOpen(open));
}

int SteppedSerialPort::setPortOpen(bool open)
{
    return step(open ? QStringLiteral("open") : QStringLiteral("close"), m_port->setPortOpen(open));
}

int SteppedSerialPort::setCommPort(qint16 number)
{
    return step(QStringLiteral("setCommPort"), m_port->setCommPort(number));
}

int SteppedSerialPort::step(const QString &name, int result)
{
    if (name == after && between) {
        const std::function<void()> once = std::move(between);
        between = nullptr;
        once();
    }
    return result;
}
