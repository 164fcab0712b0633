#include "share/stateshare.h"

#include "share/shareprotocol.h"

#include <QFile>
#include <QFileInfo>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#endif

StateShare::StateShare(const std::function<void(const QString &)> &log, QObject *parent)
    : QObject(parent), m_log(log), m_socket(log, MaxPending, this)
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
    m_device = device;
    m_state.device = device;
    if (!m_socket.listen(path, [this] {
            return ShareProtocol::hello() + ShareProtocol::device(m_device)
                   + ShareProtocol::state(m_state);
        })) {
        m_log(tr("No se puede ofrecer el estado del servicio en %1: %2.")
                  .arg(path, m_socket.errorString()));
        return;
    }
#ifndef Q_OS_WIN
    // The device's group, as its socket: made with the service's group, which the unit makes
    // the devices' group.
    ::chmod(QFile::encodeName(path).constData(), 0660);
#endif
}

void StateShare::publish(const ServiceState &state)
{
    if (state == m_state)
        return;
    m_state = state;
    m_socket.broadcast(ShareProtocol::state(m_state));
}

void StateShare::withdraw()
{
    m_socket.close(ShareProtocol::end(ShareProtocol::EndReason::ServiceStopping));
}
