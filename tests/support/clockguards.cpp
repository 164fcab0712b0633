#include "tests/support/clockguards.h"

#include <QProcess>
#include <QTemporaryDir>

namespace ClockGuards {

QStringList withoutSysTime(const QStringList &command)
{
    return QStringList{QStringLiteral("setpriv"), QStringLiteral("--bounding-set=-sys_time"),
                       QStringLiteral("--inh-caps=-sys_time"), QStringLiteral("--")}
           + command;
}

QStringList underSeccomp(const QStringList &command)
{
    return QStringList{QStringLiteral(NO_CLOCK_SYSCALLS_PATH)} + command;
}

QStringList withRecorder(const QStringList &command, const QString &callLog)
{
    return QStringList{QStringLiteral("env"),
                       QStringLiteral("LD_PRELOAD=" CLOCK_CALL_RECORDER_PATH),
                       QStringLiteral("QUORVEL_CLOCK_CALL_LOG=") + callLog}
           + command;
}

QStringList all(const QStringList &command, const QString &callLog)
{
    return withoutSysTime(underSeccomp(withRecorder(command, callLog)));
}

QMap<QString, QString> probe(const QStringList &checks, const Wrap &wrap)
{
    QMap<QString, QString> results;
    const QStringList command = wrap(QStringList{QStringLiteral(CLOCK_GUARD_PROBE_PATH)} + checks);
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(command.first(), command.mid(1));
    if (!process.waitForFinished(20000) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0)
        return results;
    const QList<QByteArray> lines = process.readAllStandardOutput().split('\n');
    for (const QByteArray &line : lines) {
        const qsizetype equals = line.indexOf('=');
        if (equals > 0)
            results.insert(QString::fromUtf8(line.left(equals)),
                           QString::fromUtf8(line.mid(equals + 1)));
    }
    return results;
}

QString differences(const QMap<QString, QString> &got, const QMap<QString, QString> &expected,
                    const QString &run)
{
    QStringList wrong;
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        if (got.value(it.key()) != it.value())
            wrong.append(
                QStringLiteral("%1=%2 (expected %3)")
                    .arg(it.key(), got.value(it.key(), QStringLiteral("nothing")), it.value()));
    }
    return wrong.isEmpty() ? QString()
                           : run + QStringLiteral(": ") + wrong.join(QLatin1String(", "));
}

QStringList asIs(const QStringList &command)
{
    return command;
}

QString proveCapability()
{
    const QMap<QString, QString> expected{
        {QStringLiteral("sys_time_in_CapInh"), QStringLiteral("0")},
        {QStringLiteral("sys_time_in_CapPrm"), QStringLiteral("0")},
        {QStringLiteral("sys_time_in_CapEff"), QStringLiteral("0")},
        {QStringLiteral("sys_time_in_CapBnd"), QStringLiteral("0")},
        {QStringLiteral("sys_time_in_CapAmb"), QStringLiteral("0")},
        {QStringLiteral("cap_settimeofday_null"), QStringLiteral("EPERM")}};
    return differences(probe({QStringLiteral("capability")}, withoutSysTime), expected,
                       QStringLiteral("under setpriv"));
}

QString proveSeccomp()
{
    const QStringList checks{QStringLiteral("seccomp")};
    // Without the filter the probe's calls are told apart: invalid value, not an RTC.
    const QString contrast =
        differences(probe(checks, asIs),
                    {{QStringLiteral("sc_clock_settime_invalid"), QStringLiteral("EINVAL")},
                     {QStringLiteral("sc_ioctl_rtc_set_time_on_pipe"), QStringLiteral("ENOTTY")},
                     {QStringLiteral("sc_ioctl_fionread_on_pipe"), QStringLiteral("0")}},
                    QStringLiteral("without the filter"));
    if (!contrast.isEmpty())
        return contrast;
    const QString eperm = QStringLiteral("EPERM");
    return differences(probe(checks, underSeccomp),
                       {{QStringLiteral("sc_settimeofday_null"), eperm},
                        {QStringLiteral("sc_clock_settime_invalid"), eperm},
                        {QStringLiteral("sc_adjtimex_read"), eperm},
                        {QStringLiteral("sc_clock_adjtime_read"), eperm},
                        {QStringLiteral("sc_ioctl_rtc_set_time_on_pipe"), eperm},
                        {QStringLiteral("sc_ioctl_rtc_set_time_high_bits"), eperm},
                        {QStringLiteral("sc_x32_getpid"), eperm},
                        {QStringLiteral("sc_ioctl_fionread_on_pipe"), QStringLiteral("0")}},
                       QStringLiteral("under the filter"));
}

