#include "tools/sim/pacer.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <ctime>

#include <poll.h>
#include <sys/signalfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

std::chrono::nanoseconds realtimeNow()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

Pacer::Pacer()
{
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    m_signals = signalfd(-1, &stopSignals, SFD_CLOEXEC);
    m_timer = timerfd_create(CLOCK_REALTIME, TFD_CLOEXEC);
}

Pacer::~Pacer()
{
    if (m_timer >= 0)
        ::close(m_timer);
    if (m_signals >= 0)
        ::close(m_signals);
}

bool Pacer::waitUntil(std::chrono::nanoseconds realtime)
{
    if (m_stopped)
        return false;
    // An instant at or before the epoch would disarm the timer instead of firing it.
    const std::int64_t nanoseconds = std::max<std::int64_t>(realtime.count(), 1);
    itimerspec when{};
    when.it_value.tv_sec = time_t(nanoseconds / 1'000'000'000);
    when.it_value.tv_nsec = long(nanoseconds % 1'000'000'000);
    if (timerfd_settime(m_timer, TFD_TIMER_ABSTIME, &when, nullptr) != 0)
        return false;
    pollfd waits[2] = {{m_timer, POLLIN, 0}, {m_signals, POLLIN, 0}};
    for (;;) {
        if (poll(waits, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (waits[1].revents != 0) {
            signalfd_siginfo signal{};
            [[maybe_unused]] const ssize_t read = ::read(m_signals, &signal, sizeof signal);
            m_stopped = true;
            return false;
        }
        if (waits[0].revents != 0) {
            std::uint64_t expirations = 0;
            [[maybe_unused]] const ssize_t read = ::read(m_timer, &expirations, sizeof expirations);
            return true;
        }
    }
}

void Pacer::waitForStop()
{
    pollfd wait{m_signals, POLLIN, 0};
    while (!m_stopped) {
        if (poll(&wait, 1, -1) < 0 && errno != EINTR)
            return;
        if (wait.revents != 0) {
            signalfd_siginfo signal{};
            [[maybe_unused]] const ssize_t read = ::read(m_signals, &signal, sizeof signal);
            m_stopped = true;
        }
    }
}
