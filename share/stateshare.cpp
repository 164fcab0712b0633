#include "share/stateshare.h"

#include "share/shareprotocol.h"

#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#include <unistd.h>
#endif

StateShare::StateShare(std::function<void(const QString &)> log, QObject *parent)
    : QObject(parent), m_log(std::move(log))
{
}

StateShare::~StateShare()
{
    withdraw();
}

void StateShare::offer(const QString &path, const QString &device)
{
    withdraw();
    if (path.isEmpty())
        return;
#ifndef Q_OS_WIN
    if (!QFileInfo(shareFolder()).isDir())
        return;
#endif
    m_path = path;
    m_device = device;
    m_state.device = device;
    m_server = new QLocalServer(this);
    m_server->setMaxPendingConnections(MaxClients);
#ifdef Q_OS_WIN
    m_server->setSocketOptions(QLocalServer::WorldAccessOption);
#else
    QLocalServer::removeServer(m_path); // left by a service that did not end cleanly
#endif
    if (!m_server->listen(m_path)) {
        m_log(tr("No se puede ofrecer el estado del servicio en %1: %2.")
                  .arg(m_path, m_server->errorString()));
        delete m_server;
        m_server = nullptr;
        return;
    }
#ifndef Q_OS_WIN
    // The device's group, as its socket: made with the service's group, which the unit makes
    // the devices' group.
    ::chmod(QFile::encodeName(m_path).constData(), 0660);
#endif
    connect(m_server, &QLocalServer::newConnection, this, &StateShare::accept);
}

void StateShare::accept()
{
    while (QLocalSocket *client = m_server->nextPendingConnection()) {
        if (m_clients.size() >= MaxClients) {
            client->abort();
            client->deleteLater();
            continue;
        }
        m_clients.append(client);
        connect(client, &QLocalSocket::readyRead, this, [this, client] { drop(client); });
        connect(client, &QLocalSocket::disconnected, this, [this, client] {
            if (m_clients.removeOne(client))
                client->deleteLater();
        });
        send(client, ShareProtocol::hello() + ShareProtocol::device(m_device)
                         + ShareProtocol::state(m_state));
    }
}

void StateShare::publish(const ServiceState &state)
{
    if (state == m_state)
        return;
    m_state = state;
    const QByteArray message = ShareProtocol::state(m_state);
    const QList<QLocalSocket *> clients = m_clients; // send() may drop one
    for (QLocalSocket *client : clients)
        send(client, message);
}

void StateShare::send(QLocalSocket *client, const QByteArray &bytes)
{
    client->write(bytes);
    client->flush();
    if (client->bytesToWrite() > MaxPending)
        drop(client);
}

void StateShare::drop(QLocalSocket *client)
{
    if (!m_clients.removeOne(client))
        return;
    client->disconnect(this);
    client->abort();
    client->deleteLater();
}

void StateShare::withdraw()
{
    const QByteArray end = ShareProtocol::end(ShareProtocol::EndReason::ServiceStopping);
    for (QLocalSocket *client : std::as_const(m_clients)) {
        client->disconnect(this);
        client->write(end);
        client->flush();
        client->abort();
        client->deleteLater();
    }
    m_clients.clear();
    if (m_server != nullptr) {
        m_server->close();
        delete m_server;
        m_server = nullptr;
#ifndef Q_OS_WIN
        QFile::remove(m_path);
#endif
    }
}
