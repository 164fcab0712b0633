#include "serial/deviceserialport.h"

#include "serial/portdevice.h"
#include "serial/portreader.h"

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
            return fail(SerialNotOpen, {});
        PortReader::Failure failure;
        if (onThreadOf(m_reader, [this, &failure] { return m_reader->close(&failure); }))
            return SerialOk;
        return fail(
            SerialCloseFailed,
            PortFailure{PortFailure::Kind::Other, m_number, m_device, {}, {}, 0, failure.text});
    }

    if (m_reader->isOpen())
        return fail(SerialPortIsOpen, {});
    m_device = m_devicePath.isEmpty() ? portDevice(m_number) : m_devicePath;
    if (m_device.isEmpty())
        return fail(SerialNoDevice, PortFailure{PortFailure::Kind::NoDevice, m_number});
    PortReader::Failure failure;
    const QString device = m_device;
    if (onThreadOf(m_reader,
                   [this, device, &failure] { return m_reader->open(device, &failure); })) {
        ++m_streamsBegun;
        return SerialOk;
    }
    return fail(SerialOpenFailed, openFailure(m_number, m_device, failure.error, failure.text));
}

int DeviceSerialPort::fail(int error, const PortFailure &why)
{
    m_lastFailure = why;
    return error;
}

int DeviceSerialPort::setCommPort(qint16 number)
{
    if (m_reader->isOpen())
        return fail(SerialPortIsOpen, {});
    m_number = number;
    return SerialOk;
}

int DeviceSerialPort::input(QList<ReceivedChunk> *chunks)
{
    chunks->clear();
    if (!m_reader->isOpen())
        return fail(SerialNotOpen, {});
    *chunks = m_received.take();
    return SerialOk;
}
