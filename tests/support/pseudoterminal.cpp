#include "tests/support/pseudoterminal.h"

PseudoTerminal::PseudoTerminal()
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

PseudoTerminal::~PseudoTerminal()
{
    hangUp();
    closeDeviceSide();
}

bool PseudoTerminal::send(const QByteArray &bytes)
{
    return m_controller >= 0
           && ::write(m_controller, bytes.constData(), size_t(bytes.size())) == bytes.size();
}

bool PseudoTerminal::sendAll(const QByteArray &bytes, std::chrono::milliseconds timeout)
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
        if (::poll(&writable, 1, int(timeout.count())) <= 0 || (writable.revents & POLLOUT) == 0)
            return false;
    }
    return sent == bytes.size();
}

QByteArray PseudoTerminal::written()
{
    QByteArray all;
    char buffer[256];
    ssize_t n = 0;
    while (m_controller >= 0 && (n = ::read(m_controller, buffer, sizeof buffer)) > 0)
        all.append(buffer, n);
    return all;
}

void PseudoTerminal::hangUp()
{
    if (m_controller >= 0)
        ::close(m_controller);
    m_controller = -1;
}

void PseudoTerminal::closeDeviceSide()
{
    if (m_device >= 0)
        ::close(m_device);
    m_device = -1;
}
