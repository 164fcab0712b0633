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

int setRealtimeClock(const timespec &value)
{
    return clock_settime(CLOCK_REALTIME, &value) == 0 ? 0 : errno;
}

} // namespace

RealtimeClockCalls systemRealtimeClock()
{
    return RealtimeClockCalls{holdsClockRight, setRealtimeClock};
}

SetTimeBackend::SetTimeBackend(RealtimeClockCalls calls, QObject *parent)
    : ClockBackend(parent), m_calls(std::move(calls))
{
}

void SetTimeBackend::setTime(UtcTime utc)
{
    if (!m_calls.maySetClock()) {
        emit finished(Outcome::NoPermission, QString());
        return;
    }
    const std::chrono::microseconds sinceEpoch = utc.time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(sinceEpoch);
    timespec value{};
    value.tv_sec = time_t(seconds.count());
    value.tv_nsec = long(std::chrono::nanoseconds(sinceEpoch - seconds).count());

    const int error = m_calls.setRealtime(value);
    if (error == 0)
        emit finished(Outcome::Set, QString());
    else if (error == EPERM || error == EACCES)
        emit finished(Outcome::NoPermission, qt_error_string(error));
    else
        emit finished(Outcome::Refused, qt_error_string(error));
}
