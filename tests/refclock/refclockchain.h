#pragma once

#include "tests/support/chronydprocess.h"
#include "tests/support/refclockprocess.h"
#include "tests/support/simulatorprocess.h"

#include <QDebug>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <csignal>
#include <memory>
#include <optional>

// Starts `chronyd` with `arguments` (see ChronydProcess::start); skips the test when chronyd
// could not be proven unable to set the clock, and fails it when chronyd did not come up.
#define START_CHRONYD(chronyd, ...)                                                                \
    do {                                                                                           \
        if (!(chronyd).start(__VA_ARGS__)) {                                                       \
            if ((chronyd).guardFailed())                                                           \
                QSKIP(qPrintable((chronyd).error()));                                              \
            QFAIL(qPrintable((chronyd).error()));                                                  \
        }                                                                                          \
    } while (false)

// The whole chain as a user runs it: quorvel-sim (the device) behind a device path that can be
// unplugged and plugged in again, the real quorvel-refclock reading it, and a real chronyd
// (see ChronydProcess) with the refclock's socket.
class RefclockChain
{
public:
    RefclockChain() = default;
    ~RefclockChain()
    {
        // The refclock's log goes to the test's output, where the sanitizer build looks for
        // reports (a leak is reported as the program ends); what --verbose adds is left out.
        refclock.stopWith(SIGTERM);
        const QStringList lines = refclock.lines();
        for (const QString &line : lines) {
            if (!line.contains(QStringLiteral("Muestra "))
                && !line.contains(QStringLiteral("Trama ")))
                qInfo().noquote() << line;
        }
        unplug();
    }
    RefclockChain(const RefclockChain &) = delete;
    RefclockChain &operator=(const RefclockChain &) = delete;

    QString refclockSocket() const { return m_folder.filePath(QStringLiteral("refclock.sock")); }
    QString devicePath() const { return m_folder.filePath(QStringLiteral("device")); }

    // Plugs in a new simulated device started with `arguments`.
    bool plug(const QStringList &arguments)
    {
        unplug();
        m_simulator = std::make_unique<QProcess>();
        const QString line = startSimulator(*m_simulator, arguments);
        return !line.isEmpty() && QFile::link(line, devicePath());
    }

    // The device goes away: the simulator ends and its line with it.
    void unplug()
    {
        QFile::remove(devicePath());
        if (m_simulator)
            stopWith(*m_simulator, SIGTERM);
        m_simulator.reset();
    }

    bool startRefclock(const QStringList &extra = {})
    {
        return refclock.start(QStringList{QStringLiteral("--port"), devicePath(),
                                          QStringLiteral("--socket"), refclockSocket()}
                              + extra);
    }

    // Runs quorvel-refclock --calibrate on the plugged device for `length` (as the option
    // takes it), asking the chronyd whose command socket is `chronySocket`, with `extra`
    // arguments; waits for it to end and returns its exit code (-1 when it did not end).
    int calibrate(const QString &length, const QString &chronySocket, const QStringList &extra = {})
    {
        if (!calibration.startByHand(QStringList{QStringLiteral("--port"), devicePath(),
                                                 QStringLiteral("--calibrate"), length,
                                                 QStringLiteral("--chrony-socket"), chronySocket}
                                     + extra))
            return -1;
        const std::optional<std::chrono::microseconds> parsed = parseLength(length);
        return calibration.waitForExit(int(parsed ? parsed->count() / 1000 : 0) + 30000);
    }

    // The delay calibration printed ("Opción: --delay 0.1315"), in seconds.
    std::optional<double> calibratedDelay()
    {
        static const QRegularExpression option(QStringLiteral("Opción: --delay (-?[0-9.]+)"));
        const QRegularExpressionMatch match = option.match(calibration.output());
        return match.hasMatch() ? std::optional<double>(match.captured(1).toDouble())
                                : std::nullopt;
    }

    // The offsets of the samples the refclock logged as sent (it runs with --verbose), in
    // seconds.
    QList<double> sentOffsets()
    {
        static const QRegularExpression sent(
            QStringLiteral("Muestra enviada: llegada [0-9.]+, adelanto (-?[0-9.]+) s"));
        QList<double> offsets;
        for (const QString &line : refclock.lines()) {
            const QRegularExpressionMatch match = sent.match(line);
            if (match.hasMatch())
                offsets.append(match.captured(1).toDouble());
        }
        return offsets;
    }

    ChronydProcess chronyd;
    RefclockProcess refclock;
    RefclockProcess calibration; // quorvel-refclock --calibrate

private:
    // "30s", "2m": the lengths the tests give.
    static std::optional<std::chrono::microseconds> parseLength(const QString &text)
    {
        bool ok = false;
        const double number = text.left(text.size() - 1).toDouble(&ok);
        if (!ok)
            return std::nullopt;
        const double seconds = text.endsWith(u'm') ? number * 60 : number;
        return std::chrono::microseconds(qint64(seconds * 1e6));
    }

    QTemporaryDir m_folder;
    std::unique_ptr<QProcess> m_simulator;
};
