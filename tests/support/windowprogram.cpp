#include "tests/support/windowprogram.h"

#include "tests/support/processusage.h"

#include <QProcessEnvironment>
#include <QTest>

#include <csignal>

WindowProgram::~WindowProgram()
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000))
        process.kill();
    process.waitForFinished(5000);
}

bool WindowProgram::start(const QString &device, const Options &options)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QUORVEL_COM1"), device);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"),
                       options.systemBus.isEmpty()
                           ? QStringLiteral("unix:path=/nonexistent/quorvel-test-bus")
                           : options.systemBus);
    if (options.logFrames) {
        environment.insert(QStringLiteral("QT_LOGGING_RULES"),
                           QStringLiteral("quorvel.frames.info=true"));
    }
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(options.logFrames ? QProcess::MergedChannels
                                                    : QProcess::ForwardedChannels);
    QStringList command =
        options.wrapper
        + QStringList{options.program.isEmpty() ? QStringLiteral(QUORVEL_PROGRAM) : options.program}
        + options.arguments;
    process.start(command.takeFirst(), command);
    return process.waitForStarted(10000);
}

bool WindowProgram::opensWithin(const QString &device, std::chrono::milliseconds time) const
{
    return QTest::qWaitFor([&] { return hasOpen(process.processId(), device); }, int(time.count()));
}

bool WindowProgram::showsWithin(const QByteArray &text, std::chrono::milliseconds time)
{
    return QTest::qWaitFor(
        [&] {
            m_output += process.readAll();
            return m_output.contains("frame shown: " + text);
        },
        int(time.count()));
}

int WindowProgram::stopWith(int signal)
{
    const qint64 id = process.processId();
    if (id <= 0 || ::kill(pid_t(id), signal) != 0 || !process.waitForFinished(10000))
        return -1;
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}
