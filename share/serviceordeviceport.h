#pragma once

#include "core/serialport.h"
#include "share/serviceclientport.h"

// The window's serial port where quorvel-refclock may hold the device: opening "ComN" first
// asks the service's socket for the device N stands for, and reads through the service when it
// answers; otherwise (no service, a socket nobody listens on, no right to connect) it opens
// the device itself, exactly as without a service. The service is asked first, before the
// device, so that the window never takes the device while the service is between two tries to
// open it, and a port no service holds costs one refused connect and looks as it always did.
class ServiceOrDevicePort : public SerialPort
{
public:
    explicit ServiceOrDevicePort(SerialPort *device);

    int portOpen(bool *open) override;
    int setPortOpen(bool open) override;
    int setCommPort(qint16 number) override;
    int input(QList<ReceivedChunk> *chunks) override;
    PortFailure lastFailure() const override;

    // Whether the latest open went through the service.
    bool throughService() const { return m_throughService; }
    ServiceClientPort *service() { return &m_service; }

private:
    SerialPort *active()
    {
        return m_throughService ? static_cast<SerialPort *>(&m_service) : m_device;
    }

    SerialPort *m_device;
    ServiceClientPort m_service;
    bool m_throughService = false;
};
