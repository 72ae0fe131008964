#include "fuzz/FuzzReaders.h"

#include "excel/CellText.h"
#include "excel/SheetSource.h"

#include <QByteArray>

#include <vector>

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
    auto sheet = workbook.value()->openSheet(0);
    if (!sheet)
        return 0;
    std::vector<excel::Cell> cells;
    size_t characters = 0;
    for (;;) {
        const excel::Result<bool> row = sheet.value()->nextRow(cells);
        if (!row || !row.value())
            break;
        for (const excel::Cell &cell : cells)
            characters += static_cast<size_t>(excel::VariantToText(cell.value).size());
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
