#include "refclock/durationoption.h"

#include <QRegularExpression>

#include <cmath>

std::optional<std::chrono::microseconds> parseDurationOption(const QString &text)
{
    static const QRegularExpression form(
        QStringLiteral(R"(^([+-]?(?:\d+(?:\.\d*)?|\.\d+))(ms|s|m|h)?$)"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const QString unit = match.captured(2);
    const double scale = unit == u"ms" ? 1e3 : unit == u"m" ? 60e6 : unit == u"h" ? 3600e6 : 1e6;
    bool ok = false;
    const double micro = match.captured(1).toDouble(&ok) * scale;
    if (!ok || !std::isfinite(micro) || std::fabs(micro) > 86400e6)
        return std::nullopt;
    return std::chrono::microseconds(std::llround(micro));
}

QString delayOptionValue(std::chrono::microseconds duration)
{
    return QString::number(std::chrono::duration<double>(duration).count(), 'f', 4);
}
