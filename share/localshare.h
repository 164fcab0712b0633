#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>

class QLocalServer;
class QLocalSocket;

// A local socket that quorvel-refclock offers to clients that only read (a Unix socket on
// Linux, a named pipe on Windows): at most MaxClients at once, each greeted as it connects; a
// client that sends anything, or lets more than `bound` bytes wait, is dropped, so that nothing
// a client does blocks or slows the service. DeviceShare and StateShare each offer one.
class LocalShare : public QObject
{
    Q_OBJECT

public:
    // Most clients at once; one more is turned away.
    static constexpr int MaxClients = 16;

    // `log` gets a line for each client dropped.
    LocalShare(std::function<void(const QString &)> log, qint64 bound, QObject *parent = nullptr);
    ~LocalShare() override;

    // Listens at `path`, greeting each client with `greeting()`; false, with errorString(), when
    // it could not. On Windows anyone may connect; on Linux a socket left behind by a service
    // that did not end cleanly is replaced (only one program at a time holds the device).
    bool listen(const QString &path, std::function<QByteArray()> greeting);
    // Sends `bytes` to every client.
    void broadcast(const QByteArray &bytes);
    // Ends every client's stream with `end` and takes the socket away.
    void close(const QByteArray &end);

    bool listening() const { return m_server != nullptr; }
    int clientCount() const { return int(m_clients.size()); }
    QString path() const { return m_path; }
    QString errorString() const { return m_error; }

private:
    void accept();
    void send(QLocalSocket *client, const QByteArray &bytes);
    void drop(QLocalSocket *client, const QString &why);

    std::function<void(const QString &)> m_log;
    qint64 m_bound;
    std::function<QByteArray()> m_greeting;
    QLocalServer *m_server = nullptr;
    QString m_path;
    QString m_error;
    QList<QLocalSocket *> m_clients;
};
