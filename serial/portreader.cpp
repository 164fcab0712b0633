#include "portreader.h"

PortReader::PortReader(ReceivedBuffer *received)
    : m_port(new QSerialPort(this)), m_received(received)
{
    m_port->setBaudRate(QSerialPort::Baud4800);
    m_port->setDataBits(QSerialPort::Data8);
    m_port->setParity(QSerialPort::NoParity);
    m_port->setStopBits(QSerialPort::OneStop);
    m_port->setFlowControl(QSerialPort::NoFlowControl);
    connect(m_port, &QSerialPort::readyRead, this, &PortReader::takeBytes);
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
    m_port->clear(QSerialPort::Input); // start from what arrives from now on
    m_received->restart(MonotonicClock::now());
    m_open = true;
    return true;
}

bool PortReader::close(Failure *failure)
{
    m_open = false;
    m_port->close();
    const QSerialPort::SerialPortError error = m_port->error();
    const bool closed =
        error == QSerialPort::NoError || error == QSerialPort::UnsupportedOperationError;
    if (!closed && failure)
        *failure = Failure{error, m_port->errorString()};
    m_port->clearError();
    return closed;
}

void PortReader::takeBytes()
{
    // The time first, then the read: the last byte read arrived no later than this.
    const MonotonicTime now = MonotonicClock::now();
    m_received->append(m_port->readAll(), now);
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
    m_port->close();
    m_port->clearError();
    emit deviceLost();
}
