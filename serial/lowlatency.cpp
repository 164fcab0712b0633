#include "serial/lowlatency.h"

#include <linux/serial.h>
#include <sys/ioctl.h>

SerialSettingsRequests SerialSettingsRequests::system()
{
    return SerialSettingsRequests{
        [](int handle, serial_struct *settings) { return ::ioctl(handle, TIOCGSERIAL, settings); },
        [](int handle, const serial_struct *settings) {
            return ::ioctl(handle, TIOCSSERIAL, settings);
        }};
}

LowLatency::LowLatency(SerialSettingsRequests requests) : m_requests(std::move(requests)) {}

bool LowLatency::request(int handle)
{
    m_set = false;
    serial_struct settings{};
    if (m_requests.read(handle, &settings) != 0)
        return false;
    if ((settings.flags & ASYNC_LOW_LATENCY) != 0)
        return true; // already so: nothing to put back
    settings.flags |= ASYNC_LOW_LATENCY;
    m_set = m_requests.write(handle, &settings) == 0;
    return m_set;
}

void LowLatency::restore(int handle)
{
    if (!m_set)
        return;
    m_set = false;
    // Read again, so that whatever else changed meanwhile stays as it is now.
    serial_struct settings{};
    if (m_requests.read(handle, &settings) != 0)
        return;
    settings.flags &= ~ASYNC_LOW_LATENCY;
    m_requests.write(handle, &settings);
}
