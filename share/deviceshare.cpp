#include "share/deviceshare.h"

#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>

#ifndef Q_OS_WIN
#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Gives the socket at `path` the group of `device` and mode 0660; the reason when it could not.
QString giveToDeviceGroup(const QString &path, const QString &device)
{
    const QByteArray socketName = QFile::encodeName(path);
    struct stat status
    {
    };
    if (::stat(QFile::encodeName(device).constData(), &status) != 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    struct stat socketStatus
    {
    };
    const bool sameGroup =
        ::stat(socketName.constData(), &socketStatus) == 0 && socketStatus.st_gid == status.st_gid;
    // Made with the service's group, which its unit makes the devices' group; otherwise
    // given to the device's, which needs membership of it or CAP_CHOWN.
    if (!sameGroup && ::chown(socketName.constData(), uid_t(-1), status.st_gid) != 0) {
        QString reason = QString::fromLocal8Bit(std::strerror(errno));
        ::chmod(socketName.constData(), 0660);
        return reason;
    }
    if (::chmod(socketName.constData(), 0660) != 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    return {};
}

} // namespace
#endif

DeviceShare::DeviceShare(std::function<void(const QString &)> log, qint64 clientBuffer,
                         QObject *parent)
    : QObject(parent), m_log(std::move(log)), m_clientBuffer(clientBuffer),
      m_clockShared(ShareProtocol::monotonicClockIsShared())
{
    if (!m_clockShared)
        m_log(tr("El reloj monótono de este programa no es CLOCK_MONOTONIC: no se comparte el "
                 "dispositivo, cuyas horas de llegada los clientes leerían mal."));
}

DeviceShare::~DeviceShare()
{
    withdraw(ShareProtocol::EndReason::ServiceStopping);
}

void DeviceShare::offer(const QString &device)
{
    if (m_server != nullptr && device == m_device)
        return;
    withdraw(ShareProtocol::EndReason::DeviceGone);
    if (!m_clockShared)
        return;
#ifndef Q_OS_WIN
    if (!QFileInfo(shareFolder()).isDir())
        return;
#endif
    m_path = shareSocketPath(device);
    m_device = device;
    if (m_path.isEmpty())
        return;
    m_server = new QLocalServer(this);
    m_server->setMaxPendingConnections(MaxClients);
#ifdef Q_OS_WIN
    // Anyone may open a COM port on Windows, and so anyone may read it here; the window checks
    // that the pipe's server is the service (serviceclientport.cpp).
    m_server->setSocketOptions(QLocalServer::WorldAccessOption);
#else
    // A socket left behind by a service that did not end cleanly: nobody listens on it, since
    // only one program at a time holds the device.
    QLocalServer::removeServer(m_path);
#endif
    if (!m_server->listen(m_path)) {
        m_log(tr("No se puede compartir el dispositivo en %1: %2.")
                  .arg(m_path, m_server->errorString()));
        delete m_server;
        m_server = nullptr;
        return;
    }
#ifndef Q_OS_WIN
    const QString refused = giveToDeviceGroup(m_path, device);
    if (!refused.isEmpty())
        m_log(tr("El socket %1 no pasó al grupo de %2 (%3): solo lo abre el grupo del servicio.")
                  .arg(m_path, device, refused));
#endif
    connect(m_server, &QLocalServer::newConnection, this, &DeviceShare::accept);
}

void DeviceShare::accept()
{
    while (QLocalSocket *client = m_server->nextPendingConnection()) {
        if (m_clients.size() >= MaxClients) {
            client->abort();
            client->deleteLater();
            continue;
        }
#ifndef Q_OS_WIN
        // The least the system allows, so that a client that stops reading shows up in
        // bytesToWrite() soon and is dropped at the bound, instead of filling a big buffer.
        const int least = 1;
        ::setsockopt(int(client->socketDescriptor()), SOL_SOCKET, SO_SNDBUF, &least, sizeof least);
#endif
        m_clients.append(client);
        connect(client, &QLocalSocket::readyRead, this,
                [this, client] { drop(client, tr("envió datos; los clientes solo leen")); });
        connect(client, &QLocalSocket::disconnected, this, [this, client] {
            if (m_clients.removeOne(client))
                client->deleteLater();
        });
        send(client, ShareProtocol::hello() + ShareProtocol::device(m_device));
    }
}

void DeviceShare::publish(const QList<ReceivedChunk> &chunks)
{
    if (m_clients.isEmpty())
        return;
    QByteArray stream;
    for (const ReceivedChunk &chunk : chunks)
        stream += ShareProtocol::chunk(chunk);
    if (stream.isEmpty())
        return;
    const QList<QLocalSocket *> clients = m_clients; // send() may drop one
    for (QLocalSocket *client : clients)
        send(client, stream);
}

void DeviceShare::send(QLocalSocket *client, const QByteArray &bytes)
{
    client->write(bytes);
    client->flush(); // as much as the system takes now, without waiting
    if (client->bytesToWrite() > m_clientBuffer)
        drop(client, tr("no lee: más de %1 bytes esperan").arg(m_clientBuffer));
}

void DeviceShare::drop(QLocalSocket *client, const QString &why)
{
    if (!m_clients.removeOne(client))
        return;
    m_log(tr("Cliente de %1 desconectado: %2.").arg(m_path, why));
    client->disconnect(this);
    client->abort();
    client->deleteLater();
}

void DeviceShare::withdraw(ShareProtocol::EndReason reason)
{
    const QByteArray end = ShareProtocol::end(reason);
    for (QLocalSocket *client : std::as_const(m_clients)) {
        client->disconnect(this);
        client->write(end);
        client->flush();
        client->abort();
        client->deleteLater();
    }
    m_clients.clear();
    if (m_server != nullptr) {
        m_server->close();
        delete m_server;
        m_server = nullptr;
#ifndef Q_OS_WIN
        QFile::remove(m_path); // a pipe goes with its server; a Unix socket stays as a file
#endif
    }
}

SharingSerialPort::SharingSerialPort(SerialPort *device, std::function<QString()> deviceName,
                                     DeviceShare *share)
    : m_device(device), m_deviceName(std::move(deviceName)), m_share(share)
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
        m_share->offer(m_deviceName());
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
