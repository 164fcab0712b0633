#include "share/serviceordeviceport.h"

ServiceOrDevicePort::ServiceOrDevicePort(SerialPort *device) : m_device(device) {}

int ServiceOrDevicePort::portOpen(bool *open)
{
    return active()->portOpen(open);
}

int ServiceOrDevicePort::setPortOpen(bool open)
{
    if (!open)
        return active()->setPortOpen(false);
    bool alreadyOpen = false;
    if (active()->portOpen(&alreadyOpen) == SerialOk && alreadyOpen)
        return active()->setPortOpen(true); // fails as the open port's own would
    m_throughService = m_service.setPortOpen(true) == SerialOk;
    if (m_throughService)
        return SerialOk;
    return m_device->setPortOpen(true);
}

int ServiceOrDevicePort::setCommPort(qint16 number)
{
    const int result = active()->setCommPort(number);
    if (result != SerialOk)
        return result;
    m_service.setCommPort(number);
    return m_device->setCommPort(number);
}

int ServiceOrDevicePort::input(QList<ReceivedChunk> *chunks)
{
    return active()->input(chunks);
}

PortFailure ServiceOrDevicePort::lastFailure() const
{
    return m_throughService ? m_service.lastFailure() : m_device->lastFailure();
}
