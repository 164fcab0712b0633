#pragma once

#include "receivedbuffer.h"

#include <QObject>
#include <QSerialPort>
#include <QString>

#include <atomic>

// The serial port on the reading thread: it does nothing but wait for bytes and date them the
// moment they arrive, so that a busy window cannot delay the dating of a frame's "$". What
// it reads goes into a ReceivedBuffer, which the poll empties. A device that goes away closes
// the port here, and deviceLost() tells the owner.
//
// open() and close() run on the reading thread; isOpen() may be asked from any thread.
class PortReader : public QObject
{
    Q_OBJECT

public:
    // Why an open or a close failed: QSerialPort's error and its own text.
    struct Failure
    {
        QSerialPort::SerialPortError error = QSerialPort::NoError;
        QString text;
    };

    explicit PortReader(ReceivedBuffer *received);

    // Opens `device` for reading (4800 8N1, no flow control) and starts over the received
    // input. Whatever was waiting in the system for the device is dropped.
    bool open(const QString &device, Failure *failure);
    // Closes the port; false when the system reported a failure while closing.
    bool close(Failure *failure = nullptr);
    bool isOpen() const { return m_open; }

signals:
    // The device went away while the port was open; the port is now closed.
    void deviceLost();

private:
    void takeBytes();
    void handleError(QSerialPort::SerialPortError error);
    void closeLostDevice();

    QSerialPort *m_port;
    ReceivedBuffer *m_received;
    std::atomic<bool> m_open{false};
};
