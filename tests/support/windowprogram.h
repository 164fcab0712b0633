#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <chrono>

// The window as a program: the real executable (its path is QUORVEL_PROGRAM, set by the build),
// or a yardstick beside it, offscreen, on "Com1" = a device the test names. Its system bus is the
// one the test gives, or an address that leads nowhere, so that no clock service is asked anything.
// The one way the tests start the window as a program.
class WindowProgram
{
public:
    struct Options
    {
        QString systemBus;     // the system bus's address; empty: one that leads nowhere
        QStringList wrapper;   // a command and its arguments put in front, such as setpriv
        QString program;       // empty: the window; otherwise a program to compare it with
        QStringList arguments; // the program's
        bool logFrames = true; // logs the frames it shows, for showsWithin()
    };

    WindowProgram() = default;
    ~WindowProgram();
    WindowProgram(const WindowProgram &) = delete;
    WindowProgram &operator=(const WindowProgram &) = delete;

    bool start(const QString &device) { return start(device, Options()); }
    bool start(const QString &device, const Options &options);

    qint64 processId() const { return process.processId(); }

    // Whether it has opened `device` within `time`.
    bool opensWithin(const QString &device, std::chrono::milliseconds time) const;

    // Whether it showed the frame "$`text`" CR LF within `time`.
    bool showsWithin(const QByteArray &text, std::chrono::milliseconds time);

    // Sends `signal` and returns the exit code, or -1 when it did not end normally within 10 s.
    int stopWith(int signal);

    QProcess process;

private:
    QByteArray m_output;
};
