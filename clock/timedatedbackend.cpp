#include "clock/timedatedbackend.h"

#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>

#include <limits>

namespace {

const QString Service = QStringLiteral("org.freedesktop.timedate1");
const QString Path = QStringLiteral("/org/freedesktop/timedate1");
const QString Interface = QStringLiteral("org.freedesktop.timedate1");

// polkit may keep the user at its prompt for as long as the user likes.
constexpr int NoTimeout = std::numeric_limits<int>::max();

// timedated is not there to answer: not on the bus, not startable, or no bus at all.
bool serviceMissing(const QString &error)
{
    return error == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown")
           || error == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner")
           || error == QLatin1String("org.freedesktop.DBus.Error.Disconnected")
           || error == QLatin1String("org.freedesktop.DBus.Error.NoServer")
           || error.startsWith(QLatin1String("org.freedesktop.DBus.Error.Spawn."))
           || error.startsWith(QLatin1String("org.freedesktop.systemd1."));
}

// polkit said no, or the user dismissed its password prompt.
bool permissionDenied(const QString &error)
{
    return error == QLatin1String("org.freedesktop.DBus.Error.AccessDenied")
           || error == QLatin1String("org.freedesktop.DBus.Error.InteractiveAuthorizationRequired")
           || error.startsWith(QLatin1String("org.freedesktop.PolicyKit1.Error."));
}

} // namespace

TimedatedBackend::TimedatedBackend(const QDBusConnection &bus, ClockBackend *fallback,
                                   QObject *parent)
    : ClockBackend(parent), m_bus(bus), m_fallback(fallback)
{
    if (m_fallback)
        connect(m_fallback, &ClockBackend::finished, this, &ClockBackend::finished);
}

void TimedatedBackend::setTimeBy(std::chrono::microseconds offset)
{
    m_offset = offset;
    if (!m_bus.isConnected()) {
        // No bus at all: no call can be made, and none would ever be answered.
        onAnswer(QDBusError(QDBusError::Disconnected, m_bus.lastError().message()));
        return;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(Service, Path, Interface, QStringLiteral("SetTime"));
    // relative = true: timedated reads the clock when it sets it. interactive = true: polkit
    // may ask the user for a password.
    call << qlonglong(offset.count()) << true << true;
    const QDBusPendingCall pending = m_bus.asyncCall(call, NoTimeout);
    auto *watcher = new QDBusPendingCallWatcher(pending, this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        onAnswer(w->error());
    });
}

void TimedatedBackend::onAnswer(const QDBusError &error)
{
    if (!error.isValid()) {
        emit finished(Outcome::Set, QString());
        return;
    }

    const QString name = error.name();
    if (serviceMissing(name) && m_fallback) {
        m_fallback->setTimeBy(m_offset);
    } else if (permissionDenied(name)) {
        emit finished(Outcome::NoPermission, error.message());
    } else if (name == QLatin1String("org.freedesktop.timedate1.AutomaticTimeSyncEnabled")) {
        emit finished(Outcome::AutomaticSync, error.message());
    } else {
        emit finished(Outcome::Refused, error.message().isEmpty() ? name : error.message());
    }
}
