#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>

// The line the simulated device sends on: a pseudo-terminal it creates, whose device side the
// reader opens, or a serial device. Sending never blocks: what the line cannot take at once
// is dropped, as a device does when nobody reads.
class DeviceLine
{
public:
    DeviceLine() = default;
    ~DeviceLine();
    DeviceLine(const DeviceLine &) = delete;
    DeviceLine &operator=(const DeviceLine &) = delete;

    // Creates a pseudo-terminal in raw mode and keeps a handle on its device side, so that the
    // line exists before, between and after the reader's opens.
    bool createPseudoTerminal(QString *error);

    // Opens the serial device `path` and sets it to 4800 baud, 8N1, raw.
    bool openSerialDevice(const QString &path, QString *error);

    // The device path the reader opens.
    QString path() const { return m_path; }

    bool isOpen() const { return m_output >= 0; }

    // Whether the line is a pseudo-terminal, where a byte is readable the moment it is sent;
    // on a serial device, the last of its bits leaves a character time later.
    bool isPseudoTerminal() const { return m_device >= 0; }

    // Sends one byte; false when it was dropped (the line is full or closed).
    bool send(char byte);
    // Sends `bytes` in one write, so that the reader finds them together; returns how many
    // went, the rest being dropped.
    qsizetype send(const QByteArray &bytes);

    // Sends all of `bytes`, waiting while the line is full, but never longer than `timeout` at
    // a time without progress: a device that sends faster than the reader reads. False when
    // the line stayed full that long or is closed. Safe on a thread of its own while nothing
    // else uses this line.
    bool sendAll(const QByteArray &bytes, std::chrono::milliseconds timeout);

    // Pseudo-terminal only: takes what the reader wrote to the device (a GPS clock device
    // takes no input, so the reader should never write anything).
    QByteArray takeWritten();

    // Pseudo-terminal only, called between frames: when nobody has read anything of what was
    // sent since the last call, throws it away, as a serial port that nobody has open does,
    // so that a reader who opens the line later starts with fresh frames, not a backlog. Also
    // discards whatever the reader wrote to the device.
    void dropUnread();

    // Bytes sent that the reader has not taken yet (or, on a serial device, that have not
    // gone out yet).
    qint64 unread() const;

    // Closes the line: the reader of a pseudo-terminal sees end of file or an I/O error, and
    // loses what it has not read yet.
    void hangUp();

    // Pseudo-terminal only: lets go of the own handle on the device side, so that the reader's
    // is the only one (the line then hangs up when the reader closes it).
    void closeDeviceSide();

private:
    int m_output = -1; // where bytes are written: the controller side, or the serial device
    int m_device = -1; // the own handle on a pseudo-terminal's device side
    QString m_path;
    qint64 m_queuedAtCheck = 0; // unread bytes on the device side after the last dropUnread()
    qint64 m_sentSinceCheck = 0;
};
