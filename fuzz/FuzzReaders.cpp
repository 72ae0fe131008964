#include "fuzz/FuzzReaders.h"

#include "excel/CellText.h"
#include "excel/SheetSource.h"
#include "excel/Table.h"

#include <QByteArray>

namespace {

using Opener = excel::Result<std::unique_ptr<excel::WorkbookFile>> (*)(const QByteArray &,
                                                                       const QString &);

int readAll(Opener open, const uint8_t *data, size_t size)
{
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    auto workbook = open(bytes, QStringLiteral("fuzz"));
    if (!workbook)
        return 0;
    if (workbook.value()->sheetNames().isEmpty())
        return 0;
    // The column names as the windows list them, then the rows as an import
    // reads them.
    const auto names = excel::SheetTable::readColumnNames(*workbook.value(), 0);
    if (!names)
        return 0;
    auto table = excel::SheetTable::open(*workbook.value(), 0);
    if (!table)
        return 0;
    size_t characters = 0;
    for (;;) {
        const excel::Result<bool> row = table.value()->next();
        if (!row || !row.value())
            break;
        for (const QVariant &value : table.value()->values())
            characters += static_cast<size_t>(excel::VariantToText(value).size());
    }
    return characters > 0 ? 0 : 0;
}

} // namespace

int fuzzXlsx(const uint8_t *data, size_t size)
{
    return readAll(&excel::openXlsxBuffer, data, size);
}

int fuzzXls(const uint8_t *data, size_t size)
{
    return readAll(&excel::openXlsBuffer, data, size);
}

int fuzzCsv(const uint8_t *data, size_t size)
{
    return readAll(&excel::openCsvBuffer, data, size);
}
