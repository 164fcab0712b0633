#include "ui/applicationidentity.h"

#include "core/version.h"
#include "ui/programicon.h"

#include <QGuiApplication>

void setApplicationIdentity()
{
    QCoreApplication::setApplicationName(QStringLiteral("Quorvel"));
    QCoreApplication::setApplicationVersion(QLatin1String(RecordedVersion));
    QGuiApplication::setDesktopFileName(QStringLiteral("example.quorvel.Quorvel"));
    QGuiApplication::setWindowIcon(programIcon());
}
