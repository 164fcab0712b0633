#pragma once

#include "core/serialport.h"
#include "share/localshare.h"
#include "share/shareprotocol.h"

#include <QList>
#include <QObject>
#include <QString>

#include <functional>

// quorvel-refclock's device offered to local clients (the window) over a local socket, in the
// stream that share/shareprotocol.h defines: a Unix socket on Linux, a named pipe on Windows.
// The socket is the device's: on Linux mode 0660 and the device's group, so that only those
// who may open the device may read it; on Windows, where anyone may open a COM port, anyone. A
// client that falls behind by more than its buffer's bound, or sends anything at all, is dropped;
// nothing a client does blocks or slows the service.
class DeviceShare : public QObject
{
    Q_OBJECT

public:
    // Most bytes that may wait in the service for one client, past what the system's socket
    // buffer (set to its least) holds: at the line's 480 bytes a second and the stream's
    // framing, minutes of the line.
    static constexpr qint64 DefaultClientBuffer = 16 * qint64(1024);
    static constexpr int MaxClients = LocalShare::MaxClients;

    // `log` gets one line per trouble: the socket could not be made, a client was dropped.
    // `clientBuffer`: the bound above.
    explicit DeviceShare(const std::function<void(const QString &)> &log,
                         qint64 clientBuffer = DefaultClientBuffer, QObject *parent = nullptr);
    ~DeviceShare() override;

    // Offers `device`, just opened, at its socket in the share folder; on Linux does nothing
    // when the folder does not exist (the service runs outside its unit).
    void offer(const QString &device);
    // Sends what was read to every client.
    void publish(const QList<ReceivedChunk> &chunks);
    // Ends every client's stream with `reason` and takes the socket away.
    void withdraw(ShareProtocol::EndReason reason);

    bool offered() const { return m_socket.listening(); }
    int clientCount() const { return m_socket.clientCount(); }
    QString socketPath() const { return m_socket.path(); }

private:
    std::function<void(const QString &)> m_log;
    LocalShare m_socket;
    // The stream dates each chunk on CLOCK_MONOTONIC; a program whose monotonic clock is
    // another shares nothing, since its clients would misdate every frame.
    bool m_clockShared;
    QString m_device;
};

// The service's serial port: the device's own (`device`), offering what it reads to `share`'s
// clients. A successful open offers the device, named by `deviceName` (the path the port
// number stood for); a close, or the device going away, withdraws it.
class SharingSerialPort : public SerialPort
{
public:
    SharingSerialPort(SerialPort *device, std::function<QString()> deviceName, DeviceShare *share);

    int portOpen(bool *open) override;
    int setPortOpen(bool open) override;
    int setCommPort(qint16 number) override;
    int input(QList<ReceivedChunk> *chunks) override;
    PortFailure lastFailure() const override;
    int streamsBegun() const override { return m_device->streamsBegun(); }

private:
    void withdraw();

    SerialPort *m_device;
    std::function<QString()> m_deviceName;
    DeviceShare *m_share;
};
