#pragma once

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>

#include <optional>

#include <csignal>
#include <grp.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

// Debian's chronyd, run by a test on its own: a private configuration, pid file and command
// socket in a temporary folder, and never able to touch this machine's clock. Every chronyd
// runs with -x (it does not control the clock) and under setpriv without CAP_SYS_TIME in its
// bounding and inheritable sets, so that not even root inside it could set the clock; start()
// proves from /proc that the running chronyd lacks the capability, and fails otherwise. The
// test talks to it with chronyc through its private command socket, read-only commands only.
namespace Chronyd {

// The capability that sets the clock, and chrony's name for the reference clock.
constexpr int CapSysTime = 25;
inline const QString RefId = QStringLiteral("QRVL");

// What keeps chronyd away from the clock, as setpriv arguments.
inline QStringList withoutClockCapability()
{
    return {QStringLiteral("--bounding-set=-sys_time"), QStringLiteral("--inh-caps=-sys_time")};
}

// Whether the capability mask `line` ("CapBnd:\t000001fffcffffff") holds CAP_SYS_TIME.
inline bool holdsClockCapability(const QByteArray &line)
{
    bool ok = false;
    const qulonglong mask = line.mid(line.indexOf(':') + 1).trimmed().toULongLong(&ok, 16);
    return !ok || (mask & (1ULL << CapSysTime)) != 0;
}

// Reads a process's status file and says why it might set the clock; empty when its
// bounding, effective, permitted and inheritable sets all lack CAP_SYS_TIME.
inline QString clockCapabilityOf(const QByteArray &status)
{
    int seen = 0;
    for (const QByteArray &line : status.split('\n')) {
        for (const char *set : {"CapBnd:", "CapEff:", "CapPrm:", "CapInh:"}) {
            if (!line.startsWith(set))
                continue;
            ++seen;
            if (holdsClockCapability(line))
                return QStringLiteral("%1 holds CAP_SYS_TIME").arg(QString::fromLatin1(line));
        }
    }
    return seen == 4 ? QString() : QStringLiteral("no capability sets in the status file");
}

// Why chronyd cannot be run here under the guards; empty when it can.
inline QString unavailableReason()
{
    for (const char *program : {"chronyd", "chronyc", "setpriv"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty()
            && QStandardPaths::findExecutable(
                   QString::fromLatin1(program),
                   {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")})
                   .isEmpty())
            return QStringLiteral("%1 is not installed (Debian packages chrony, util-linux)")
                .arg(QString::fromLatin1(program));
    }
    if (::getpwnam("_chrony") == nullptr)
        return QStringLiteral("no user _chrony (the chrony package makes it)");
    // The guard itself, tried on a harmless program first.
    QProcess probe;
    probe.start(QStringLiteral("setpriv"),
                withoutClockCapability()
                    + QStringList{QStringLiteral("cat"), QStringLiteral("/proc/self/status")});
    if (!probe.waitForFinished(10000) || probe.exitCode() != 0)
        return QStringLiteral("setpriv cannot drop CAP_SYS_TIME here");
    const QString held = clockCapabilityOf(probe.readAllStandardOutput());
    if (!held.isEmpty())
        return QStringLiteral("setpriv leaves CAP_SYS_TIME: %1").arg(held);
    return {};
}

inline QString chronydPath()
{
    const QString found = QStandardPaths::findExecutable(QStringLiteral("chronyd"));
    return found.isEmpty() ? QStandardPaths::findExecutable(QStringLiteral("chronyd"),
                                                            {QStringLiteral("/usr/sbin")})
                           : found;
}

// A UDP port on the loopback address that nobody uses at the moment.
inline quint16 freeUdpPort()
{
    const int probe = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    quint16 port = 0;
    if (::bind(probe, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
        && ::getsockname(probe, reinterpret_cast<sockaddr *>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(probe);
    return port;
}

// Asks the NTP server on 127.0.0.1:`port` for the time with a query-only chronyd (-Q: measure,
// print, never set), also without CAP_SYS_TIME, and returns how far the server's time is ahead
// of this machine's clock, in seconds. `output` receives what it printed. Nothing when it got
// no usable answer within `timeoutSeconds`.
inline std::optional<double> queryOverNtp(quint16 port, int timeoutSeconds, QString *output)
{
    QProcess query;
    query.setProcessChannelMode(QProcess::MergedChannels);
    query.start(QStringLiteral("setpriv"),
                withoutClockCapability()
                    + QStringList{chronydPath(), QStringLiteral("-Q"), QStringLiteral("-t"),
                                  QString::number(timeoutSeconds),
                                  QStringLiteral("server 127.0.0.1 port %1 iburst minpoll -4 "
                                                 "maxpoll -4 maxsamples 6")
                                      .arg(port)});
    query.waitForFinished((timeoutSeconds + 10) * 1000);
    const QString printed = QString::fromLocal8Bit(query.readAll());
    if (output)
        *output = printed;
    // "System clock wrong by 0.249997 seconds (ignored)": positive when the server is ahead.
    const qsizetype at = printed.indexOf(QStringLiteral("System clock wrong by "));
    if (at < 0)
        return std::nullopt;
    bool ok = false;
    const double offset = printed.mid(at + 22).section(u' ', 0, 0).toDouble(&ok);
    return ok ? std::optional<double>(offset) : std::nullopt;
}

} // namespace Chronyd

class ChronydProcess
{
public:
    ChronydProcess() = default;
    ~ChronydProcess() { stop(); }
    ChronydProcess(const ChronydProcess &) = delete;
    ChronydProcess &operator=(const ChronydProcess &) = delete;

    // Starts chronyd with a refclock SOCK source at `refclockSocket` (poll 0, filter 2,
    // precision 1 ms, as the README advises) and, when `ntpPort` is set, an NTP server on
    // 127.0.0.1:`ntpPort` for the loopback address only. Returns false, with error(), when it
    // did not come up or could not be proven unable to set the clock (then it is stopped).
    bool start(const QString &refclockSocket, quint16 ntpPort = 0)
    {
        return start(
            QStringList{QStringLiteral("refclock SOCK %1 refid %2 poll 0 filter 2 precision 1e-3")
                            .arg(refclockSocket, Chronyd::RefId)},
            ntpPort);
    }

    // Waits up to `timeoutMs` until chronyd's clock is synchronised to a server at 127.0.0.1
    // (`tracking` names it, leap status Normal).
    bool waitForServerSync(int timeoutMs)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (!deadline.hasExpired() && isRunning()) {
            const QStringList tracking = chronyc(QStringLiteral("tracking")).trimmed().split(u',');
            if (tracking.size() > 13 && tracking.at(1) == u"127.0.0.1"
                && tracking.at(13) == u"Normal")
                return true;
            QThread::msleep(250);
        }
        return false;
    }

    // Starts chronyd with the source lines `sources` and, when `ntpPort` is set, an NTP server
    // on 127.0.0.1:`ntpPort` for the loopback address only. The tests' synchronised clock is
    // two of them: one with `local stratum 1` serving this machine's clock, and one with
    // `server 127.0.0.1 port P iburst minpoll -4 maxpoll -4` following it.
    bool start(const QStringList &sources, quint16 ntpPort)
    {
        m_error.clear();
        m_guardFailed = false;
        if (!m_folder.isValid())
            return fail(QStringLiteral("no temporary folder"));
        // chronyd drops root for _chrony, which must reach its command socket's folder; that
        // folder must be its own and closed to others.
        ::chmod(QFile::encodeName(m_folder.path()).constData(), 0711);
        const QString commandFolder = m_folder.filePath(QStringLiteral("cmd"));
        QDir().mkpath(commandFolder);
        if (const passwd *user = ::getpwnam("_chrony"))
            if (::chown(QFile::encodeName(commandFolder).constData(), user->pw_uid, user->pw_gid)
                != 0)
                return fail(QStringLiteral("cannot hand the command folder to _chrony"));
        ::chmod(QFile::encodeName(commandFolder).constData(), 0770);

        QStringList config = sources;
        config << QStringList{
            QStringLiteral("bindcmdaddress %1").arg(commandSocket()),
            QStringLiteral("cmdport 0"),
            QStringLiteral("pidfile %1").arg(m_folder.filePath(QStringLiteral("chronyd.pid"))),
            QStringLiteral("port %1").arg(ntpPort),
        };
        if (ntpPort != 0)
            config << QStringLiteral("bindaddress 127.0.0.1") << QStringLiteral("allow 127.0.0.1");
        QFile file(m_folder.filePath(QStringLiteral("chrony.conf")));
        if (!file.open(QIODevice::WriteOnly))
            return fail(QStringLiteral("cannot write chrony.conf"));
        file.write(config.join(u'\n').toLocal8Bit() + '\n');
        file.close();

        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.setWorkingDirectory(m_folder.path());
        m_process.start(QStringLiteral("setpriv"),
                        Chronyd::withoutClockCapability()
                            + QStringList{Chronyd::chronydPath(), QStringLiteral("-x"),
                                          QStringLiteral("-d"), QStringLiteral("-f"),
                                          file.fileName()});
        if (!m_process.waitForStarted(10000))
            return fail(QStringLiteral("setpriv chronyd did not start"));

        // setpriv runs chronyd in its own process: the pid is chronyd's once the command
        // socket is there.
        QDeadlineTimer deadline(10000);
        while (!QFile::exists(commandSocket())) {
            if (deadline.hasExpired() || m_process.state() == QProcess::NotRunning)
                return fail(QStringLiteral("chronyd did not come up:\n%1").arg(log()));
            m_process.waitForReadyRead(100);
        }
        QFile status(QStringLiteral("/proc/%1/status").arg(m_process.processId()));
        if (!status.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("cannot read chronyd's status"));
        const QByteArray statusText = status.readAll();
        if (!statusText.startsWith("Name:\tchronyd"))
            return fail(QStringLiteral("process %1 is not chronyd").arg(m_process.processId()));
        const QString held = Chronyd::clockCapabilityOf(statusText);
        if (!held.isEmpty()) {
            m_guardFailed = true;
            return fail(QStringLiteral("chronyd could set the clock: %1").arg(held));
        }
        // It has dropped root for _chrony, as it does on a real system.
        const qsizetype at = statusText.indexOf("\nUid:");
        const QList<QByteArray> uids =
            statusText.mid(at + 1).split('\n').constFirst().split('\t').mid(1);
        if (at < 0 || uids.size() != 4 || uids.contains("0"))
            return fail(QStringLiteral("chronyd still runs as root"));
        return true;
    }

    QString error() const { return m_error; }
    // Whether start() failed because chronyd could not be proven unable to set the clock: a
    // reason to skip, not a fault of the program.
    bool guardFailed() const { return m_guardFailed; }
    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }
    qint64 processId() const { return m_process.processId(); }

    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished(5000);
        log();
    }

    // What chronyd logged so far.
    QString log()
    {
        m_log += QString::fromLocal8Bit(m_process.readAll());
        return m_log;
    }

    // chronyc's output for a read-only command, in its comma-separated form.
    QString chronyc(const QString &command)
    {
        QProcess chronyc;
        chronyc.start(QStringLiteral("chronyc"),
                      {QStringLiteral("-c"), QStringLiteral("-h"), commandSocket(), command});
        chronyc.waitForFinished(10000);
        return QString::fromLocal8Bit(chronyc.readAllStandardOutput());
    }

    // Whether chronyd has selected the reference clock: "*" in `sources`.
    bool refclockSelected()
    {
        const QStringList lines = chronyc(QStringLiteral("sources")).split(u'\n');
        for (const QString &line : lines) {
            const QStringList fields = line.split(u',');
            if (fields.size() > 2 && fields.at(2) == Chronyd::RefId)
                return fields.at(0) == u'#' && fields.at(1) == u'*';
        }
        return false;
    }

    // chronyd's estimate of how far true time (the reference clock's) is ahead of this
    // machine's clock, in seconds: `tracking`'s system time correction, positive when the
    // clock is slow (chronyd does not correct it, running with -x), less the reference clock's
    // remaining offset from `sourcestats` (positive when the local clock is ahead of the
    // source). Nothing before chronyd has selected the source.
    std::optional<double> estimatedOffset()
    {
        const QStringList tracking = chronyc(QStringLiteral("tracking")).trimmed().split(u',');
        if (tracking.size() < 5 || tracking.at(1) != Chronyd::RefId)
            return std::nullopt;
        bool ok = false;
        const double correction = tracking.at(4).toDouble(&ok);
        if (!ok)
            return std::nullopt;
        const QStringList stats = chronyc(QStringLiteral("sourcestats")).trimmed().split(u',');
        if (stats.size() < 7 || stats.at(0) != Chronyd::RefId)
            return std::nullopt;
        const double residual = stats.at(6).toDouble(&ok);
        return ok ? std::optional<double>(correction - residual) : std::nullopt;
    }

    // Waits up to `timeoutMs` for chronyd to select the reference clock; returns how long that
    // took in milliseconds, or -1.
    qint64 waitForSelection(int timeoutMs)
    {
        QElapsedTimer elapsed;
        elapsed.start();
        while (elapsed.elapsed() < timeoutMs && isRunning()) {
            if (refclockSelected())
                return elapsed.elapsed();
            QThread::msleep(250);
        }
        return -1;
    }

    QString commandSocket() const { return m_folder.filePath(QStringLiteral("cmd/chronyd.sock")); }
    QString folder() const { return m_folder.path(); }

private:
    bool fail(const QString &error)
    {
        m_error = error;
        stop();
        return false;
    }

    QTemporaryDir m_folder;
    QProcess m_process;
    QString m_log;
    QString m_error;
    bool m_guardFailed = false;
};
