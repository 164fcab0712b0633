#include "tests/support/realtimedatedprocess.h"

RealTimedatedProcess::~RealTimedatedProcess()
{
    stop();
}

QString RealTimedatedProcess::start(const QString &address, const QDBusConnection &bus,
                                    const QString &ntpActiveState, int standInDelayMs)
{
    if (!m_dir.isValid())
        return QStringLiteral("no temporary folder");

    m_standIn.setProgram(QStringLiteral(SYSTEMD1_STANDIN_PATH));
    m_standIn.setArguments({QStringLiteral("--address"), address, QStringLiteral("--active-state"),
                            ntpActiveState, QStringLiteral("--delay-ms"),
                            QString::number(standInDelayMs), QStringLiteral("--log"),
                            standInLogPath()});
    m_standIn.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_standIn.start();
    if (!m_standIn.waitForStarted(10000))
        return QStringLiteral("systemd1-standin did not start");
    while (!m_standIn.canReadLine()) {
        if (!m_standIn.waitForReadyRead(10000))
            return QStringLiteral("systemd1-standin did not get ready");
    }
    if (m_standIn.readLine().trimmed() != "ready")
        return QStringLiteral("systemd1-standin did not get ready");

    QProcessEnvironment environment;
    environment.insert(QStringLiteral("PATH"), QStringLiteral("/usr/sbin:/usr/bin:/sbin:/bin"));
    environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), address);
    environment.insert(QStringLiteral("SYSTEMD_LOG_TARGET"), QStringLiteral("console"));
    environment.insert(QStringLiteral("SYSTEMD_LOG_LEVEL"), QStringLiteral("debug"));
    environment.insert(QStringLiteral("SYSTEMD_TIMEDATED_NTP_SERVICES"),
                       QStringLiteral("systemd-timesyncd.service"));
    const QStringList command = ClockGuards::all({executable()}, callLogPath());
    m_timedated.setProcessEnvironment(environment);
    m_timedated.setStandardOutputFile(outputPath());
    m_timedated.setStandardErrorFile(outputPath(), QIODevice::Append);
    m_timedated.start(command.first(), command.mid(1));
    if (!m_timedated.waitForStarted(10000))
        return QStringLiteral("setpriv did not start");

    const QDeadlineTimer deadline(20000);
    const QString service = QStringLiteral("org.freedesktop.timedate1");
    while (!bus.interface()->isServiceRegistered(service)) {
        if (m_timedated.state() == QProcess::NotRunning || deadline.hasExpired())
            return QStringLiteral("systemd-timedated did not take its name:\n") + output();
        QThread::msleep(10);
    }
    return guardsOnTheService();
}

void RealTimedatedProcess::stop()
{
    for (QProcess *process : {&m_timedated, &m_standIn}) {
        if (process->state() == QProcess::NotRunning)
            continue;
        process->terminate();
        if (!process->waitForFinished(5000))
            process->kill();
        process->waitForFinished(5000);
    }
}

QStringList RealTimedatedProcess::standInCalls() const
{
    QFile log(standInLogPath());
    if (!log.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QString RealTimedatedProcess::output() const
{
    QFile log(outputPath());
    return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
}

QString RealTimedatedProcess::guardsOnTheService() const
{
    const QString proc = QStringLiteral("/proc/%1/").arg(m_timedated.processId());
    if (QFileInfo(proc + QStringLiteral("exe")).canonicalFilePath()
        != QFileInfo(executable()).canonicalFilePath())
        return QStringLiteral("the process on the bus is not systemd-timedated");
    QFile status(proc + QStringLiteral("status"));
    QFile maps(proc + QStringLiteral("maps"));
    if (!status.open(QIODevice::ReadOnly) || !maps.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot read systemd-timedated's /proc entries");
    bool filtered = false;
    const QList<QByteArray> lines = status.readAll().split('\n');
    int capabilitySets = 0;
    int setsWithout = 0;
    for (const QByteArray &line : lines) {
        const QList<QByteArray> parts = line.split(':');
        if (parts.size() != 2)
            continue;
        const QByteArray key = parts[0];
        const QByteArray value = parts[1].trimmed();
        if (key.startsWith("Cap")) {
            ++capabilitySets;
            if (((value.toULongLong(nullptr, 16) >> 25) & 1) == 0) // CAP_SYS_TIME
                ++setsWithout;
        } else if (key == "Seccomp") {
            filtered = value == "2"; // SECCOMP_MODE_FILTER
        }
    }
    const bool noSysTime = capabilitySets == 5 && setsWithout == 5;
    const bool recorded = maps.readAll().contains("clock-call-recorder.so");
    if (!noSysTime || !filtered || !recorded)
        return QStringLiteral("systemd-timedated runs without a guard: CAP_SYS_TIME dropped %1, "
                              "seccomp filter %2, recorder loaded %3")
            .arg(noSysTime)
            .arg(filtered)
            .arg(recorded);
    return QString();
}
