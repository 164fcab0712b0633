#include "frametime/clocktext.h"

#include <QStringList>

namespace {

// The value of a field of `minDigits` to `maxDigits` ASCII digits, or -1.
int digitField(const QString &field, int minDigits, int maxDigits)
{
    if (field.size() < minDigits || field.size() > maxDigits)
        return -1;
    int value = 0;
    for (const QChar c : field) {
        if (c < u'0' || c > u'9')
            return -1;
        value = value * 10 + (c.unicode() - u'0');
    }
    return value;
}

// Splits `text` at `separator` into exactly three digit fields with the given widths.
bool threeFields(const QString &text, QChar separator, const int (&widths)[3][2], int (&values)[3])
{
    const QStringList fields = text.split(separator);
    if (fields.size() != 3)
        return false;
    for (int i = 0; i < 3; ++i) {
        values[i] = digitField(fields[i], widths[i][0], widths[i][1]);
        if (values[i] < 0)
            return false;
    }
    return true;
}

} // namespace

std::optional<QDate> parseClockDate(const QString &text)
{
    static const int widths[3][2] = {{1, 2}, {1, 2}, {4, 4}}; // month, day, year
    int values[3];
    if (!threeFields(text, u'/', widths, values))
        return std::nullopt;
    const int month = values[0];
    const int day = values[1];
    const int year = values[2];
    if (!QDate::isValid(year, month, day))
        return std::nullopt;
    return QDate(year, month, day);
}

std::optional<QTime> parseClockTime(const QString &text)
{
    static const int widths[3][2] = {{1, 2}, {2, 2}, {2, 2}}; // hours, minutes, seconds
    int values[3];
    if (!threeFields(text, u':', widths, values))
        return std::nullopt;
    if (!QTime::isValid(values[0], values[1], values[2]))
        return std::nullopt;
    return QTime(values[0], values[1], values[2]);
}
