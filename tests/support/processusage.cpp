#include "tests/support/processusage.h"

std::chrono::microseconds cpuTime()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec;
    const auto micros = usage.ru_utime.tv_usec + usage.ru_stime.tv_usec;
    return std::chrono::seconds(seconds) + std::chrono::microseconds(micros);
}

qint64 wakeUpsFrom(const QString &statusFile)
{
    QFile status(statusFile);
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("voluntary_ctxt_switches:"))
            return line.mid(line.indexOf(':') + 1).trimmed().toLongLong();
    }
    return -1;
}

qint64 wakeUpsOfProcess(qint64 pid)
{
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    qint64 total = -1;
    for (const QString &task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const qint64 some = wakeUpsFrom(tasks + u'/' + task + QStringLiteral("/status"));
        if (some >= 0)
            total = std::max<qint64>(total, 0) + some;
    }
    return total;
}

bool hasOpen(qint64 pid, const QString &device)
{
    const QFileInfoList handles =
        QDir(QStringLiteral("/proc/%1/fd").arg(pid)).entryInfoList(QDir::System);
    return std::any_of(handles.cbegin(), handles.cend(), [&device](const QFileInfo &handle) {
        return handle.symLinkTarget() == device;
    });
}

qint64 residentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().simplified().split(' ');
    bool ok = false;
    const qint64 pages = fields.size() > 1 ? fields.at(1).toLongLong(&ok) : 0;
    return ok ? pages * sysconf(_SC_PAGESIZE) : -1;
}
