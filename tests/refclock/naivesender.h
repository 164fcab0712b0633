#pragma once

#include "core/frame.h"
#include "frametime/frametime.h"
#include "refclock/chronysocket.h"

#include <QFile>
#include <QList>
#include <QMutex>
#include <QString>
#include <QTimeZone>

#include <atomic>
#include <chrono>
#include <thread>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

// The naive rule, for the benchmark to compare with: a reader of its own that polls the
// device every 100 ms, as the window does, and dates each frame at the poll that finds it
// whole, as a program that knows nothing of arrival times would; it sends chrony the same
// samples quorvel-refclock would, through the same socket and sample layout.
class NaiveSender
{
public:
    NaiveSender(const QString &devicePath, const QString &chronySocket)
        : m_socket(chronySocket), m_zone(QTimeZone::systemTimeZone())
    {
        m_fd = ::open(QFile::encodeName(devicePath).constData(),
                      O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (m_fd < 0)
            return;
        termios settings{};
        if (::tcgetattr(m_fd, &settings) == 0) {
            ::cfmakeraw(&settings);
            ::tcsetattr(m_fd, TCSANOW, &settings);
        }
        m_thread = std::thread([this] { run(); });
    }
    ~NaiveSender()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        if (m_fd >= 0)
            ::close(m_fd);
    }
    NaiveSender(const NaiveSender &) = delete;
    NaiveSender &operator=(const NaiveSender &) = delete;

    bool isReading() const { return m_fd >= 0; }

    // The offsets of the samples sent so far, in seconds.
    QList<double> sentOffsets()
    {
        const QMutexLocker lock(&m_mutex);
        return m_offsets;
    }

private:
    void run()
    {
        using namespace std::chrono;
        QByteArray pending;
        auto tick = steady_clock::now();
        while (!m_stop) {
            tick += milliseconds(100);
            std::this_thread::sleep_until(tick);
            char buffer[512];
            ssize_t got = 0;
            while ((got = ::read(m_fd, buffer, sizeof buffer)) > 0)
                pending.append(buffer, qsizetype(got));
            const UtcTime poll = time_point_cast<microseconds>(system_clock::now());
            qsizetype end = 0;
            while ((end = pending.indexOf("\r\n")) >= 0) {
                const QByteArray line = pending.left(end);
                pending.remove(0, end + 2);
                const qsizetype marker = line.lastIndexOf('$');
                if (marker < 0)
                    continue;
                const std::optional<Frame> frame =
                    Frame::parse(QString::fromLatin1(line.mid(marker + 1)), MonotonicTime());
                const std::optional<UtcTime> instant =
                    frame ? frameInstant(*frame, m_zone) : std::nullopt;
                if (!instant)
                    continue;
                const microseconds offset = *instant - poll;
                QString reason;
                if (m_socket.send(poll, offset, &reason) == SampleSink::Sent) {
                    const QMutexLocker lock(&m_mutex);
                    m_offsets.append(duration<double>(offset).count());
                }
            }
        }
    }

    ChronySocket m_socket;
    QTimeZone m_zone;
    int m_fd = -1;
    std::atomic<bool> m_stop{false};
    QMutex m_mutex;
    QList<double> m_offsets;
    std::thread m_thread;
};
