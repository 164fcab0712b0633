#include "tests/support/refclockprocess.h"

#include "share/shareprotocol.h"

#include <QDir>
#include <QFile>

RefclockProcess::~RefclockProcess()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

bool RefclockProcess::start(const QStringList &arguments, Mode mode)
{
    if (::geteuid() == 0 && mode == ByHand) {
        m_process.setProgram(QStringLiteral("setpriv"));
        m_process.setArguments(QStringList{QStringLiteral("--bounding-set=-sys_time"),
                                           QStringLiteral("--inh-caps=-sys_time"),
                                           QStringLiteral(QUORVEL_REFCLOCK)}
                               + arguments);
    } else if (::geteuid() == 0) {
        m_process.setProgram(QStringLiteral("setpriv"));
        m_process.setArguments(
            QStringList{QStringLiteral("--bounding-set=-all"), QStringLiteral("--inh-caps=-all"),
                        QStringLiteral("--no-new-privs"), QStringLiteral(QUORVEL_REFCLOCK)}
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

bool RefclockProcess::startReading(const QString &device, const QString &chronySocket,
                                   const QStringList &extra)
{
    return start(QStringList{QStringLiteral("--port"), device, QStringLiteral("--socket"),
                             chronySocket}
                 + extra)
           && waitForLines(QStringLiteral("Leyendo"), 1, 5000);
}

bool RefclockProcess::shareIn(const QString &folder)
{
    m_shareFolder = std::make_unique<EnvironmentSetting>(ShareFolderVariable);
    m_shareFolder->set(QFile::encodeName(folder));
    return QDir().mkpath(folder);
}

QStringList RefclockProcess::lines()
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

bool RefclockProcess::waitForLines(const QString &text, int count, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (linesWith(text).size() < count) {
        if (deadline.hasExpired() || m_process.state() == QProcess::NotRunning)
            return false;
        m_process.waitForReadyRead(int(qMin<qint64>(deadline.remainingTime(), 200)));
    }
    return true;
}

void RefclockProcess::runFor(int ms)
{
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired() && m_process.state() != QProcess::NotRunning)
        m_process.waitForReadyRead(int(qMin<qint64>(deadline.remainingTime(), 200)));
    lines();
}

int RefclockProcess::stopWith(int signal)
{
    const qint64 id = m_process.processId();
    if (id <= 0 || ::kill(pid_t(id), signal) != 0 || !m_process.waitForFinished(5000))
        return -1;
    lines();
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
}

QString RefclockProcess::log()
{
    return lines().join(u'\n') + u'\n' + m_pending;
}

int RefclockProcess::waitForExit(int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (m_process.state() != QProcess::NotRunning && !deadline.hasExpired())
        m_process.waitForFinished(int(qMin<qint64>(deadline.remainingTime(), 200)));
    lines();
    if (m_process.state() != QProcess::NotRunning)
        return -1;
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
}

QString RefclockProcess::output()
{
    if (m_process.isOpen())
        m_output += QString::fromLocal8Bit(m_process.readAllStandardOutput());
    return m_output;
}
