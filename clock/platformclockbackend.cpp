#include "clock/platformclockbackend.h"

#include <QtGlobal>

#ifdef Q_OS_WIN
#include "clock/windowsclockbackend.h"
#else
#include "clock/settimebackend.h"
#include "clock/timedatedbackend.h"
#endif

ClockBackend *createPlatformClockBackend(QObject *parent)
{
#ifdef Q_OS_WIN
    return new WindowsClockBackend(systemWindowsClock(), systemElevation(), parent);
#else
    auto *direct = new SetTimeBackend(systemRealtimeClock(), parent);
    auto *backend = new TimedatedBackend(QDBusConnection::systemBus(), direct, parent);
    direct->setParent(backend);
    return backend;
#endif
}
