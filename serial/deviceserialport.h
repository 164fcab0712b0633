#pragma once

#include "core/serialport.h"
#include "serial/receivedbuffer.h"

#include <QObject>
#include <QString>
#include <QThread>

class PortReader;

// The serial port on a real device: 4800 baud, 8 data bits, no parity, one stop bit, no flow
// control, opened for reading only. A thread of its own reads the port and dates each read as
// it arrives; input() hands over what arrived since the previous call, so the poll may come
// late without the dates coming late. A device that goes away (USB adapter pulled,
// pseudo-terminal hung up) closes the port, so that it reads as closed instead of failing
// again and again; opening the port again resumes reception once the device is back. Input
// lost in between is marked with a line end: when more arrived than the port keeps between
// two reads, and at the start of every open that follows input received earlier.
class DeviceSerialPort : public QObject, public SerialPort
{
    Q_OBJECT

public:
    explicit DeviceSerialPort(QObject *parent = nullptr);
    ~DeviceSerialPort() override;

    int portOpen(bool *open) override;
    int setPortOpen(bool open) override;
    int setCommPort(qint16 number) override;
    int input(QList<ReceivedChunk> *chunks) override;
    PortFailure lastFailure() const override { return m_lastFailure; }
    int streamsBegun() const override { return m_streamsBegun; }

    // Opens this device (a path such as /dev/ttyUSB0) instead of the port number's, from the
    // next open on; an empty path goes back to the port number.
    void setDevicePath(const QString &path) { m_devicePath = path; }

    // The device the port is open on, or was last opened on.
    QString deviceName() const { return m_device; }

private:
    // Records why an operation failed and returns its error number.
    int fail(int error, const PortFailure &why);

    ReceivedBuffer m_received;
    QThread m_thread;
    PortReader *m_reader; // lives on m_thread
    qint16 m_number = 0;
    QString m_devicePath; // when set, the device to open whatever the port number
    QString m_device;     // the device the port is open on, or was last opened on
    PortFailure m_lastFailure;
    int m_streamsBegun = 0;
};
