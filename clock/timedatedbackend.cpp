#include "clock/timedatedbackend.h"

#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>

#include <limits>

// What timedated does with the time that passes between our call and its setting of the clock:
// as far as we know, it adds the time from when its method handler starts to when it sets the
// clock. When polkit has to ask the user, the handler runs again once polkit has answered and
// starts counting anew, so the minutes spent at the password prompt are not added. We do not
// rely on either: an answer that took long is followed by a second, non-interactive call with
// the time as it stands then (polkit normally keeps the authorisation for a few minutes), so
// the clock ends right whichever way timedated counts.

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
                                   QObject *parent, std::function<MonotonicTime()> monotonicNow)
    : ClockBackend(parent), m_bus(bus), m_fallback(fallback),
      m_monotonicNow(std::move(monotonicNow))
{
    if (m_fallback)
        connect(m_fallback, &ClockBackend::finished, this, &ClockBackend::finished);
}

void TimedatedBackend::setTime(UtcTime utc)
{
    m_target = utc;
    m_targetTaken = m_monotonicNow();
    send(true);
}

UtcTime TimedatedBackend::currentTarget() const
{
    return m_target
           + std::chrono::duration_cast<std::chrono::microseconds>(m_monotonicNow()
                                                                   - m_targetTaken);
}

void TimedatedBackend::send(bool interactive)
{
    if (!m_bus.isConnected()) {
        // No bus at all: no call can be made, and none would ever be answered.
        onAnswer(QDBusError(QDBusError::Disconnected, m_bus.lastError().message()), interactive);
        return;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(Service, Path, Interface, QStringLiteral("SetTime"));
    m_sentAt = m_monotonicNow();
    call << qlonglong(currentTarget().time_since_epoch().count()) << false << interactive;
    // The prompt may wait on the user; a call without it is answered at once.
    const QDBusPendingCall pending = m_bus.asyncCall(call, interactive ? NoTimeout : -1);
    auto *watcher = new QDBusPendingCallWatcher(pending, this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, interactive](QDBusPendingCallWatcher *w) {
                w->deleteLater();
                onAnswer(w->error(), interactive);
            });
}

void TimedatedBackend::onAnswer(const QDBusError &error, bool interactive)
{
    if (!interactive) {
        // The clock was already set by the first call; this one only made it more exact.
        emit finished(Outcome::Set, QString());
        return;
    }
    if (!error.isValid()) {
        if (m_monotonicNow() - m_sentAt >= SlowAnswer)
            send(false);
        else
            emit finished(Outcome::Set, QString());
        return;
    }

    const QString name = error.name();
    if (serviceMissing(name) && m_fallback) {
        m_fallback->setTime(currentTarget());
    } else if (permissionDenied(name)) {
        emit finished(Outcome::NoPermission, error.message());
    } else if (name == QLatin1String("org.freedesktop.timedate1.AutomaticTimeSyncEnabled")) {
        emit finished(Outcome::AutomaticSync, error.message());
    } else {
        emit finished(Outcome::Refused, error.message().isEmpty() ? name : error.message());
    }
}
