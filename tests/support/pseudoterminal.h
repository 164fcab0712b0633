#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

// A real pseudo-terminal: the program opens its device like a serial port, and the test plays
// the device on the other side.
class PseudoTerminal
{
public:
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    bool isValid() const { return !m_path.isEmpty(); }

    // The device path the program opens.
    QString path() const { return m_path; }

    // Plays the device: sends `bytes` to whoever has the device open.
    bool send(const QByteArray &bytes);

    // Plays a device that sends faster than the program reads: sends all of `bytes`, waiting
    // while the line is full, but never longer than `timeout` at a time without progress.
    // False when the line stayed full that long or is gone. Safe to call from a thread of its
    // own while nothing else uses this object.
    bool sendAll(const QByteArray &bytes, std::chrono::milliseconds timeout);

    // What the program wrote to the device (it must never write anything).
    QByteArray written();

    // The device goes away: its side of the line closes.
    void hangUp();

    // Our own handle on the device side, kept open only so the line exists before the
    // program opens it; closing it leaves the program's handle the only one.
    void closeDeviceSide();

private:
    int m_controller = -1;
    int m_device = -1;
    QString m_path;
};
