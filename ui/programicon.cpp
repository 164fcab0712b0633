#include "ui/programicon.h"

QIcon programIcon()
{
    QIcon icon;
    icon.addFile(QStringLiteral(":/quorvel-16.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/quorvel-32.png"), QSize(32, 32));
    return icon;
}
