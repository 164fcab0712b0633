#include "share/sharesocketpath.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

QString shareFolder()
{
    const QString folder = qEnvironmentVariable(ShareFolderVariable);
    return folder.isEmpty() ? QString::fromLatin1(DefaultShareFolder) : folder;
}

#ifdef Q_OS_WIN
QString shareSocketPath(const QString &device)
{
    QString name = device;
    if (name.startsWith(QLatin1String("\\\\.\\")))
        name.remove(0, 4);
    if (name.isEmpty() || name.contains(u'\\') || name.contains(u'/'))
        return {};
    return QStringLiteral("quorvel-refclock-") + name.toUpper();
}
#else
QString shareSocketPath(const QString &device)
{
    // A Unix socket's path holds at most 107 bytes.
    constexpr qsizetype MaxPath = 107;
    QString name = QFileInfo(device).canonicalFilePath();
    if (name.isEmpty())
        name = QDir::cleanPath(device);
    if (name.startsWith(QLatin1String("/dev/")))
        name.remove(0, 5);
    while (name.startsWith(u'/'))
        name.remove(0, 1);
    name.replace(u'/', u'_');
    if (name.isEmpty())
        return {};
    const QString path = QDir(shareFolder()).filePath(name + QLatin1String(".socket"));
    return QFile::encodeName(path).size() > MaxPath ? QString() : path;
}
#endif
