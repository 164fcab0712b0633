#include "tests/support/lockfiles.h"

QStringList existingLockFiles(const QString &device)
{
    QString name = device;
    if (name.startsWith(QLatin1String("/dev/")))
        name.remove(0, 5);
    name.replace(u'/', u'_');
    QStringList found;
    for (const char *folder : {"/var/lock", "/run/lock", "/tmp", "/var/tmp"}) {
        const QFileInfo lock(
            QDir(QString::fromLatin1(folder)).filePath(QStringLiteral("LCK..") + name));
        if (lock.exists())
            found.append(lock.canonicalFilePath());
    }
    found.removeDuplicates();
    return found;
}
