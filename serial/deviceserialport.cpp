#include "deviceserialport.h"

#include "portdevice.h"

#include <algorithm>

namespace {

const QByteArray LineEnd("\r\n");
// At most this much is read in one go, so that a flood cannot hold the window.
constexpr qint64 MostBytesPerTake = qint64(64) * 1024;

} // namespace

DeviceSerialPort::DeviceSerialPort(QObject *parent) : QObject(parent)
{
    m_port.setBaudRate(QSerialPort::Baud4800);
    m_port.setDataBits(QSerialPort::Data8);
    m_port.setParity(QSerialPort::NoParity);
    m_port.setStopBits(QSerialPort::OneStop);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    // One byte is all the port reads by itself: enough to learn that a burst has begun. With
    // that byte held, the port stops listening until takeWaitingBytes() empties it.
    m_port.setReadBufferSize(1);
    connect(&m_port, &QSerialPort::readyRead, this, &DeviceSerialPort::noticeArrival);
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
    m_device = m_devicePath.isEmpty() ? portDevice(m_number) : m_devicePath;
    if (m_device.isEmpty())
        return SerialNoDevice;
    m_port.setPortName(m_device);
    m_pending.clear();
    m_arrivals.clear();
    m_firstArrival.reset();
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
    if (m_firstArrival)
        takeWaitingBytes();
    *text = QString::fromLatin1(m_pending);
    arrivals->swap(m_arrivals);
    m_pending.clear();
    return SerialOk;
}

void DeviceSerialPort::noticeArrival()
{
    // Only the first byte of a burst counts. The reads takeWaitingBytes() makes signal too,
    // but run while that byte's arrival is known, so they change nothing.
    if (!m_firstArrival)
        m_firstArrival = MonotonicClock::now();
}

void DeviceSerialPort::takeWaitingBytes()
{
    // Lift the limit for a moment and let the port read, without waiting, everything the
    // system holds for it, a system buffer at a time; then go back to listening for the next
    // burst's first byte. A line never fills more than a read or two between polls; the bound
    // only keeps a pseudo-terminal flooding faster than any line from holding the window here.
    m_port.setReadBufferSize(0);
    while (m_port.bytesAvailable() < MostBytesPerTake && m_port.waitForReadyRead(0)) {
    }
    if (m_port.error() == QSerialPort::TimeoutError)
        m_port.clearError(); // the system held nothing more: not a fault
    const QByteArray bytes = m_port.readAll();
    m_port.setReadBufferSize(1);

    const MonotonicTime first = *m_firstArrival;
    m_firstArrival.reset();
    if (bytes.isEmpty())
        return;
    m_receivedBefore = true;
    // Byte i came i character times after the first at the earliest (a line delivers no
    // faster), and no later than now, less the time the bytes behind it took on a line. A
    // pseudo-terminal delivers faster than any line; no byte is dated before the first.
    const MonotonicTime now = MonotonicClock::now();
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const MonotonicTime latest = now - (bytes.size() - 1 - i) * CharacterTime;
        m_arrivals.append(std::max<MonotonicTime>(first, std::min<MonotonicTime>(first + i * CharacterTime, latest)));
    }
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