QString proveRecorder()
{
    const QStringList checks{QStringLiteral("recorder")};
    const QString contrast = differences(
        probe(checks, asIs),
        {{QStringLiteral("lib_clock_settime_invalid"), QStringLiteral("EINVAL")},
         {QStringLiteral("lib_adjtimex_invalid"), QStringLiteral("EINVAL")},
         {QStringLiteral("lib_ioctl_rtc_set_time_on_devnull"), QStringLiteral("ENOTTY")}},
        QStringLiteral("without the recorder"));
    if (!contrast.isEmpty())
        return contrast;

    QTemporaryDir dir;
    const QString log = dir.filePath(QStringLiteral("calls.log"));
    const QString zero = QStringLiteral("0");
    const QString answers = differences(
        probe(checks, [&log](const QStringList &command) { return withRecorder(command, log); }),
        {{QStringLiteral("lib_clock_settime_invalid"), zero},
         {QStringLiteral("lib_settimeofday_invalid"), zero},
         {QStringLiteral("lib_adjtimex_invalid"), zero},
         {QStringLiteral("lib_ntp_adjtime_invalid"), zero},
         {QStringLiteral("lib_clock_adjtime_invalid"), zero},
         {QStringLiteral("lib_ioctl_rtc_set_time_on_devnull"), zero},
         {QStringLiteral("lib_ioctl_fionread_on_pipe"), zero},
         {QStringLiteral("lib_fionread_count"), QStringLiteral("3")}},
        QStringLiteral("with the recorder"));
    if (!answers.isEmpty())
        return answers;

    // The values the probe passed, as the recorder logged them.
    const QList<ClockCall> calls = readClockCalls(log);
    const bool logged = calls.size() == 6 && calls[0].name == "clock_settime"
                        && calls[0].field("sec") == 1234567 && calls[0].field("nsec") == 2000000000
                        && calls[1].name == "settimeofday" && calls[1].field("sec") == 7654321
                        && calls[1].field("usec") == 2000000 && calls[2].name == "adjtimex"
                        && calls[2].field("offset") == 4242 && calls[3].name == "ntp_adjtime"
                        && calls[3].field("modes") == 0x8000 && calls[4].name == "clock_adjtime"
                        && calls[4].field("clock") == 0 && calls[5].name == "rtc_set_time"
                        && calls[5].field("year") == 107 && calls[5].field("mday") == 15
                        && calls[5].field("real") > 0;
    return logged ? QString()
                  : QStringLiteral("with the recorder: the log does not hold the %1 calls' values")
                        .arg(calls.size());
}

QString proveTogether()
{
    QTemporaryDir dir;
    const QString log = dir.filePath(QStringLiteral("calls.log"));
    const QString eperm = QStringLiteral("EPERM");
    const QString found = differences(
        probe({QStringLiteral("capability"), QStringLiteral("seccomp"), QStringLiteral("recorder")},
              [&log](const QStringList &command) { return all(command, log); }),
        {{QStringLiteral("sys_time_in_CapEff"), QStringLiteral("0")},
         {QStringLiteral("sys_time_in_CapBnd"), QStringLiteral("0")},
         {QStringLiteral("sc_clock_settime_invalid"), eperm},
         {QStringLiteral("sc_ioctl_rtc_set_time_on_pipe"), eperm},
         {QStringLiteral("lib_clock_settime_invalid"), QStringLiteral("0")},
         {QStringLiteral("lib_ioctl_rtc_set_time_on_devnull"), QStringLiteral("0")}},
        QStringLiteral("composed as for the service"));
    if (!found.isEmpty())
        return found;
    return readClockCalls(log).size() == 6
               ? QString()
               : QStringLiteral("composed as for the service: the recorder did not log the calls");
}

} // namespace ClockGuards
