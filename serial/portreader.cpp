#include "serial/portreader.h"

#include <QTimer>

namespace {

// At most this much is read in one go, so that a flood cannot hold the reading thread.
constexpr qint64 MostBytesPerTake = qint64(64) * 1024;

} // namespace

#ifdef Q_OS_LINUX
PortReader::PortReader(ReceivedBuffer *received)
    : PortReader(received, SerialSettingsRequests::system())
{
}

PortReader::PortReader(ReceivedBuffer *received, SerialSettingsRequests requests)
    : m_port(new QSerialPort(this)), m_gathering(new QTimer(this)),
      m_lowLatency(std::move(requests)), m_received(received)
#else
PortReader::PortReader(ReceivedBuffer *received)
    : m_port(new QSerialPort(this)), m_gathering(new QTimer(this)), m_received(received)
#endif
{
    m_port->setBaudRate(LineBaud);
    m_port->setDataBits(QSerialPort::Data8);
    m_port->setParity(QSerialPort::NoParity);
    m_port->setStopBits(QSerialPort::OneStop);
    m_port->setFlowControl(QSerialPort::NoFlowControl);
    // One byte is all the port reads by itself: enough to learn that a burst has begun. With
    // that byte held, the port stops listening until takeBytes() empties it.
    m_port->setReadBufferSize(1);
    m_gathering->setSingleShot(true);
    m_gathering->setTimerType(Qt::PreciseTimer);
    m_gathering->setInterval(Gathering);
    connect(m_gathering, &QTimer::timeout, this, &PortReader::takeBytes);
    connect(m_port, &QSerialPort::readyRead, this, &PortReader::noticeArrival);
    connect(m_port, &QSerialPort::errorOccurred, this, &PortReader::handleError);
}

bool PortReader::open(const QString &device, Failure *failure)
{
    m_port->setPortName(device);
    if (!m_port->open(QIODevice::ReadOnly)) {
        *failure = Failure{m_port->error(), m_port->errorString()};
        m_port->clearError();
        return false;
    }
#ifdef Q_OS_LINUX
    m_lowLatency.request(int(m_port->handle()));
#endif
    m_port->clear(QSerialPort::Input); // start from what arrives from now on
    m_firstArrival.reset();
    m_gathering->stop();
    m_received->restart(MonotonicClock::now());
    m_open = true;
    return true;
}

bool PortReader::close(Failure *failure)
{
    m_open = false;
    m_gathering->stop();
    restoreSettings();
    m_port->close();
    const QSerialPort::SerialPortError error = m_port->error();
    const bool closed =
        error == QSerialPort::NoError || error == QSerialPort::UnsupportedOperationError;
    if (!closed && failure)
        *failure = Failure{error, m_port->errorString()};
    m_port->clearError();
    return closed;
}

void PortReader::restoreSettings()
{
#ifdef Q_OS_LINUX
    if (m_port->isOpen())
        m_lowLatency.restore(int(m_port->handle()));
#endif
}

void PortReader::noticeArrival()
{
    // Only the first byte of a burst counts. The reads takeBytes() makes signal too, but run
    // while that byte's arrival is known, so they change nothing.
    if (m_firstArrival)
        return;
    m_firstArrival = MonotonicClock::now();
    m_gathering->start();
}

void PortReader::takeBytes()
{
    if (!m_firstArrival)
        return;
    // Lift the limit for a moment and let the port read, without waiting, everything the
    // system holds for it; then go back to listening for the next burst's first byte.
    m_port->setReadBufferSize(0);
    while (m_port->bytesAvailable() < MostBytesPerTake && m_port->waitForReadyRead(0)) {
    }
    if (m_port->error() == QSerialPort::TimeoutError)
        m_port->clearError(); // the system held nothing more: not a fault
    const QByteArray bytes = m_port->readAll();
    m_port->setReadBufferSize(1);
    const MonotonicTime now = MonotonicClock::now();
    const MonotonicTime first = *std::exchange(m_firstArrival, std::nullopt);
    if (bytes.isEmpty())
        return;

    // The first byte is dated by the wake-up it caused, the others back from now: if the line
    // is still busy, as it is for a frame that began after the first byte, the last of them
    // arrived within the last character time, half of one ago at best guess.
    m_received->append(bytes.left(1), first);
    m_received->append(bytes.mid(1), now - CharacterTime / 2);
}

void PortReader::handleError(QSerialPort::SerialPortError error)
{
    // A device that went away reports these over and over while the port stays open; close
    // it once control is back in the event loop, out of QSerialPort's own notification.
    if (error == QSerialPort::ReadError || error == QSerialPort::ResourceError)
        QMetaObject::invokeMethod(this, &PortReader::closeLostDevice, Qt::QueuedConnection);
}

void PortReader::closeLostDevice()
{
    if (!m_port->isOpen())
        return;
    m_open = false;
    m_gathering->stop();
    restoreSettings();
    m_port->close();
    m_port->clearError();
    emit deviceLost();
}
