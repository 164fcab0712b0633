#include "ui/applicationidentity.h"

#include "ui/programicon.h"

#include <QGuiApplication>

void setApplicationIdentity()
{
    QCoreApplication::setApplicationName(QStringLiteral("Quorvel"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.00"));
    QGuiApplication::setDesktopFileName(QStringLiteral("example.quorvel.Quorvel"));
    QGuiApplication::setWindowIcon(programIcon());
}
