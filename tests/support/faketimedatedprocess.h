#pragma once

#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// Runs the fake-timedated helper on a private bus and reads back the SetTime calls it
// received. The helper's path is FAKE_TIMEDATED_PATH, set by the build.
class FakeTimedatedProcess
{
public:
    // One SetTime call as the fake received it.
    struct Call
    {
        qint64 usecUtc = 0; // the time to set, or with `relative` the offset to move the clock by
        bool relative = true;
        bool interactive = false;
        qint64 receivedUsec = 0; // the fake's realtime clock when the call arrived

        // What the clock would read once set, had timedated set it when the call arrived.
        qint64 setToUsec() const { return relative ? receivedUsec + usecUtc : usecUtc; }
    };

    FakeTimedatedProcess() = default;
    ~FakeTimedatedProcess() { stop(); }
    FakeTimedatedProcess(const FakeTimedatedProcess &) = delete;
    FakeTimedatedProcess &operator=(const FakeTimedatedProcess &) = delete;

    // Starts the fake on the bus at `address` with the extra options (--error, --message,
    // --delay-ms) and waits until it owns org.freedesktop.timedate1.
    bool start(const QString &address, const QStringList &options = {})
    {
        if (!m_dir.isValid())
            return false;
        m_process.setProgram(QStringLiteral(FAKE_TIMEDATED_PATH));
        m_process.setArguments(
            QStringList{QStringLiteral("--address"), address, QStringLiteral("--log"), logPath()}
            + options);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start();
        if (!m_process.waitForStarted(10000))
            return false;
        while (!m_process.canReadLine()) {
            if (!m_process.waitForReadyRead(10000))
                return false;
        }
        return m_process.readLine().trimmed() == "ready";
    }

    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished(5000);
    }

    // The calls received so far, in order.
    QList<Call> calls() const
    {
        QList<Call> calls;
        QFile log(logPath());
        if (!log.open(QIODevice::ReadOnly))
            return calls;
        while (!log.atEnd()) {
            const QList<QByteArray> fields = log.readLine().trimmed().split(' ');
            if (fields.size() != 5 || fields[0] != "SetTime")
                continue;
            calls.append(Call{fields[1].toLongLong(), fields[2] == "1", fields[3] == "1",
                              fields[4].toLongLong()});
        }
        return calls;
    }

private:
    QString logPath() const { return m_dir.filePath(QStringLiteral("calls.log")); }

    QTemporaryDir m_dir;
    QProcess m_process;
};
