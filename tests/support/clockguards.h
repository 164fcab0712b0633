#pragma once

#include "tests/support/clockcalllog.h"

#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>

// The three guards that keep a real clock service, run by a test as root, from changing this
// machine's clock, and the proofs that each of them works:
// - capability: the service runs without CAP_SYS_TIME, in any of its sets (setpriv);
// - seccomp: the kernel fails clock_settime, settimeofday, adjtimex, clock_adjtime and
//   ioctl(RTC_SET_TIME) with EPERM (no-clock-syscalls);
// - recorder: a preloaded library takes those calls, logs them with their values and answers
//   success without passing them on (clock-call-recorder.so).
// The probe used for the proofs makes only calls that change nothing even without a guard.
// The build names the helpers: NO_CLOCK_SYSCALLS_PATH, CLOCK_CALL_RECORDER_PATH and
// CLOCK_GUARD_PROBE_PATH.
namespace ClockGuards {

// A command line wrapped in a guard: the guard's program and options, then the command.
using Wrap = std::function<QStringList(const QStringList &command)>;

QStringList withoutSysTime(const QStringList &command);

QStringList underSeccomp(const QStringList &command);

// `callLog` is the file the recorder appends to.
QStringList withRecorder(const QStringList &command, const QString &callLog);

// All three: the command runs without CAP_SYS_TIME, under the filter, with the recorder.
QStringList all(const QStringList &command, const QString &callLog);

// Runs the probe's `checks` under `wrap` and returns what it printed, as name -> result.
QMap<QString, QString> probe(const QStringList &checks, const Wrap &wrap);

// Empty when every `expected` result was printed; otherwise what differed.
QString differences(const QMap<QString, QString> &got, const QMap<QString, QString> &expected,
                    const QString &run);

QStringList asIs(const QStringList &command);

// Without CAP_SYS_TIME: no set holds it, and a call that needs it (and changes nothing) fails.
QString proveCapability();

// The kernel fails each clock call with EPERM, even for the root user holding CAP_SYS_TIME,
// where without the filter the same calls give other answers; other ioctls still work.
QString proveSeccomp();

// The recorder answers each clock call with success where the kernel would have refused the
// probe's invalid values, and logs each with its value; other ioctls still work.
QString proveRecorder();

// All three on one program, composed as for the service: each still does its part.
QString proveTogether();

} // namespace ClockGuards
