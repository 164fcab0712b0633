#include "ui/fontfallbacks.h"

#include <QFont>
#include <QStringList>

void addFontFallbacks()
{
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                               {QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Arial"),
                                QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                                QStringLiteral("Helvetica"),
                                QStringLiteral("DejaVu Sans Condensed")});
}
