#pragma once

#include "share/localshare.h"
#include "share/servicestate.h"

#include <QList>
#include <QObject>
#include <QString>

#include <functional>

// quorvel-refclock's state offered to local clients (the window, --status) on the device's
// state socket (stateSocketPath), for as long as the service runs, whether the device is there
// or not: the hello and the Device message, then a State message at once and one more on every
// change. Like the device's socket it is the device group's (mode 0660 on Linux); a client
// that sends anything, or lets more than MaxPending bytes wait, is dropped.
class StateShare : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 MaxPending = 64 * qint64(1024);

    explicit StateShare(const std::function<void(const QString &)> &log, QObject *parent = nullptr);
    ~StateShare() override;

    // Listens at `path` (on Linux only when the share folder exists), for `device`.
    void offer(const QString &path, const QString &device);
    // Sends `state` to every client when it differs from the latest.
    void publish(const ServiceState &state);
    // Ends every client's stream and takes the socket away.
    void withdraw();

    bool offered() const { return m_socket.listening(); }
    QString socketPath() const { return m_socket.path(); }
    const ServiceState &latest() const { return m_state; }

private:
    std::function<void(const QString &)> m_log;
    LocalShare m_socket;
    QString m_device;
    ServiceState m_state;
};
