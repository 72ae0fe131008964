#pragma once

#include "excel/Errors.h"

#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>
#include <optional>
#include <vector>

namespace excel {

// One non-empty cell of a row: its 0-based column and its value.
struct Cell
{
    int column = 0;
    QVariant value;
};

// Columns a sheet declares it uses (0-based, inclusive).
struct ColumnSpan
{
    int first = 0;
    int last = -1;
};

// Cells of one row of a sheet: its number as the sheet shows it (from 1) and
// its non-empty cells.
struct RowCells
{
    int row = 0;
    std::vector<Cell> cells;
};

// A sheet's cells as the file stores them: runs of cells that share a row
// number, in file order. A row usually comes as one run and rows come in
// order, but a file may split a row into several runs or store rows out of
// order; SheetRows puts them together.
class SheetCells
{
public:
    virtual ~SheetCells() = default;
    // Fills run with the next run of cells (at least one); false at the end
    // of the sheet.
    virtual Result<bool> nextRun(RowCells &run) = 0;
    // The sheet's own note of its used columns, once the first run (or the
    // end) has been read; empty when the file gives none worth trusting. A
    // hint only: cells outside it are cells all the same.
    virtual std::optional<ColumnSpan> declaredColumns() const = 0;
    // The same sheet again from its start, read independently of this one.
    virtual Result<std::unique_ptr<SheetCells>> reopen() const = 0;
    // The path (or label) that messages about the sheet name.
    virtual const QString &path() const = 0;
};

// A workbook file opened for reading: its worksheets in tab order.
class WorkbookFile
{
public:
    virtual ~WorkbookFile() = default;
    virtual const QStringList &sheetNames() const = 0;
    virtual Result<std::unique_ptr<SheetCells>> openSheet(int index) = 0;
};

// Inside a reader a problem is first a detail ("the part x is not well-formed
// XML") whose code says what kind of problem it is (Failed counts as Damaged);
// the reader then words it for the operator with the file's path.
Error describeDetail(const Error &detailError, const QString &path);

// Refuses an empty path, a path with nothing there and a folder, with the
// descriptions the readers give.
Result<void> checkWorkbookPath(const QString &path);

// Descriptions of what went wrong with a file, worded for the operator.
namespace fault {
QString missing(const QString &path);
QString unreadable(const QString &path, const QString &reason);
QString notWorkbook(const QString &path);
QString encrypted(const QString &path);
QString oldFormat(const QString &path);
QString damaged(const QString &path, const QString &detail);
QString unsafe(const QString &path, const QString &detail);
} // namespace fault

// Opens a workbook by its content (a compound document is read as an Excel
// 97-2003 workbook, a zip package as an Excel 2007 one), whatever its name.
Result<std::unique_ptr<WorkbookFile>> openWorkbookFile(const QString &path);

// The readers, by path or from memory (the label names the data in messages).
Result<std::unique_ptr<WorkbookFile>> openXlsxFile(const QString &path);
Result<std::unique_ptr<WorkbookFile>>
openXlsxBuffer(const QByteArray &data, const QString &label = QStringLiteral("(memory)"));
Result<std::unique_ptr<WorkbookFile>> openXlsFile(const QString &path);
Result<std::unique_ptr<WorkbookFile>>
openXlsBuffer(const QByteArray &data, const QString &label = QStringLiteral("(memory)"));
// A CSV file: one sheet, named by the file's name (or the label).
Result<std::unique_ptr<WorkbookFile>> openCsvFile(const QString &path);
Result<std::unique_ptr<WorkbookFile>>
openCsvBuffer(const QByteArray &data, const QString &label = QStringLiteral("(memory)"));

} // namespace excel
