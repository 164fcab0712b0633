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
    ~FakeTimedatedProcess();
    FakeTimedatedProcess(const FakeTimedatedProcess &) = delete;
    FakeTimedatedProcess &operator=(const FakeTimedatedProcess &) = delete;

    // Starts the fake on the bus at `address` with the extra options (--error, --message,
    // --delay-ms) and waits until it owns org.freedesktop.timedate1.
    bool start(const QString &address, const QStringList &options = {});

    void stop();

    // The calls received so far, in order.
    QList<Call> calls() const;

private:
    QString logPath() const { return m_dir.filePath(QStringLiteral("calls.log")); }

    QTemporaryDir m_dir;
    QProcess m_process;
};
