#include "core/terminationsignals.h"

#include <QSocketNotifier>

#ifdef Q_OS_UNIX

#include <array>
#include <cerrno>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

namespace {

constexpr std::array<int, 3> Handled{SIGTERM, SIGINT, SIGHUP};

// The pipe's ends: the handler writes, the notifier reads. Set while an object exists.
int pipeRead = -1;
volatile sig_atomic_t pipeWrite = -1;
std::array<struct sigaction, Handled.size()> previousActions{};

extern "C" void writeSignalNumber(int signalNumber)
{
    // Only async-signal-safe calls here: one write, errno kept for the code interrupted.
    const int savedErrno = errno;
    const unsigned char number = static_cast<unsigned char>(signalNumber);
    if (pipeWrite >= 0)
        (void)!::write(pipeWrite, &number, 1);
    errno = savedErrno;
}

} // namespace

TerminationSignals::TerminationSignals(QObject *parent) : QObject(parent)
{
    if (pipeRead >= 0)
        return; // another object already has the signals
    int ends[2] = {-1, -1};
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    pipeRead = ends[0];
    pipeWrite = ends[1];

    struct sigaction action
    {
    };
    action.sa_handler = writeSignalNumber;
    sigemptyset(&action.sa_mask);
    // Restarted system calls: the program goes on where it was and hears of the signal from
    // its event loop.
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < Handled.size(); ++i)
        ::sigaction(Handled[i], &action, &previousActions[i]);

    m_notifier = new QSocketNotifier(pipeRead, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminationSignals::readPipe);
}

TerminationSignals::~TerminationSignals()
{
    if (!m_notifier)
        return;
    for (std::size_t i = 0; i < Handled.size(); ++i)
        ::sigaction(Handled[i], &previousActions[i], nullptr);
    const int writeEnd = pipeWrite;
    pipeWrite = -1;
    ::close(writeEnd);
    delete m_notifier; // before its descriptor goes
    m_notifier = nullptr;
    ::close(pipeRead);
    pipeRead = -1;
}

void TerminationSignals::readPipe()
{
    unsigned char numbers[16];
    ssize_t count = 0;
    while ((count = ::read(pipeRead, numbers, sizeof numbers)) > 0) {
        for (ssize_t i = 0; i < count; ++i)
            emit received(numbers[i]);
    }
}

#else

TerminationSignals::TerminationSignals(QObject *parent) : QObject(parent) {}

TerminationSignals::~TerminationSignals() = default;

void TerminationSignals::readPipe() {}

#endif
