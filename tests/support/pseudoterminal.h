#pragma once

#include <QByteArray>
#include <QString>

#include <fcntl.h>
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
        return m_controller >= 0 &&
               ::write(m_controller, bytes.constData(), size_t(bytes.size())) == bytes.size();
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
