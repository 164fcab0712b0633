#pragma once

#include "core/serialport.h"
#include "share/shareprotocol.h"

#include <QLocalSocket>
#include <QString>

#include <chrono>

// The serial port read through quorvel-refclock: the stream of the device the service holds,
// with each read's bytes dated as the service dated them, on the monotonic clock every process
// shares. Opening connects to the socket of the device that port number stands for (or the
// socket set with setSocketPath()) and waits for the service's greeting; the end of the
// stream, or a stream that breaks the format, closes the port as a device that went away
// closes the device's.
class ServiceClientPort : public SerialPort
{
public:
    // How long an open waits for the service to answer.
    static constexpr std::chrono::milliseconds AnswerTimeout{1000};

    int portOpen(bool *open) override;
    int setPortOpen(bool open) override;
    int setCommPort(qint16 number) override;
    int input(QList<ReceivedChunk> *chunks) override;
    PortFailure lastFailure() const override { return m_lastFailure; }

    // Connects to this socket instead of the port number's device's, from the next open on;
    // an empty path goes back to the port number.
    void setSocketPath(const QString &path) { m_socketPath = path; }

    // The device the service holds, as its greeting named it.
    QString deviceName() const { return m_device; }

private:
    // Takes what the service sent; closes the port at the end of the stream.
    void receive();
    void close();
    int fail(int error, const PortFailure &why);

    QLocalSocket m_socket;
    ShareProtocol::Decoder m_decoder;
    QList<ReceivedChunk> m_chunks;
    bool m_open = false;
    qint16 m_number = 0;
    QString m_socketPath;
    QString m_device;
    PortFailure m_lastFailure;
};

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
