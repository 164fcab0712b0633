#include "share/serviceclientport.h"

#include "serial/portdevice.h"
#include "share/shareprotocol.h"

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
    m_device.clear();
    // A listening service accepts a local connection at once: only a socket nobody listens on
    // (or may not be opened) leaves it unconnected.
    m_socket.connectToServer(path, QIODevice::ReadWrite);
    if (m_socket.state() != QLocalSocket::ConnectedState) {
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
    // The state, when the service offers it; none from a service that predates it.
    m_stateDecoder = ShareProtocol::Decoder();
    m_state.reset();
    m_stateSocket.connectToServer(stateSocketPath(path), QIODevice::ReadWrite);
    if (m_stateSocket.state() != QLocalSocket::ConnectedState)
        m_stateSocket.abort();
#ifdef Q_OS_WIN
    else if (checkPipeServer(HANDLE(m_stateSocket.socketDescriptor())).result
             != ServerCheck::Service)
        m_stateSocket.abort();
#endif
    m_open = true;
    m_greeted = false;
    m_greetingDue = MonotonicClock::now() + AnswerTimeout;
    m_ended = Ended::No;
    receive(); // a greeting that is there already
    return SerialOk;
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
        if (!m_greeted) {
            // The greeting: the hello, then the device the service holds.
            if (message->type != ShareProtocol::Type::Device) {
                close(Ended::ServiceGone);
                return;
            }
            m_greeted = true;
            m_device = message->device;
        } else if (message->type == ShareProtocol::Type::Chunk) {
            m_chunks.append(message->chunk);
        } else if (message->type == ShareProtocol::Type::End) {
            close(message->reason == ShareProtocol::EndReason::DeviceGone ? Ended::DeviceGone
                                                                          : Ended::ServiceGone);
            return;
        }
    }
    receiveState();
    if (m_decoder.broken() || m_socket.state() != QLocalSocket::ConnectedState
        || (!m_greeted && MonotonicClock::now() >= m_greetingDue))
        close(Ended::ServiceGone);
}

void ServiceClientPort::receiveState()
{
    if (m_stateSocket.state() != QLocalSocket::ConnectedState)
        return;
    m_stateSocket.waitForReadyRead(0);
    m_stateDecoder.append(m_stateSocket.readAll());
    while (const std::optional<ShareProtocol::Message> message = m_stateDecoder.next()) {
        if (message->type == ShareProtocol::Type::State)
            m_state = message->state;
        else if (message->type == ShareProtocol::Type::End)
            m_stateSocket.abort();
    }
    if (m_stateDecoder.broken())
        m_stateSocket.abort();
}

void ServiceClientPort::close(Ended why)
{
    m_open = false;
    m_ended = why;
    m_chunks.clear();
    m_socket.abort();
    m_stateSocket.abort();
    m_state.reset();
}

int ServiceClientPort::fail(int error, const PortFailure &why)
{
    m_lastFailure = why;
    return error;
}

ServiceOrDevicePort::ServiceOrDevicePort(SerialPort *device) : m_device(device) {}

int ServiceOrDevicePort::portOpen(bool *open)
{
    if (m_reconnecting) {
        tryAgain();
        if (m_reconnecting) {
            *open = true; // silent, not closed
            return SerialOk;
        }
    }
    const int result = active()->portOpen(open);
    if (result == SerialOk && !*open && m_throughService
        && m_service.ended() == ServiceClientPort::Ended::ServiceGone) {
        m_reconnecting = true;
        m_serviceGoneAt = MonotonicClock::now();
        m_nextTry = m_serviceGoneAt + RetryInterval;
        *open = true;
    }
    return result;
}

void ServiceOrDevicePort::tryAgain()
{
    const MonotonicTime now = MonotonicClock::now();
    if (now < m_nextTry)
        return;
    m_nextTry = now + RetryInterval;
    if (m_service.setPortOpen(true) == SerialOk) {
        m_throughService = true;
    } else if (now - m_serviceGoneAt >= ServiceGrace && m_device->setPortOpen(true) == SerialOk) {
        m_throughService = false;
    } else {
        return;
    }
    m_reconnecting = false;
    ++m_streamsBegun;
}

int ServiceOrDevicePort::setPortOpen(bool open)
{
    if (m_reconnecting) {
        m_reconnecting = false;
        if (!open)
            return SerialOk; // closed already, as far as the device goes
    }
    if (!open)
        return active()->setPortOpen(false);
    bool alreadyOpen = false;
    if (active()->portOpen(&alreadyOpen) == SerialOk && alreadyOpen)
        return active()->setPortOpen(true); // fails as the open port's own would
    m_throughService = m_service.setPortOpen(true) == SerialOk;
    const int result = m_throughService ? SerialOk : m_device->setPortOpen(true);
    if (result == SerialOk)
        ++m_streamsBegun;
    return result;
}

int ServiceOrDevicePort::setCommPort(qint16 number)
{
    if (m_reconnecting)
        return SerialPortIsOpen;
    const int result = active()->setCommPort(number);
    if (result != SerialOk)
        return result;
    m_service.setCommPort(number);
    return m_device->setCommPort(number);
}

int ServiceOrDevicePort::input(QList<ReceivedChunk> *chunks)
{
    if (m_reconnecting) {
        chunks->clear();
        return SerialOk;
    }
    return active()->input(chunks);
}

PortFailure ServiceOrDevicePort::lastFailure() const
{
    return m_throughService ? m_service.lastFailure() : m_device->lastFailure();
}

std::optional<KeepingTime> ServiceOrDevicePort::keepingTime() const
{
    const std::optional<ServiceState> state = m_service.serviceState();
    if (!m_throughService || m_reconnecting || !state)
        return std::nullopt;
    using Reason = KeepingTime::Reason;
    const auto notFollowed = [](Reason reason) {
        return KeepingTime{KeepingTime::State::NotFollowed, reason};
    };
    if (state->port != ServiceState::Port::Open)
        return notFollowed(Reason::NoDevice);
    switch (state->deviceClock) {
    case ServiceState::DeviceClock::Starting:
        return notFollowed(Reason::Checking);
    case ServiceState::DeviceClock::Jumped:
        return notFollowed(Reason::DeviceClockJumped);
    case ServiceState::DeviceClock::Stopped:
        return notFollowed(Reason::DeviceClockStopped);
    case ServiceState::DeviceClock::Implausible:
        return notFollowed(Reason::ImplausibleDate);
    case ServiceState::DeviceClock::Agrees:
        break;
    }
    if (state->calibrating)
        return KeepingTime{KeepingTime::State::Calibrating, Reason::None};
    if (state->provider == ServiceState::Provider::Absent)
        return notFollowed(Reason::NoTimeService);
    switch (state->chrony) {
    case ServiceState::Chrony::NoChrony:
        return notFollowed(Reason::NoChrony);
    case ServiceState::Chrony::NotSynchronised:
        return notFollowed(Reason::NotSynchronised);
    case ServiceState::Chrony::FollowsOther:
        return notFollowed(Reason::FollowsOther);
    case ServiceState::Chrony::FollowsDevice:
    case ServiceState::Chrony::Unknown: // not asked (Windows): the samples go out
        break;
    }
    return KeepingTime{KeepingTime::State::KeepsTime, Reason::None};
}
