#include "ui/framecaptions.h"

#include <QCoreApplication>

namespace {

constexpr const char *Context = "FrameCaptions";

const char *const WeekdayNames[] = {
    QT_TRANSLATE_NOOP("FrameCaptions", "Lunes"),     QT_TRANSLATE_NOOP("FrameCaptions", "Martes"),
    QT_TRANSLATE_NOOP("FrameCaptions", "Miercoles"), QT_TRANSLATE_NOOP("FrameCaptions", "Jueves"),
    QT_TRANSLATE_NOOP("FrameCaptions", "Viernes"),   QT_TRANSLATE_NOOP("FrameCaptions", "Sabado"),
    QT_TRANSLATE_NOOP("FrameCaptions", "Domingo"),
};

} // namespace

QString weekdayCaption(int weekday)
{
    if (weekday < 1 || weekday > 7)
        return {};
    return QCoreApplication::translate(Context, WeekdayNames[weekday - 1]);
}

QString seasonCaption(bool summer)
{
    return summer
               ? QCoreApplication::translate(Context, QT_TRANSLATE_NOOP("FrameCaptions", "Verano"))
               : QCoreApplication::translate(Context,
                                             QT_TRANSLATE_NOOP("FrameCaptions", "Invierno"));
}
