#include "share/deviceshare.h"

#include <QFile>
#include <QFileInfo>

#ifndef Q_OS_WIN
#include <cerrno>
#include <cstring>
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

DeviceShare::DeviceShare(const std::function<void(const QString &)> &log, qint64 clientBuffer,
                         QObject *parent)
    : QObject(parent), m_log(log), m_socket(log, clientBuffer, this),
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
    if (offered() && device == m_device)
        return;
    withdraw(ShareProtocol::EndReason::DeviceGone);
    if (!m_clockShared)
        return;
#ifndef Q_OS_WIN
    if (!QFileInfo(shareFolder()).isDir())
        return;
#endif
    const QString path = shareSocketPath(device);
    m_device = device;
    if (path.isEmpty())
        return;
    if (!m_socket.listen(
            path, [this] { return ShareProtocol::hello() + ShareProtocol::device(m_device); })) {
        m_log(tr("No se puede compartir el dispositivo en %1: %2.")
                  .arg(path, m_socket.errorString()));
        return;
    }
#ifndef Q_OS_WIN
    const QString refused = giveToDeviceGroup(path, device);
    if (!refused.isEmpty())
        m_log(tr("El socket %1 no pasó al grupo de %2 (%3): solo lo abre el grupo del servicio.")
                  .arg(path, device, refused));
#endif
}

void DeviceShare::publish(const QList<ReceivedChunk> &chunks)
{
    if (m_socket.clientCount() == 0)
        return;
    QByteArray stream;
    for (const ReceivedChunk &chunk : chunks)
        stream += ShareProtocol::chunk(chunk);
    if (!stream.isEmpty())
        m_socket.broadcast(stream);
}

void DeviceShare::withdraw(ShareProtocol::EndReason reason)
{
    m_socket.close(ShareProtocol::end(reason));
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
