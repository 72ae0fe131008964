#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <utility>
#include <vector>

// Builders of workbook files for tests: raw zip packages from XML text, raw
// compound documents from streams, and BIFF records.
namespace builders {

using Parts = std::vector<std::pair<QString, QByteArray>>;

// A zip archive of the given entries, deflated (stored when store is true).
QByteArray zipArchive(const Parts &entries, bool store = false);

// A minimal .xlsx around one or more worksheet XML texts; sheet names are
// "Sheet1", ... unless given. Shared strings and styles parts are added when
// not empty. workbookExtra goes inside <workbook> before <sheets>.
struct Xlsx
{
    std::vector<std::pair<QString, QByteArray>> sheets; // name, sheetData content
    QStringList sharedStrings;
    QByteArray styles;        // the whole styles part, or empty
    QByteArray workbookExtra; // e.g. <workbookPr date1904="1"/>
    QByteArray sheetPrefix;   // XML put before <sheetData> (dimension, ...)
    Parts extraParts;         // added as they are
    QByteArray build() const;
};

// A styles part whose cell formats (xf 0, 1, ...) use these number format ids;
// custom codes are declared as ids 164 and up in order.
QByteArray stylesPart(const std::vector<int> &xfFormatIds, const QStringList &customCodes = {});

// A compound document holding the named streams.
QByteArray compoundDocument(const Parts &streams);

// One BIFF record.
QByteArray record(quint16 type, const QByteArray &payload);
QByteArray u16(quint16 value);
QByteArray u32(quint32 value);
QByteArray f64(double value);
// A BIFF8 string: count (two bytes, or one when shortCount), flags, chars.
QByteArray biffString(const QString &text, bool shortCount = false, bool wide = true);

// A BIFF8 workbook stream: globals (with the given extra records before the
// sheet entries) and one sheet per cell-record block; sheet offsets are
// patched in.
QByteArray biffWorkbook(const QByteArray &globalsExtra, const QStringList &sheetNames,
                        const std::vector<QByteArray> &sheetCells, quint16 version = 0x0600);

} // namespace builders
