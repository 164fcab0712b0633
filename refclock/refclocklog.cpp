#include "refclock/refclocklog.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#include <cstdio>

void StandardErrorLog::write(const QString &line)
{
    std::fprintf(stderr, "quorvel-refclock: %s\n", qPrintable(line));
    std::fflush(stderr);
}

FileLog::FileLog(const QString &path) : m_file(path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text);
}

void FileLog::write(const QString &line)
{
    if (!m_file.isOpen()) {
        m_fallback.write(line);
        return;
    }
    const QString stamp =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
    m_file.write(QStringLiteral("%1 %2\n").arg(stamp, line).toUtf8());
    m_file.flush();
}
