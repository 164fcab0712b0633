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
