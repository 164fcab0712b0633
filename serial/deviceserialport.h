#pragma once

#include "serialport.h"

#include <QByteArray>
#include <QObject>
#include <QSerialPort>

#include <chrono>
#include <optional>

// The serial port on a real device: 4800 baud, 8 data bits, no parity, one stop bit, no flow
// control, opened for reading only. Received bytes are handed over by input(), each with its
// arrival time. A device that goes away (USB adapter pulled, pseudo-terminal hung up) closes the
// port, so that it reads as closed instead of failing again and again; opening the port again
// resumes reception once the device is back. Input lost in between is marked with a line end:
// when more arrived than one input() hands over, and at the start of every open that follows
// input received earlier.
//
// The program is woken once per burst of input, not once per character: the port holds one
// byte of its own, notes when it arrived, and leaves the rest in the system's buffer until
// input() takes everything at once. A device sends a frame's characters back to back, so the
// first one dates those behind it.
class DeviceSerialPort : public QObject, public SerialPort
{
    Q_OBJECT

public:
    // Most bytes one input() hands over; at 4800 baud about two seconds of the line, which a
    // reader polling ten times a second never reaches.
    static constexpr int ReceiveBufferSize = 1024;
    // One character on the line: start bit, 8 data bits, stop bit at 4800 baud.
    static constexpr std::chrono::nanoseconds CharacterTime{10 * 1'000'000'000LL / 4800};

    explicit DeviceSerialPort(QObject *parent = nullptr);
    ~DeviceSerialPort() override;

    int portOpen(bool *open) override;
    int setPortOpen(bool open) override;
    int setCommPort(qint16 number) override;
    int input(QString *text, QList<MonotonicTime> *arrivals) override;

    // Opens this device (a path such as /dev/ttyUSB0) instead of the port number's, from the
    // next open on; an empty path goes back to the port number.
    void setDevicePath(const QString &path) { m_devicePath = path; }

    // The device the port is open on, or was last opened on.
    QString deviceName() const { return m_device; }

signals:
    // The device went away while the port was open; the port is now closed.
    void deviceLost();

private:
    void noticeArrival();
    void takeWaitingBytes();
    void handleError(QSerialPort::SerialPortError error);
    void closeLostDevice();
    // Replaces the first `count` pending bytes, lost or about to be, with a line end that
    // arrived at `when`, so that no frame can join across the gap.
    void replaceWithGapMark(qsizetype count, MonotonicTime when);

    QSerialPort m_port;
    qint16 m_number = 0;
    QString m_devicePath; // when set, the device to open whatever the port number
    QString m_device;
    QByteArray m_pending;
    QList<MonotonicTime> m_arrivals;
    // When the first byte not yet taken arrived; empty while nothing waits.
    std::optional<MonotonicTime> m_firstArrival;
    bool m_receivedBefore = false; // whether any byte has arrived since construction
};
