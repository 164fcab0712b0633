#include "tests/support/privatebus.h"

PrivateBus::~PrivateBus()
{
    stop();
}

bool PrivateBus::start(Users users)
{
    if (!m_dir.isValid())
        return false;
    const QString config = m_dir.filePath(QStringLiteral("bus.conf"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(
        R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=)"
        + m_dir.path().toUtf8() +
        R"(</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
)" + QByteArray(users == Users::Anyone ? "    <allow user=\"*\"/>\n" : "")
        +
        R"(    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)");
    file.close();
    // Other users reach the socket only through a folder they may enter.
    if (users == Users::Anyone
        && !QFile::setPermissions(m_dir.path(), QFile::ReadOwner | QFile::WriteOwner
                                                    | QFile::ExeOwner | QFile::ExeGroup
                                                    | QFile::ExeOther))
        return false;

    m_daemon.setProgram(QStringLiteral("dbus-daemon"));
    m_daemon.setArguments({QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                           QStringLiteral("--print-address")});
    m_daemon.start();
    if (!m_daemon.waitForStarted(10000))
        return false;
    while (!m_daemon.canReadLine()) {
        if (!m_daemon.waitForReadyRead(10000))
            return false;
    }
    m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    return !m_address.isEmpty();
}

void PrivateBus::stop()
{
    if (m_daemon.state() == QProcess::NotRunning)
        return;
    m_daemon.terminate();
    if (!m_daemon.waitForFinished(5000))
        m_daemon.kill();
    m_daemon.waitForFinished(5000);
}
