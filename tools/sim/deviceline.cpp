#include "tools/sim/deviceline.h"

#include "core/line.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

// A pseudo-terminal's device side holds at most this many unread bytes; more wait in the
// kernel, uncounted, until the reader takes some.
constexpr qint64 FullDeviceQueue = 4095;

QString systemError(const QString &what)
{
    return QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(std::strerror(errno)));
}

void setFlags(int handle, int flags)
{
    fcntl(handle, F_SETFL, fcntl(handle, F_GETFL) | flags);
}

void closeHandle(int &handle)
{
    if (handle >= 0)
        ::close(handle);
    handle = -1;
}

} // namespace

DeviceLine::~DeviceLine()
{
    hangUp();
}

bool DeviceLine::createPseudoTerminal(QString *error)
{
    hangUp();
    char name[256] = {};
    if (openpty(&m_output, &m_device, name, nullptr, nullptr) != 0) {
        *error = systemError(QStringLiteral("Cannot create a pseudo-terminal"));
        m_output = m_device = -1;
        return false;
    }
    // Raw, so that CR LF and every other byte reach the reader unchanged.
    termios settings{};
    tcgetattr(m_device, &settings);
    cfmakeraw(&settings);
    tcsetattr(m_device, TCSANOW, &settings);
    setFlags(m_output, O_NONBLOCK);
    fcntl(m_output, F_SETFD, FD_CLOEXEC);
    fcntl(m_device, F_SETFD, FD_CLOEXEC);
    m_path = QString::fromLocal8Bit(name);
    m_queuedAtCheck = m_sentSinceCheck = 0;
    return true;
}

bool DeviceLine::openSerialDevice(const QString &path, QString *error)
{
    hangUp();
    m_output = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_output < 0) {
        *error = systemError(QStringLiteral("Cannot open %1").arg(path));
        return false;
    }
    termios settings{};
    if (tcgetattr(m_output, &settings) != 0) {
        *error = systemError(QStringLiteral("%1 is no serial device").arg(path));
        closeHandle(m_output);
        return false;
    }
    cfmakeraw(&settings);
    settings.c_cflag &= ~(CSTOPB | CRTSCTS);
    settings.c_cflag |= CLOCAL | CREAD;
    static_assert(LineBaud == 4800, "the serial device is set to the line's speed");
    cfsetispeed(&settings, B4800);
    cfsetospeed(&settings, B4800);
    tcsetattr(m_output, TCSANOW, &settings);
    m_path = path;
    return true;
}

bool DeviceLine::send(char byte)
{
    if (m_output < 0 || ::write(m_output, &byte, 1) != 1)
        return false;
    ++m_sentSinceCheck;
    return true;
}

qsizetype DeviceLine::send(const QByteArray &bytes)
{
    if (m_output < 0 || bytes.isEmpty())
        return 0;
    const ssize_t written = ::write(m_output, bytes.constData(), size_t(bytes.size()));
    if (written <= 0)
        return 0;
    m_sentSinceCheck += written;
    return written;
}

bool DeviceLine::sendAll(const QByteArray &bytes, std::chrono::milliseconds timeout)
{
    qsizetype sent = 0;
    while (m_output >= 0 && sent < bytes.size()) {
        const ssize_t n = ::write(m_output, bytes.constData() + sent, size_t(bytes.size() - sent));
        if (n > 0) {
            sent += n;
            m_sentSinceCheck += n;
            continue;
        }
        pollfd writable{m_output, POLLOUT, 0};
        if (::poll(&writable, 1, int(timeout.count())) <= 0 || (writable.revents & POLLOUT) == 0)
            return false;
    }
    return sent == bytes.size();
}

QByteArray DeviceLine::takeWritten()
{
    QByteArray all;
    char buffer[256];
    ssize_t n = 0;
    while (m_output >= 0 && (n = ::read(m_output, buffer, sizeof buffer)) > 0)
        all.append(buffer, n);
    return all;
}

void DeviceLine::dropUnread()
{
    if (m_device < 0)
        return;
    takeWritten();
    int queued = 0;
    if (ioctl(m_device, FIONREAD, &queued) != 0)
        return;
    const bool nobodyRead =
        m_sentSinceCheck > 0
        && (queued >= m_queuedAtCheck + m_sentSinceCheck || queued >= FullDeviceQueue);
    if (nobodyRead && tcflush(m_device, TCIFLUSH) == 0)
        queued = 0;
    m_queuedAtCheck = queued;
    m_sentSinceCheck = 0;
}

qint64 DeviceLine::unread() const
{
    int queued = 0;
    if (m_device >= 0)
        ioctl(m_device, FIONREAD, &queued);
    else if (m_output >= 0)
        ioctl(m_output, TIOCOUTQ, &queued);
    return queued;
}

void DeviceLine::hangUp()
{
    closeHandle(m_output);
    closeDeviceSide();
}

void DeviceLine::closeDeviceSide()
{
    closeHandle(m_device);
}
