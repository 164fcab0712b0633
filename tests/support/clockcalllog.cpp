#include "tests/support/clockcalllog.h"

bool ClockCall::changesSystemClock() const
{
    if (name == "clock_settime" || name == "settimeofday")
        return field("null", 0) == 0;
    if (name == "adjtimex" || name == "ntp_adjtime" || name == "clock_adjtime")
        return field("modes", 0) != 0;
    return false;
}

qint64 ClockCall::setValueUsec() const
{
    if (name == "clock_settime")
        return field("sec") * 1000000 + field("nsec") / 1000;
    return field("sec") * 1000000 + field("usec");
}

QList<ClockCall> readClockCalls(const QString &path)
{
    QList<ClockCall> calls;
    QFile log(path);
    if (!log.open(QIODevice::ReadOnly))
        return calls;
    while (!log.atEnd()) {
        const QList<QByteArray> words = log.readLine().trimmed().split(' ');
        if (words.isEmpty() || words[0].isEmpty())
            continue;
        ClockCall call;
        call.name = words[0];
        for (qsizetype i = 1; i < words.size(); ++i) {
            const qsizetype equals = words[i].indexOf('=');
            if (equals > 0)
                call.fields.insert(words[i].left(equals), words[i].mid(equals + 1).toLongLong());
        }
        calls.append(call);
    }
    return calls;
}
