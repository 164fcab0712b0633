#include "tests/support/faketimedatedprocess.h"

FakeTimedatedProcess::~FakeTimedatedProcess()
{
    stop();
}

bool FakeTimedatedProcess::start(const QString &address, const QStringList &options)
{
    if (!m_dir.isValid())
        return false;
    m_process.setProgram(QStringLiteral(FAKE_TIMEDATED_PATH));
    m_process.setArguments(
        QStringList{QStringLiteral("--address"), address, QStringLiteral("--log"), logPath()}
        + options);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start();
    if (!m_process.waitForStarted(10000))
        return false;
    while (!m_process.canReadLine()) {
        if (!m_process.waitForReadyRead(10000))
            return false;
    }
    return m_process.readLine().trimmed() == "ready";
}

void FakeTimedatedProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000))
        m_process.kill();
    m_process.waitForFinished(5000);
}

QList<FakeTimedatedProcess::Call> FakeTimedatedProcess::calls() const
{
    QList<Call> calls;
    QFile log(logPath());
    if (!log.open(QIODevice::ReadOnly))
        return calls;
    while (!log.atEnd()) {
        const QList<QByteArray> fields = log.readLine().trimmed().split(' ');
        if (fields.size() != 5 || fields[0] != "SetTime")
            continue;
        calls.append(Call{fields[1].toLongLong(), fields[2] == "1", fields[3] == "1",
                          fields[4].toLongLong()});
    }
    return calls;
}
