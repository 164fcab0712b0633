#include "deviceserialport.h"

#include "portdevice.h"
#include "portreader.h"

namespace {

// Runs `work` on `reader`'s thread and waits for its result.
template <typename Work> auto onThreadOf(PortReader *reader, Work work)
{
    decltype(work()) result{};
    QMetaObject::invokeMethod(reader, work, Qt::BlockingQueuedConnection, &result);
    return result;
}

} // namespace

DeviceSerialPort::DeviceSerialPort(QObject *parent)
    : QObject(parent), m_reader(new PortReader(&m_received))
{
    m_thread.setObjectName(QStringLiteral("serial port reader"));
    m_reader->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_reader, &QObject::deleteLater);
    connect(m_reader, &PortReader::deviceLost, this, &DeviceSerialPort::deviceLost);
    m_thread.start();
}

DeviceSerialPort::~DeviceSerialPort()
{
    if (m_reader->isOpen())
        onThreadOf(m_reader, [this] { return m_reader->close(); });
    m_thread.quit();
    m_thread.wait();
}

int DeviceSerialPort::portOpen(bool *open)
{
    *open = m_reader->isOpen();
    return SerialOk;
}

int DeviceSerialPort::setPortOpen(bool open)
{
    if (!open) {
        if (!m_reader->isOpen())
            return SerialNotOpen;
        return onThreadOf(m_reader, [this] { return m_reader->close(); }) ? SerialOk
                                                                          : SerialCloseFailed;
    }

    if (m_reader->isOpen())
        return SerialPortIsOpen;
    m_device = portDevice(m_number);
    if (m_device.isEmpty())
        return SerialNoDevice;
    PortReader::OpenFailure failure;
    const QString device = m_device;
    const bool opened =
        onThreadOf(m_reader, [this, device, &failure] { return m_reader->open(device, &failure); });
    return opened ? SerialOk : SerialOpenFailed;
}

int DeviceSerialPort::setCommPort(qint16 number)
{
    if (m_reader->isOpen())
        return SerialPortIsOpen;
    m_number = number;
    return SerialOk;
}

int DeviceSerialPort::input(QList<ReceivedChunk> *chunks)
{
    chunks->clear();
    if (!m_reader->isOpen())
        return SerialNotOpen;
    *chunks = m_received.take();
    return SerialOk;
}
