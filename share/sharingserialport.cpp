#include "share/sharingserialport.h"

#include "serial/deviceserialport.h"
#include "share/deviceshare.h"

SharingSerialPort::SharingSerialPort(DeviceSerialPort *device, DeviceShare *share)
    : m_device(device), m_share(share)
{
}

int SharingSerialPort::portOpen(bool *open)
{
    const int result = m_device->portOpen(open);
    if (result == SerialOk && !*open)
        withdraw(); // the device went away
    return result;
}

int SharingSerialPort::setPortOpen(bool open)
{
    if (!open)
        withdraw();
    const int result = m_device->setPortOpen(open);
    if (open && result == SerialOk)
        m_share->offer(m_device->deviceName());
    return result;
}

int SharingSerialPort::setCommPort(qint16 number)
{
    return m_device->setCommPort(number);
}

int SharingSerialPort::input(QList<ReceivedChunk> *chunks)
{
    const int result = m_device->input(chunks);
    if (result == SerialOk && !chunks->isEmpty())
        m_share->publish(*chunks);
    return result;
}

PortFailure SharingSerialPort::lastFailure() const
{
    return m_device->lastFailure();
}

void SharingSerialPort::withdraw()
{
    if (m_share->offered())
        m_share->withdraw(ShareProtocol::EndReason::DeviceGone);
}
