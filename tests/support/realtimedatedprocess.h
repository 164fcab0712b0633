#pragma once

#include "tests/support/clockcalllog.h"
#include "tests/support/clockguards.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>
#include <QThread>

// Debian's systemd-timedated, run by the test on its private bus under all three clock
// guards (see clockguards.h), with systemd1-standin answering in place of systemd's manager.
// The stand-in's path is SYSTEMD1_STANDIN_PATH, set by the build.
//
// timedated gets a cleared environment: the private bus as its system bus, its log on
// standard error, and systemd-timesyncd.service as its only NTP unit, so the machine's list of
// NTP units does not matter.
class RealTimedatedProcess
{
public:
    static QString executable() { return QStringLiteral("/lib/systemd/systemd-timedated"); }

    RealTimedatedProcess() = default;
    ~RealTimedatedProcess();
    RealTimedatedProcess(const RealTimedatedProcess &) = delete;
    RealTimedatedProcess &operator=(const RealTimedatedProcess &) = delete;

    // Starts the stand-in, reporting the NTP unit's ActiveState as `ntpActiveState` after
    // `standInDelayMs`, then timedated, and waits until timedated owns org.freedesktop.timedate1
    // on `bus`. Empty on success, otherwise what went wrong.
    QString start(const QString &address, const QDBusConnection &bus, const QString &ntpActiveState,
                  int standInDelayMs = 0);

    void stop();

    // The calls that the recorder took from timedated so far.
    QList<ClockCall> clockCalls() const { return readClockCalls(callLogPath()); }

    // The calls that the stand-in received, one "<interface>.<member> <path>" each.
    QStringList standInCalls() const;

    // timedated's log, for failure messages.
    QString output() const;

private:
    // The running service itself: its program, no CAP_SYS_TIME, a seccomp filter, the recorder
    // mapped. Empty when all hold.
    QString guardsOnTheService() const;

    QString callLogPath() const { return m_dir.filePath(QStringLiteral("clock-calls.log")); }
    QString standInLogPath() const { return m_dir.filePath(QStringLiteral("standin.log")); }
    QString outputPath() const { return m_dir.filePath(QStringLiteral("timedated.log")); }

    QTemporaryDir m_dir;
    QProcess m_standIn;
    QProcess m_timedated;
};
