#include "share/localshare.h"

#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>

#ifndef Q_OS_WIN
#include <sys/socket.h>
#endif

LocalShare::LocalShare(std::function<void(const QString &)> log, qint64 bound, QObject *parent)
    : QObject(parent), m_log(std::move(log)), m_bound(bound)
{
}

LocalShare::~LocalShare()
{
    close({});
}

bool LocalShare::listen(const QString &path, std::function<QByteArray()> greeting)
{
    m_path = path;
    m_greeting = std::move(greeting);
    m_server = new QLocalServer(this);
    m_server->setMaxPendingConnections(MaxClients);
#ifdef Q_OS_WIN
    // Anyone may open a COM port on Windows, and so anyone may read it here; the window checks
    // that the pipe's server is the service (serviceclientport.cpp).
    m_server->setSocketOptions(QLocalServer::WorldAccessOption);
#else
    QLocalServer::removeServer(m_path);
#endif
    if (!m_server->listen(m_path)) {
        m_error = m_server->errorString();
        delete m_server;
        m_server = nullptr;
        return false;
    }
    connect(m_server, &QLocalServer::newConnection, this, &LocalShare::accept);
    return true;
}

void LocalShare::accept()
{
    while (QLocalSocket *client = m_server->nextPendingConnection()) {
        if (m_clients.size() >= MaxClients) {
            client->abort();
            client->deleteLater();
            continue;
        }
#ifndef Q_OS_WIN
        // The least the system allows, so that a client that stops reading shows up in
        // bytesToWrite() soon and is dropped at the bound, instead of filling a big buffer.
        const int least = 1;
        ::setsockopt(int(client->socketDescriptor()), SOL_SOCKET, SO_SNDBUF, &least, sizeof least);
#endif
        m_clients.append(client);
        connect(client, &QLocalSocket::readyRead, this,
                [this, client] { drop(client, tr("envió datos; los clientes solo leen")); });
        connect(client, &QLocalSocket::disconnected, this, [this, client] {
            if (m_clients.removeOne(client))
                client->deleteLater();
        });
        send(client, m_greeting());
    }
}

void LocalShare::broadcast(const QByteArray &bytes)
{
    const QList<QLocalSocket *> clients = m_clients; // send() may drop one
    for (QLocalSocket *client : clients)
        send(client, bytes);
}

void LocalShare::send(QLocalSocket *client, const QByteArray &bytes)
{
    client->write(bytes);
    client->flush(); // as much as the system takes now, without waiting
    if (client->bytesToWrite() > m_bound)
        drop(client, tr("no lee: más de %1 bytes esperan").arg(m_bound));
}

void LocalShare::drop(QLocalSocket *client, const QString &why)
{
    if (!m_clients.removeOne(client))
        return;
    m_log(tr("Cliente de %1 desconectado: %2.").arg(m_path, why));
    client->disconnect(this);
    client->abort();
    client->deleteLater();
}

void LocalShare::close(const QByteArray &end)
{
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
        QFile::remove(m_path); // a pipe goes with its server; a Unix socket stays as a file
#endif
    }
}
