#include "clock/elevatedclockchange.h"

#include <algorithm>

namespace {

const QLatin1String Prefix("--set-time-by=");

// Far more than a device's two-digit year can put between the clocks, and far less than what
// overflows the clock's arithmetic.
constexpr std::chrono::microseconds Limit = std::chrono::hours(24 * 366 * 100);

} // namespace

QString setTimeByArgument(std::chrono::microseconds offset)
{
    return Prefix + QString::number(qint64(offset.count()));
}

std::optional<std::chrono::microseconds> setTimeByRequest(const QStringList &arguments)
{
    if (arguments.size() != 2 || !arguments.at(1).startsWith(Prefix))
        return std::nullopt;
    const QString number = arguments.at(1).mid(Prefix.size());
    // Digits with an optional minus sign only: no spaces, no plus, no other base.
    bool plain = !number.isEmpty();
    for (qsizetype i = 0; plain && i < number.size(); ++i)
        plain = (number.at(i) >= QLatin1Char('0') && number.at(i) <= QLatin1Char('9'))
                || (i == 0 && number.at(i) == QLatin1Char('-'));
    bool ok = false;
    const qint64 value = number.toLongLong(&ok);
    if (!plain || !ok)
        return std::nullopt;
    const std::chrono::microseconds offset(value);
    if (offset > Limit || offset < -Limit)
        return std::nullopt;
    return offset;
}

std::optional<int> elevatedClockChange(const QStringList &arguments, const WindowsClockCalls &calls)
{
    const bool asked =
        std::any_of(arguments.cbegin() + (arguments.isEmpty() ? 0 : 1), arguments.cend(),
                    [](const QString &argument) { return argument.startsWith(Prefix); });
    if (!asked)
        return std::nullopt;
    const std::optional<std::chrono::microseconds> offset = setTimeByRequest(arguments);
    if (!offset)
        return int(ERROR_INVALID_PARAMETER);
    return int(setWindowsClockBy(calls, *offset));
}
