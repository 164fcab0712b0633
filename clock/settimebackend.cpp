#include "clock/settimebackend.h"

#include <QtGlobal>

#include <cerrno>

#include <unistd.h>
#ifdef Q_OS_LINUX
#include <linux/capability.h>
#include <sys/syscall.h>
#endif

namespace {

bool holdsClockRight()
{
#ifdef Q_OS_LINUX
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capget, &header, data) == 0)
        return (data[CAP_TO_INDEX(CAP_SYS_TIME)].effective & CAP_TO_MASK(CAP_SYS_TIME)) != 0;
#endif
    return geteuid() == 0;
}

timespec readRealtimeClock()
{
    timespec value{};
    clock_gettime(CLOCK_REALTIME, &value);
    return value;
}

int setRealtimeClock(const timespec &value)
{
    return clock_settime(CLOCK_REALTIME, &value) == 0 ? 0 : errno;
}

} // namespace

RealtimeClockCalls systemRealtimeClock()
{
    return RealtimeClockCalls{holdsClockRight, readRealtimeClock, setRealtimeClock};
}

SetTimeBackend::SetTimeBackend(RealtimeClockCalls calls, QObject *parent)
    : ClockBackend(parent), m_calls(std::move(calls))
{
}

void SetTimeBackend::setTimeBy(std::chrono::microseconds offset)
{
    if (!m_calls.maySetClock()) {
        emit finished(Outcome::NoPermission, QString());
        return;
    }
    // The clock as it reads now, moved by the offset, in nanoseconds; split into whole seconds
    // and a non-negative remainder, as clock_settime takes it.
    const timespec now = m_calls.readRealtime();
    const std::chrono::nanoseconds target =
        std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec) + offset;
    const auto seconds = std::chrono::floor<std::chrono::seconds>(target);
    timespec value{};
    value.tv_sec = time_t(seconds.count());
    value.tv_nsec = long((target - seconds).count());

    const int error = m_calls.setRealtime(value);
    if (error == 0)
        emit finished(Outcome::Set, QString());
    else if (error == EPERM || error == EACCES)
        emit finished(Outcome::NoPermission, qt_error_string(error));
    else
        emit finished(Outcome::Refused, qt_error_string(error));
}
