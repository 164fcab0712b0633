#pragma once

#include <QDeadlineTimer>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <csignal>
#include <sys/types.h>
#include <unistd.h>

// Runs the real quorvel-refclock (its path is QUORVEL_REFCLOCK, set by the build) and collects
// its log lines from stderr. Run as root, it runs as the systemd unit runs it: root without any
// capability and without a way to gain one.
class RefclockProcess
{
public:
    RefclockProcess() = default;
    ~RefclockProcess()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    RefclockProcess(const RefclockProcess &) = delete;
    RefclockProcess &operator=(const RefclockProcess &) = delete;

    // Starts the program as the systemd unit runs it.
    bool start(const QStringList &arguments) { return start(arguments, AsService); }

    // Starts it as an administrator runs it by hand (quorvel-refclock --calibrate): as root,
    // with root's capabilities but CAP_SYS_TIME, so that it can reach chronyd's command
    // socket as chronyc does and still not set the clock.
    bool startByHand(const QStringList &arguments) { return start(arguments, ByHand); }

private:
    enum Mode { AsService, ByHand };

    bool start(const QStringList &arguments, Mode mode)
    {
        if (::geteuid() == 0 && mode == ByHand) {
            m_process.setProgram(QStringLiteral("setpriv"));
            m_process.setArguments(QStringList{QStringLiteral("--bounding-set=-sys_time"),
                                               QStringLiteral("--inh-caps=-sys_time"),
                                               QStringLiteral(QUORVEL_REFCLOCK)}
                                   + arguments);
        } else if (::geteuid() == 0) {
            m_process.setProgram(QStringLiteral("setpriv"));
            m_process.setArguments(QStringList{QStringLiteral("--bounding-set=-all"),
                                               QStringLiteral("--inh-caps=-all"),
                                               QStringLiteral("--no-new-privs"),
                                               QStringLiteral(QUORVEL_REFCLOCK)}
                                   + arguments);
        } else {
            m_process.setProgram(QStringLiteral(QUORVEL_REFCLOCK));
            m_process.setArguments(arguments);
        }
        // The log is what is waited for.
        m_process.setReadChannel(QProcess::StandardError);
        m_process.start();
        return m_process.waitForStarted(10000);
    }

public:
    qint64 processId() const { return m_process.processId(); }

    // Every line logged so far.
    QStringList lines()
    {
        if (!m_process.isOpen()) // never started
            return m_lines;
        m_process.waitForReadyRead(0);
        m_pending += QString::fromLocal8Bit(m_process.readAllStandardError());
        qsizetype end = 0;
        while ((end = m_pending.indexOf(u'\n')) >= 0) {
            m_lines.append(m_pending.left(end));
            m_pending.remove(0, end + 1);
        }
        return m_lines;
    }

    // The lines that contain `text`.
    QStringList linesWith(const QString &text) { return lines().filter(text); }

    // Waits up to `timeoutMs` until `count` lines contain `text`.
    bool waitForLines(const QString &text, int count, int timeoutMs)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (linesWith(text).size() < count) {
            if (deadline.hasExpired() || m_process.state() == QProcess::NotRunning)
                return false;
            m_process.waitForReadyRead(int(qMin<qint64>(deadline.remainingTime(), 200)));
        }
        return true;
    }

    // Lets the program run for `ms` while its log is read.
    void runFor(int ms)
    {
        QDeadlineTimer deadline(ms);
        while (!deadline.hasExpired() && m_process.state() != QProcess::NotRunning)
            m_process.waitForReadyRead(int(qMin<qint64>(deadline.remainingTime(), 200)));
        lines();
    }

    // Sends `signal` and returns the exit code, or -1 when it did not end normally within 5 s.
    int stopWith(int signal)
    {
        const qint64 id = m_process.processId();
        if (id <= 0 || ::kill(pid_t(id), signal) != 0 || !m_process.waitForFinished(5000))
            return -1;
        lines();
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }

    // Waits up to `timeoutMs` for the program to end by itself and returns its exit code, or -1.
    int waitForExit(int timeoutMs)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (m_process.state() != QProcess::NotRunning && !deadline.hasExpired())
            m_process.waitForFinished(int(qMin<qint64>(deadline.remainingTime(), 200)));
        lines();
        if (m_process.state() != QProcess::NotRunning)
            return -1;
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }

    // What it printed on standard output so far (calibration's results).
    QString output()
    {
        if (m_process.isOpen())
            m_output += QString::fromLocal8Bit(m_process.readAllStandardOutput());
        return m_output;
    }

    // Everything logged, for the test's output (where sanitizer reports are looked for too).
    QString log() { return lines().join(u'\n') + u'\n' + m_pending; }

private:
    QProcess m_process;
    QString m_pending;
    QString m_output;
    QStringList m_lines;
};
