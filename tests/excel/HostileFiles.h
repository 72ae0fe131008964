#pragma once

#include "Builders.h"

#include <QByteArray>

#include <vector>

namespace builders {

// A file made to hurt a reader, and a part of the description it must fail with.
struct HostileFile
{
    const char *name;
    QByteArray data;
    const char *description;
};

QByteArray sheetXml(const QByteArray &body);
// A valid .xlsx whose first sheet part is replaced by the given text.
QByteArray xlsxWithSheetPart(const QByteArray &sheetPart);

// Zip bombs by declared size and by ratio, billion laughs, deep nesting,
// malformed XML, climbing part names, broken and truncated deflate data.
std::vector<HostileFile> hostileXlsxFiles();
// Encrypted workbooks, a huge shared-string count, records and sheets past
// the stream, an ancient format, looping and outside sector chains, a
// truncated container.
std::vector<HostileFile> hostileXlsFiles();
// A huge field (plain, quoted, or a quote never closed), a huge line, more
// fields in a line than a sheet has columns.
std::vector<HostileFile> hostileCsvFiles();

} // namespace builders
