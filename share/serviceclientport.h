#pragma once

#include "core/serialport.h"
#include "share/shareprotocol.h"

#include <QLocalSocket>
#include <QString>

#include <chrono>
#include <optional>

// The serial port read through quorvel-refclock: the stream of the device the service holds,
// with each read's bytes dated as the service dated them, on the monotonic clock every process
// shares. Opening connects to the socket of the device that port number stands for (or the
// socket set with setSocketPath()), which a listening service accepts at once; its greeting is
// read with the stream, never waited for. The end of the stream, a stream that breaks the
// format, or no greeting within AnswerTimeout closes the port as a device that went away
// closes the device's; ended() tells which. Beside the stream it reads the service's state from
// the device's state socket, when the service has one (serviceState()); a service that has
// none (an earlier version) is read as before.
class ServiceClientPort : public SerialPort
{
public:
    // How long the service has to greet a new client.
    static constexpr std::chrono::milliseconds AnswerTimeout{1000};

    // Why the latest stream ended.
    enum class Ended {
        No,          // it has not (or no stream was read yet)
        DeviceGone,  // the service said its device went away
        ServiceGone, // the service stopped, said so or not, or does not answer
    };

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
    Ended ended() const { return m_ended; }
    // How the service keeps time, as it said last while the port is open; nothing when the
    // service says nothing of it.
    std::optional<ServiceState> serviceState() const { return m_state; }

private:
    void receiveState();

    // Takes what the service sent; closes the port at the end of the stream.
    void receive();
    void close(Ended why = Ended::No);
    int fail(int error, const PortFailure &why);

    QLocalSocket m_socket;
    ShareProtocol::Decoder m_decoder;
    QLocalSocket m_stateSocket;
    ShareProtocol::Decoder m_stateDecoder;
    std::optional<ServiceState> m_state;
    QList<ReceivedChunk> m_chunks;
    bool m_open = false;
    bool m_greeted = false;
    MonotonicTime m_greetingDue;
    Ended m_ended = Ended::No;
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
//
// When the service's stream ends because the service stopped (a restart, an upgrade), the port
// stays open and silent and tries again every RetryInterval: the service, and once the service
// has been away for ServiceGrace, then the device itself, so that a service that is only
// restarting gets its device back before the window would take it. When the service said its
// device went away, the port closes as the device's own does.
class ServiceOrDevicePort : public SerialPort
{
public:
    explicit ServiceOrDevicePort(SerialPort *device);

    int portOpen(bool *open) override;
    int setPortOpen(bool open) override;
    int setCommPort(qint16 number) override;
    int input(QList<ReceivedChunk> *chunks) override;
    PortFailure lastFailure() const override;

    static constexpr std::chrono::milliseconds RetryInterval{2000};
    static constexpr std::chrono::seconds ServiceGrace{30};

    // Whether the latest open went through the service.
    bool throughService() const { return m_throughService; }
    ServiceClientPort *service() { return &m_service; }
    // Whether the service stopped and the port is trying to read again.
    bool reconnecting() const { return m_reconnecting; }
    // Each open, and each time it read again after the service came back.
    int streamsBegun() const override { return m_streamsBegun; }
    // What the service's state says, while the port reads through it.
    std::optional<KeepingTime> keepingTime() const override;

private:
    // Once the service stopped: one more try, when it is time.
    void tryAgain();

    SerialPort *active()
    {
        return m_throughService ? static_cast<SerialPort *>(&m_service) : m_device;
    }

    SerialPort *m_device;
    ServiceClientPort m_service;
    bool m_throughService = false;
    bool m_reconnecting = false;
    MonotonicTime m_serviceGoneAt;
    MonotonicTime m_nextTry;
    int m_streamsBegun = 0;
};
