#pragma once

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A dbus-daemon of the test's own, started and stopped by the test, that lets anyone own any
// name and starts no services. The clock tests point DBUS_SYSTEM_BUS_ADDRESS at it, so that
// nothing they run can reach the machine's real system bus.
class PrivateBus
{
public:
    PrivateBus() = default;
    ~PrivateBus();
    PrivateBus(const PrivateBus &) = delete;
    PrivateBus &operator=(const PrivateBus &) = delete;

    // Who may connect: only the user running the test, or any user of this machine (for tests
    // that call as an ordinary user).
    enum class Users { Owner, Anyone };

    // Starts the daemon and waits until it tells its address. False when it could not start.
    bool start(Users users = Users::Owner);

    void stop();

    QString address() const { return m_address; }

private:
    QTemporaryDir m_dir;
    QProcess m_daemon;
    QString m_address;
};
