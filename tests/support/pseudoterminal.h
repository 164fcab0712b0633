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
    PseudoTerminal()
    {
        char name[256] = {};
        if (openpty(&m_controller, &m_device, name, nullptr, nullptr) != 0)
            return;
        m_path = QString::fromLocal8Bit(name);
        // Programs the test starts must not inherit either side: a program would seem to
        // have opened the device before it did, and would keep the line from hanging up.
        fcntl(m_controller, F_SETFD, FD_CLOEXEC);
        fcntl(m_device, F_SETFD, FD_CLOEXEC);
        // Raw, so that CR LF and every byte pass unchanged.
        termios settings{};
        tcgetattr(m_device, &settings);
        cfmakeraw(&settings);
        tcsetattr(m_device, TCSANOW, &settings);
        fcntl(m_controller, F_SETFL, fcntl(m_controller, F_GETFL) | O_NONBLOCK);
    }
    ~PseudoTerminal()
    {
        hangUp();
        closeDeviceSide();
    }
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    bool isValid() const { return !m_path.isEmpty(); }

    // The device path the program opens.
    QString path() const { return m_path; }

    // Plays the device: sends `bytes` to whoever has the device open.
    bool send(const QByteArray &bytes)
    {
        return m_controller >= 0
               && ::write(m_controller, bytes.constData(), size_t(bytes.size())) == bytes.size();
    }

    // Plays a device that sends faster than the program reads: sends all of `bytes`, waiting
    // while the line is full, but never longer than `timeout` at a time without progress.
    // False when the line stayed full that long or is gone. Safe to call from a thread of its
    // own while nothing else uses this object.
    bool sendAll(const QByteArray &bytes, std::chrono::milliseconds timeout)
    {
        qsizetype sent = 0;
        while (m_controller >= 0 && sent < bytes.size()) {
            const ssize_t n =
                ::write(m_controller, bytes.constData() + sent, size_t(bytes.size() - sent));
            if (n > 0) {
                sent += n;
                continue;
            }
            pollfd writable{m_controller, POLLOUT, 0};
            if (::poll(&writable, 1, int(timeout.count())) <= 0
                || (writable.revents & POLLOUT) == 0)
                return false;
        }
        return sent == bytes.size();
    }

    // What the program wrote to the device (it must never write anything).
    QByteArray written()
    {
        QByteArray all;
        char buffer[256];
        ssize_t n = 0;
        while (m_controller >= 0 && (n = ::read(m_controller, buffer, sizeof buffer)) > 0)
            all.append(buffer, n);
        return all;
    }

    // The device goes away: its side of the line closes.
    void hangUp()
    {
        if (m_controller >= 0)
            ::close(m_controller);
        m_controller = -1;
    }

    // Our own handle on the device side, kept open only so the line exists before the
    // program opens it; closing it leaves the program's handle the only one.
    void closeDeviceSide()
    {
        if (m_device >= 0)
            ::close(m_device);
        m_device = -1;
    }

private:
    int m_controller = -1;
    int m_device = -1;
    QString m_path;
};
