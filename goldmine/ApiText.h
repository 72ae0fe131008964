#pragma once

#include <QByteArray>
#include <QString>

namespace goldmine {

// The program's text as the GoldMine API takes it: the system's 8-bit code
// page (the ANSI code page on Windows, never best-fit; UTF-8 on Linux).
struct ApiText
{
    QByteArray bytes;
    // True when characters the code page cannot hold were replaced ("?" on
    // Windows): the value is still written, but not as it was in the workbook.
    bool lossy = false;
};

ApiText toApiText(const QString &text);

} // namespace goldmine
