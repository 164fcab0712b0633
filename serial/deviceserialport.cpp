#include "deviceserialport.h"

#include "portdevice.h"

namespace {

const QByteArray LineEnd("\r\n");

} // namespace

DeviceSerialPort::DeviceSerialPort(QObject *parent) : QObject(parent)
{
    m_port.setBaudRate(QSerialPort::Baud4800);
    m_port.setDataBits(QSerialPort::Data8);
    m_port.setParity(QSerialPort::NoParity);
    m_port.setStopBits(QSerialPort::OneStop);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    connect(&m_port, &QSerialPort::readyRead, this, &DeviceSerialPort::receive);
    connect(&m_port, &QSerialPort::errorOccurred, this, &DeviceSerialPort::handleError);
}

DeviceSerialPort::~DeviceSerialPort()
{
    // Close here, while this object is whole, rather than from QSerialPort's destructor.
    m_port.close();
}

int DeviceSerialPort::portOpen(bool *open)
{
    *open = m_port.isOpen();
    return SerialOk;
}

int DeviceSerialPort::setPortOpen(bool open)
{
    if (!open) {
        if (!m_port.isOpen())
            return SerialNotOpen;
        m_port.close();
        return m_port.error() == QSerialPort::NoError ||
                       m_port.error() == QSerialPort::UnsupportedOperationError
                   ? SerialOk
                   : SerialCloseFailed;
    }

    if (m_port.isOpen())
        return SerialPortIsOpen;
    m_device = portDevice(m_number);
    if (m_device.isEmpty())
        return SerialNoDevice;
    m_port.setPortName(m_device);
    m_pending.clear();
    m_arrivals.clear();
    if (!m_port.open(QIODevice::ReadOnly))
        return SerialOpenFailed;
    m_port.clear(QSerialPort::Input); // start from what arrives from now on
    // What was read before may end in a frame cut short by the close (a device pulled out in
    // the middle of a frame). Mark the gap with a line end, so that the end of some frame
    // arriving first now cannot complete that one.
    if (m_receivedBefore)
        replaceWithGapMark(0, MonotonicClock::now());
    return SerialOk;
}

int DeviceSerialPort::setCommPort(qint16 number)
{
    if (m_port.isOpen())
        return SerialPortIsOpen;
    m_number = number;
    return SerialOk;
}

int DeviceSerialPort::input(QString *text, QList<MonotonicTime> *arrivals)
{
    text->clear();
    arrivals->clear();
    if (!m_port.isOpen())
        return SerialNotOpen;
    *text = QString::fromLatin1(m_pending);
    arrivals->swap(m_arrivals);
    m_pending.clear();
    return SerialOk;
}

void DeviceSerialPort::receive()
{
    const QByteArray bytes = m_port.readAll();
    if (bytes.isEmpty())
        return;
    m_receivedBefore = true;
    // The last byte arrived just now; those before it one character time apart each.
    const MonotonicTime now = MonotonicClock::now();
    for (qsizetype i = 0; i < bytes.size(); ++i)
        m_arrivals.append(now - (bytes.size() - 1 - i) * CharacterTime);
    m_pending += bytes;

    // Nobody has read for two seconds: keep the newest bytes, and start them with a line
    // end so that a frame cut in two by the loss can never join its far end into a frame.
    if (m_pending.size() > ReceiveBufferSize) {
        const qsizetype drop = m_pending.size() - ReceiveBufferSize + LineEnd.size();
        replaceWithGapMark(drop, m_arrivals.at(drop));
    }
}

void DeviceSerialPort::replaceWithGapMark(qsizetype count, MonotonicTime when)
{
    m_pending = LineEnd + m_pending.mid(count);
    m_arrivals = QList<MonotonicTime>(LineEnd.size(), when) + m_arrivals.mid(count);
}

void DeviceSerialPort::handleError(QSerialPort::SerialPortError error)
{
    // A device that went away reports these over and over while the port stays open; close
    // it once control is back in the event loop, out of QSerialPort's own notification.
    if (error == QSerialPort::ReadError || error == QSerialPort::ResourceError)
        QMetaObject::invokeMethod(this, &DeviceSerialPort::closeLostDevice, Qt::QueuedConnection);
}

void DeviceSerialPort::closeLostDevice()
{
    if (!m_port.isOpen())
        return;
    m_port.close();
    emit deviceLost();
}
