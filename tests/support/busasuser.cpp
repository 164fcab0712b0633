#include "tests/support/busasuser.h"

#include <unistd.h>

QDBusConnection connectToBusAsUser(const QString &address, const QString &name, uid_t uid)
{
    const uid_t own = geteuid();
    if (seteuid(uid) != 0)
        return QDBusConnection(name);
    QDBusConnection bus = QDBusConnection::connectToBus(address, name);
    if (seteuid(own) != 0)
        qFatal("could not return to user %u after connecting as user %u", unsigned(own),
               unsigned(uid));
    return bus;
}
