#include "share/serviceclientport.h"

#include "serial/portdevice.h"
#include "share/shareprotocol.h"

#include <QDeadlineTimer>

#ifdef Q_OS_WIN
#include "samplepipe/serverprocess.h"
#endif

namespace {

PortFailure noDevice(int number)
{
    PortFailure failure;
    failure.kind = PortFailure::Kind::NoDevice;
    failure.number = number;
    return failure;
}

} // namespace

int ServiceClientPort::portOpen(bool *open)
{
    receive();
    *open = m_open;
    return SerialOk;
}

int ServiceClientPort::setPortOpen(bool open)
{
    if (!open) {
        if (!m_open)
            return fail(SerialNotOpen, {});
        close();
        return SerialOk;
    }
    if (m_open)
        return fail(SerialPortIsOpen, {});

    QString path = m_socketPath;
    if (path.isEmpty()) {
        const QString device = portDevice(m_number);
        if (device.isEmpty())
            return fail(SerialNoDevice, noDevice(m_number));
        path = shareSocketPath(device);
    }
    PortFailure noService;
    noService.kind = PortFailure::Kind::Other;
    noService.number = m_number;
    noService.device = path;
    noService.systemText = QStringLiteral("no service");
    if (path.isEmpty())
        return fail(SerialOpenFailed, noService);

    m_decoder = ShareProtocol::Decoder();
    m_chunks.clear();
    m_socket.connectToServer(path, QIODevice::ReadWrite);
    const QDeadlineTimer deadline(AnswerTimeout);
    if (!m_socket.waitForConnected(int(AnswerTimeout.count()))) {
        m_socket.abort();
        return fail(SerialOpenFailed, noService);
    }
#ifdef Q_OS_WIN
    // Any local program may make a pipe of that name; only the service's is the device's.
    if (checkPipeServer(HANDLE(m_socket.socketDescriptor())).result != ServerCheck::Service) {
        m_socket.abort();
        return fail(SerialOpenFailed, noService);
    }
#endif
    // The greeting: the hello and the device the service holds.
    while (!deadline.hasExpired()) {
        m_decoder.append(m_socket.readAll());
        if (const std::optional<ShareProtocol::Message> first = m_decoder.next()) {
            if (first->type != ShareProtocol::Type::Device)
                break;
            m_device = first->device;
            m_open = true;
            receive(); // chunks that came with the greeting
            return SerialOk;
        }
        if (m_decoder.broken() || m_socket.state() != QLocalSocket::ConnectedState)
            break;
        m_socket.waitForReadyRead(int(qMax<qint64>(deadline.remainingTime(), 1)));
    }
    m_socket.abort();
    return fail(SerialOpenFailed, noService);
}

int ServiceClientPort::setCommPort(qint16 number)
{
    if (m_open)
        return fail(SerialPortIsOpen, {});
    m_number = number;
    return SerialOk;
}

int ServiceClientPort::input(QList<ReceivedChunk> *chunks)
{
    receive();
    chunks->clear();
    if (!m_open)
        return fail(SerialNotOpen, {});
    chunks->swap(m_chunks);
    return SerialOk;
}

void ServiceClientPort::receive()
{
    if (!m_open)
        return;
    if (m_socket.state() == QLocalSocket::ConnectedState)
        m_socket.waitForReadyRead(0); // what arrived, without waiting for more
    m_decoder.append(m_socket.readAll());
    while (const std::optional<ShareProtocol::Message> message = m_decoder.next()) {
        if (message->type == ShareProtocol::Type::Chunk) {
            m_chunks.append(message->chunk);
        } else if (message->type == ShareProtocol::Type::End) {
            close();
            return;
        }
    }
    if (m_decoder.broken() || m_socket.state() != QLocalSocket::ConnectedState)
        close();
}

void ServiceClientPort::close()
{
    m_open = false;
    m_chunks.clear();
    m_socket.abort();
}

int ServiceClientPort::fail(int error, const PortFailure &why)
{
    m_lastFailure = why;
    return error;
}

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
