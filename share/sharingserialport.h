#pragma once

#include "core/serialport.h"

class DeviceSerialPort;
class DeviceShare;

// The service's serial port: the device's own, offering what it reads to `share`'s clients.
// A successful open offers the device; a close, or the device going away, withdraws it.
class SharingSerialPort : public SerialPort
{
public:
    SharingSerialPort(DeviceSerialPort *device, DeviceShare *share);

    int portOpen(bool *open) override;
    int setPortOpen(bool open) override;
    int setCommPort(qint16 number) override;
    int input(QList<ReceivedChunk> *chunks) override;
    PortFailure lastFailure() const override;

private:
    void withdraw();

    DeviceSerialPort *m_device;
    DeviceShare *m_share;
};
