#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>

#include <chrono>
#include <functional>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

// Reads a serial line's device side the way the program does, or a client's end of the
// service's socket, and notes when each byte arrived on the realtime clock.
class LineReader
{
public:
    // A Unix stream socket to connect to, as a client of quorvel-refclock's shared device.
    struct UnixSocket
    {
        QString path;
    };

    // Opens `path`. With `freshOnly`, throws away what waits unread, so that every byte read
    // arrives after the open and its arrival time is true.
    explicit LineReader(const QString &path, bool freshOnly = false)
    {
        m_handle = ::open(path.toLocal8Bit().constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
        if (m_handle >= 0 && freshOnly)
            tcflush(m_handle, TCIFLUSH);
    }
    // Connects to `socket`; the client reads only when told to, and may write.
    explicit LineReader(const UnixSocket &socket)
    {
        m_handle = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray name = QFile::encodeName(socket.path);
        std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
        if (::connect(m_handle, reinterpret_cast<const sockaddr *>(&address), sizeof address)
            != 0) {
            ::close(m_handle);
            m_handle = -1;
        }
    }
    ~LineReader()
    {
        if (m_handle >= 0)
            ::close(m_handle);
    }
    LineReader(const LineReader &) = delete;
    LineReader &operator=(const LineReader &) = delete;

    bool isOpen() const { return m_handle >= 0; }

    // Writes `bytes` to the other side (a socket's), all at once.
    bool write(const QByteArray &bytes)
    {
        return ::send(m_handle, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL)
               == bytes.size();
    }

    // Reads until `done` holds, the line hangs up or `timeout` has passed; returns `done`.
    bool readUntil(const std::function<bool()> &done, std::chrono::milliseconds timeout)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!done() && !hungUp) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                break;
            pollfd wait{m_handle, POLLIN, 0};
            if (poll(&wait, 1, int(left.count())) <= 0)
                continue;
            readPending();
        }
        return done();
    }

    // Reads until `count` frames have arrived whole.
    bool readFrames(int count, std::chrono::milliseconds timeout)
    {
        return readUntil([&] { return frames().size() >= count; }, timeout);
    }

    // Reads until the line hangs up.
    bool readToHangUp(std::chrono::milliseconds timeout)
    {
        return readUntil([this] { return hungUp; }, timeout);
    }

    // A frame as received: from a "$" to the first LF after it.
    struct Frame
    {
        QByteArray text;
        qsizetype position = 0; // of its "$" in `bytes`
        qsizetype size() const { return text.size(); }
    };

    // The frames received whole, in order; bytes between them are left out.
    QList<Frame> frames() const
    {
        QList<Frame> found;
        qsizetype start = bytes.indexOf('$');
        while (start >= 0) {
            const qsizetype end = bytes.indexOf('\n', start);
            if (end < 0)
                break;
            found.append({bytes.mid(start, end - start + 1), start});
            start = bytes.indexOf('$', end);
        }
        return found;
    }

    // When the first and the last byte of `frame` arrived.
    std::chrono::nanoseconds firstArrival(const Frame &frame) const
    {
        return arrivals.at(frame.position);
    }
    std::chrono::nanoseconds lastArrival(const Frame &frame) const
    {
        return arrivals.at(frame.position + frame.size() - 1);
    }

    QByteArray bytes;                         // everything read, in order
    QList<std::chrono::nanoseconds> arrivals; // realtime arrival of each byte of `bytes`
    int reads = 0;                            // reads that returned bytes
    bool hungUp = false;                      // the line was closed under the reader
    int hangUpError = 0;                      // errno of the failed read, 0 for end of file

private:
    void readPending()
    {
        char buffer[512];
        const ssize_t count = ::read(m_handle, buffer, sizeof buffer);
        const auto now = std::chrono::system_clock::now().time_since_epoch();
        if (count > 0) {
            ++reads;
            bytes.append(buffer, count);
            for (ssize_t i = 0; i < count; ++i)
                arrivals.append(std::chrono::duration_cast<std::chrono::nanoseconds>(now));
        } else if (count == 0 || errno != EAGAIN) {
            hungUp = true;
            hangUpError = count == 0 ? 0 : errno;
        }
    }

    int m_handle = -1;
};
