#include "tools/sim/frametext.h"

namespace {

QByteArray fields(const QDateTime &time, const QByteArray &weekday, const QByteArray &summer)
{
    const QDate date = time.date();
    const QTime clock = time.time();
    return QString::asprintf("%02d:%02d:%02d,%02d/%02d/%04d,", clock.hour(), clock.minute(),
                             clock.second(), date.month(), date.day(), date.year())
               .toLatin1()
           + weekday + ',' + summer;
}

QByteArray weekdayOf(const QDateTime &time)
{
    return QByteArray::number(time.date().dayOfWeek());
}

QByteArray summerOf(const QDateTime &time)
{
    return time.isDaylightTime() ? QByteArrayLiteral("1") : QByteArrayLiteral("0");
}

} // namespace

QByteArray frameText(const QDateTime &time)
{
    return '$' + fields(time, weekdayOf(time), summerOf(time)) + "\r\n";
}

QByteArray malformedFrameText(const QDateTime &time, Malformation kind)
{
    QByteArray text = fields(time, weekdayOf(time), summerOf(time));
    switch (kind) {
    case Malformation::MissingField:
        text.chop(2);
        break;
    case Malformation::GarbledTime:
        // The second digit of hours, minutes and seconds becomes a letter.
        for (const int position : {1, 4, 7})
            text[position] = char('A' + (text[position] - '0'));
        break;
    case Malformation::EmptyFields:
        text = ",,,";
        break;
    case Malformation::BadNumbers:
        text = fields(time, "9", "x");
        break;
    case Malformation::CutShort:
        text.truncate(4);
        break;
    }
    return '$' + text + "\r\n";
}

std::optional<Malformation> malformationOfFrame(qint64 number)
{
    if (number < 1 || number % 2 != 0)
        return std::nullopt;
    return Malformation((number / 2 - 1) % MalformationCount);
}
