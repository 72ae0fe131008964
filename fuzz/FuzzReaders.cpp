#include "fuzz/FuzzReaders.h"

#include "excel/CellText.h"
#include "excel/SheetSource.h"
#include "excel/Table.h"

#include <QByteArray>

namespace {

using Opener = excel::Result<std::unique_ptr<excel::WorkbookFile>> (*)(const QByteArray &,
                                                                       const QString &);

ReadOutcome readAll(Opener open, const uint8_t *data, size_t size)
{
    ReadOutcome outcome;
    const auto failed = [&outcome](const excel::Error &error) {
        outcome.failure = error.message;
        return outcome;
    };
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    auto workbook = open(bytes, QStringLiteral("fuzz"));
    if (!workbook)
        return failed(workbook.error());
    if (workbook.value()->sheetNames().isEmpty()) {
        outcome.read = true;
        return outcome;
    }
    // The column names as the windows list them, then the rows as an import
    // reads them.
    const auto names = excel::SheetTable::readColumnNames(*workbook.value(), 0);
    if (!names)
        return failed(names.error());
    auto table = excel::SheetTable::open(*workbook.value(), 0);
    if (!table)
        return failed(table.error());
    for (;;) {
        const excel::Result<bool> row = table.value()->next();
        if (!row)
            return failed(row.error());
        if (!row.value())
            break;
        ++outcome.rows;
        for (const QVariant &value : table.value()->values())
            (void)excel::VariantToText(value);
    }
    outcome.read = true;
    return outcome;
}

} // namespace

ReadOutcome readXlsx(const uint8_t *data, size_t size)
{
    return readAll(&excel::openXlsxBuffer, data, size);
}

ReadOutcome readXls(const uint8_t *data, size_t size)
{
    return readAll(&excel::openXlsBuffer, data, size);
}

ReadOutcome readCsv(const uint8_t *data, size_t size)
{
    return readAll(&excel::openCsvBuffer, data, size);
}

int fuzzXlsx(const uint8_t *data, size_t size)
{
    (void)readXlsx(data, size);
    return 0;
}

int fuzzXls(const uint8_t *data, size_t size)
{
    (void)readXls(data, size);
    return 0;
}

int fuzzCsv(const uint8_t *data, size_t size)
{
    (void)readCsv(data, size);
    return 0;
}
