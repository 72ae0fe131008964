#include "mapping/WindowFont.h"

#include <QFont>
#include <QStringList>

namespace mapping {

void InstallWindowFontSubstitutes()
{
    // Adding a substitute twice is harmless: the list keeps each name once.
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                               {QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Arial"),
                                QStringLiteral("Liberation Sans"), QStringLiteral("Helvetica"),
                                QStringLiteral("DejaVu Sans Condensed")});
}

} // namespace mapping
