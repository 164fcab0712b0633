#include "ui/offsettext.h"

#include <QCoreApplication>
#include <QStringList>

#include <array>
#include <cstdlib>

namespace {

using namespace std::chrono;

QString tr(const char *text)
{
    return QCoreApplication::translate("OffsetText", text);
}

// `amount` (rounded to the millisecond, above zero) in days, hours, minutes and seconds.
QString amountText(milliseconds amount)
{
    const auto dayCount = duration_cast<hours>(amount).count() / 24;
    const std::array<qint64, 3> larger{dayCount, duration_cast<hours>(amount).count() % 24,
                                       duration_cast<minutes>(amount).count() % 60};
    const std::array<const char *, 3> unitNames{"d", "h", "min"};
    const qint64 milliseconds = amount.count() % 60000;

    // A larger unit is written from the first that is not zero; a zero one after it only
    // when a unit that is not zero follows.
    qsizetype first = 0;
    while (first < qsizetype(larger.size()) && larger.at(first) == 0)
        ++first;
    qsizetype last = qsizetype(larger.size()) - 1;
    if (milliseconds == 0) {
        while (last >= first && larger.at(last) == 0)
            --last;
    }
    QStringList parts;
    for (qsizetype unit = first; unit <= last; ++unit)
        parts.append(
            QStringLiteral("%1 %2").arg(larger.at(unit)).arg(QLatin1String(unitNames.at(unit))));
    parts.append(QStringLiteral("%1,%2 s")
                     .arg(milliseconds / 1000)
                     .arg(milliseconds % 1000, 3, 10, QLatin1Char('0')));
    return parts.join(u' ');
}

} // namespace

QString offsetText(std::optional<microseconds> offset, bool weekdayMatchesDate,
                   ClockAgreement::State clock)
{
    QString text;
    if (!offset) {
        text = tr("Hora del equipo no válida");
    } else {
        // Half a millisecond and more rounds up, away from zero.
        const qint64 rounded = (std::llabs(offset->count()) + 500) / 1000;
        if (rounded == 0)
            text = tr("El PC va en hora");
        else if (offset->count() > 0)
            text = tr("El PC va %1 atrasado").arg(amountText(milliseconds(rounded)));
        else
            text = tr("El PC va %1 adelantado").arg(amountText(milliseconds(rounded)));
    }
    if (!weekdayMatchesDate)
        text += tr(" (el día de la semana no coincide con la fecha)");
    if (clock == ClockAgreement::State::Jumped)
        text += tr(" (el reloj del dispositivo saltó)");
    else if (clock == ClockAgreement::State::Stopped)
        text += tr(" (el reloj del dispositivo está parado)");
    return text;
}
