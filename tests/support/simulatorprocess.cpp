#include "tests/support/simulatorprocess.h"

QString startSimulator(QProcess &process, const QStringList &arguments, const QString &timeZone)
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

bool endsCleanly(QProcess &process)
{
    // waitForFinished() is false when the process has ended already.
    const bool ended = process.state() == QProcess::NotRunning || process.waitForFinished(5000);
    return ended && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

bool stopWith(QProcess &process, int signal)
{
    // processId() is 0 once the process has ended, and kill(0) would hit the whole group.
    const qint64 id = process.processId();
    return id > 0 && ::kill(pid_t(id), signal) == 0 && process.waitForFinished(5000);
}
