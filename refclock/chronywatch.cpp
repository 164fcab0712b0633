#include "refclock/chronywatch.h"

#include <QCoreApplication>

ChronyWatch::ChronyWatch(QString commandSocket, std::chrono::milliseconds interval,
                         std::function<void(const Answer &)> answered, QObject *parent)
    : QObject(parent), m_commandSocket(std::move(commandSocket)), m_answered(std::move(answered))
{
    m_interval.setInterval(interval);
    connect(&m_interval, &QTimer::timeout, this, &ChronyWatch::askNow);
    m_timeout.setSingleShot(true);
    m_timeout.setInterval(AnswerTimeout);
    connect(&m_timeout, &QTimer::timeout, this,
            [this] { fail(QCoreApplication::translate("ChronyStatus", "chronyc no respondió")); });
}

ChronyWatch::~ChronyWatch()
{
    stop();
}

void ChronyWatch::start()
{
    m_interval.start();
    askNow();
}

void ChronyWatch::stop()
{
    m_interval.stop();
    m_timeout.stop();
    if (m_process != nullptr) {
        m_process->disconnect(this);
        m_process->kill();
        m_process->waitForFinished(1000);
        delete m_process;
        m_process = nullptr;
    }
}

void ChronyWatch::askNow()
{
    if (m_process != nullptr)
        return;
    m_tracking.clear();
    run(QStringLiteral("tracking"));
}

void ChronyWatch::run(const QString &command)
{
    m_process = new QProcess(this);
    connect(m_process, &QProcess::finished, this, &ChronyWatch::finished);
    connect(m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            fail(QCoreApplication::translate("ChronyStatus", "chronyc no está instalado"));
    });
    m_timeout.start();
    m_process->start(QStringLiteral("chronyc"),
                     ChronyStatus::chronycArguments(m_commandSocket, command));
}

void ChronyWatch::finished()
{
    QProcess *process = m_process;
    const QString output = QString::fromLocal8Bit(process->readAllStandardOutput());
    const QString said = QString::fromLocal8Bit(process->readAllStandardError()).trimmed();
    const bool ok = process->exitStatus() == QProcess::NormalExit && process->exitCode() == 0
                    && !output.trimmed().isEmpty();
    const int code = process->exitCode();
    m_timeout.stop();
    process->disconnect(this);
    process->deleteLater();
    m_process = nullptr;
    if (!ok) {
        fail(said.isEmpty()
                 ? QCoreApplication::translate("ChronyStatus", "chronyc terminó con el código %1")
                       .arg(code)
                 : said);
        return;
    }
    if (m_tracking.isEmpty()) {
        m_tracking = output;
        run(QStringLiteral("sources"));
        return;
    }
    m_answered(
        {ChronyStatus::fromOutputs(m_tracking, output), ChronyDeviceSource::fromSources(output)});
}

void ChronyWatch::fail(const QString &reason)
{
    m_timeout.stop();
    if (m_process != nullptr) {
        m_process->disconnect(this);
        m_process->kill();
        m_process->deleteLater();
        m_process = nullptr;
    }
    ChronyStatus status;
    status.kind = ChronyStatus::NoChrony;
    status.reference = reason;
    m_answered({status, {}});
}
