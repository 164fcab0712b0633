#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <csignal>
#include <sys/types.h>

// Starting and stopping quorvel-sim from a test. The simulator's path is QUORVEL_SIM, set by
// the build.
inline const QString Simulator = QStringLiteral(QUORVEL_SIM);

// Starts the simulator with `arguments`, in the time zone `timeZone` when one is given, and
// returns the device path it printed first (empty when it printed none).
inline QString startSimulator(QProcess &process, const QStringList &arguments,
                              const QString &timeZone = QString())
{
    if (!timeZone.isEmpty()) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("TZ"), timeZone);
        process.setProcessEnvironment(environment);
    }
    process.start(Simulator, arguments);
    while (!process.canReadLine() && process.waitForReadyRead(5000)) {
    }
    return QString::fromLocal8Bit(process.readLine()).trimmed();
}

// Waits for the simulator to end by itself, as it does after --count frames.
inline bool endsCleanly(QProcess &process)
{
    // waitForFinished() is false when the process has ended already.
    const bool ended = process.state() == QProcess::NotRunning || process.waitForFinished(5000);
    return ended && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// Sends `signal` to the running simulator and waits for it to end.
inline bool stopWith(QProcess &process, int signal)
{
    // processId() is 0 once the process has ended, and kill(0) would hit the whole group.
    const qint64 id = process.processId();
    return id > 0 && ::kill(pid_t(id), signal) == 0 && process.waitForFinished(5000);
}
