#include "core/duration.h"

#include <QRegularExpression>

#include <cmath>

namespace {

constexpr double Limit = 36525.0 * 24 * 3600 * 1e9; // 100 years in nanoseconds

double unitInNanoseconds(const QString &unit)
{
    if (unit == u"ms")
        return 1e6;
    if (unit == u"m")
        return 60e9;
    if (unit == u"h")
        return 3600e9;
    if (unit == u"d")
        return 86400e9;
    return 1e9; // "s" or no unit
}

} // namespace

std::optional<std::chrono::nanoseconds> parseDuration(const QString &text)
{
    static const QRegularExpression form(
        QStringLiteral(R"(^([+-]?(?:\d+(?:\.\d*)?|\.\d+))(ms|s|m|h|d)?$)"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    bool ok = false;
    const double number = match.captured(1).toDouble(&ok);
    const double nanoseconds = number * unitInNanoseconds(match.captured(2));
    if (!ok || !std::isfinite(nanoseconds) || std::fabs(nanoseconds) > Limit)
        return std::nullopt;
    return std::chrono::nanoseconds(std::llround(nanoseconds));
}
