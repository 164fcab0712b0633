#include "core/portnumber.h"

qint16 portNumberOf(const QString &name)
{
    const qsizetype position = PortNamePrefix.size();
    if (name.size() <= position)
        return 0;
    const QChar digit = name.at(position);
    if (digit < u'0' || digit > u'9')
        return 0;
    return static_cast<qint16>(digit.unicode() - u'0');
}

qint16 listedPortNumber(const QString &name)
{
    const qint16 number = portNumberOf(name);
    if (number < FirstPortNumber || number > LastPortNumber
        || name.size() != PortNamePrefix.size() + 1
        || !name.startsWith(PortNamePrefix, Qt::CaseInsensitive))
        return 0;
    return number;
}
