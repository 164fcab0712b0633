#pragma once

#include <QDBusConnection>
#include <QString>

#include <sys/types.h>
#include <unistd.h>

// A connection to the bus at `address` that the bus, and every service on it, takes for one of
// user `uid`: the bus reads the connecting process's user once, when it connects, and keeps it
// for the connection's life. The process's effective user is `uid` only while it connects
// (seteuid applies to all of its threads, including Qt's D-Bus thread that makes the
// connection), and is back to what it was when this returns. Needs root. The bus must let that
// user in (PrivateBus::Users::Anyone). Not connected when any step fails.
QDBusConnection connectToBusAsUser(const QString &address, const QString &name, uid_t uid);
