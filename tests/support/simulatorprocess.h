#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <csignal>
#include <sys/types.h>

// Starting and stopping quorvel-sim from a test. The simulator's path is QUORVEL_SIM, set by
// the build.
inline const QString Simulator = QStringLiteral(QUORVEL_SIM);

// Starts the simulator with `arguments`, in the time zone `timeZone` when one is given, and
// returns the device path it printed first (empty when it printed none).
QString startSimulator(QProcess &process, const QStringList &arguments,
                       const QString &timeZone = QString());

// Waits for the simulator to end by itself, as it does after --count frames.
bool endsCleanly(QProcess &process);

// Sends `signal` to the running simulator and waits for it to end.
bool stopWith(QProcess &process, int signal);
