#pragma once

#include "tests/support/environmentsetting.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <csignal>
#include <memory>
#include <sys/types.h>
#include <unistd.h>

// Runs the real quorvel-refclock (its path is QUORVEL_REFCLOCK, set by the build) and collects
// its log lines from stderr. Run as root, it runs as the systemd unit runs it: root without any
// capability and without a way to gain one. The one way the tests start the program.
class RefclockProcess
{
public:
    RefclockProcess() = default;
    ~RefclockProcess();
    RefclockProcess(const RefclockProcess &) = delete;
    RefclockProcess &operator=(const RefclockProcess &) = delete;

    // Starts the program as the systemd unit runs it.
    bool start(const QStringList &arguments) { return start(arguments, AsService); }

    // Starts it as the service on `device`, sending its samples to `chronySocket`, with
    // `extra` arguments; true once it reads the device.
    bool startReading(const QString &device, const QString &chronySocket,
                      const QStringList &extra = {});

    // Makes it share its device in `folder` (created when missing), which is named to this
    // process and every program started while this lives (the window's rig among them).
    bool shareIn(const QString &folder);

    // Starts it as an administrator runs it by hand (quorvel-refclock --calibrate): as root,
    // with root's capabilities but CAP_SYS_TIME, so that it can reach chronyd's command
    // socket as chronyc does and still not set the clock.
    bool startByHand(const QStringList &arguments) { return start(arguments, ByHand); }

    qint64 processId() const { return m_process.processId(); }

    // Every line logged so far.
    QStringList lines();

    // The lines that contain `text`.
    QStringList linesWith(const QString &text) { return lines().filter(text); }

    // Waits up to `timeoutMs` until `count` lines contain `text`.
    bool waitForLines(const QString &text, int count, int timeoutMs);

    // Lets the program run for `ms` while its log is read.
    void runFor(int ms);

    // Sends `signal` and returns the exit code, or -1 when it did not end normally within 5 s.
    int stopWith(int signal);

    // Everything logged, for the test's output (where sanitizer reports are looked for too).
    QString log();

    // Waits up to `timeoutMs` for the program to end by itself and returns its exit code, or -1.
    int waitForExit(int timeoutMs);

    // What it printed on standard output so far (calibration's results).
    QString output();

private:
    enum Mode { AsService, ByHand };

    bool start(const QStringList &arguments, Mode mode);

    std::unique_ptr<EnvironmentSetting> m_shareFolder;
    QProcess m_process;
    QString m_pending;
    QStringList m_lines;
    QString m_output;
};
