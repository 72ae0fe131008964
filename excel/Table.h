#pragma once

#include "excel/SheetRows.h"
#include "excel/SheetSource.h"

#include <QHash>
#include <QSet>

namespace excel {

// Gives a table's columns their names: a header cell's text, or "F" and the
// column's position (from 1) for a column without one; a name already given
// gets the lowest number appended that makes it unique and that no other
// column wants, so every column stays readable by its name. Linear in the
// number of columns, however often a text repeats.
class ColumnNamer
{
public:
    // Names the header's columns, the empty texts by their positions.
    QStringList nameAll(const std::vector<QString> &headerTexts);
    // Names one more column, at the given position, that has no header text.
    QString nameAnother(int position);

private:
    QString unique(const QString &wanted);

    QSet<QString> m_taken;            // every name a column wants
    QSet<QString> m_used;             // every name given
    QHash<QString, int> m_nextNumber; // per wanted name: the lowest number not yet tried
};

// A worksheet read as a table: the first row (in row order) holding a value
// gives the column names, every later row holding a value is a row.
//
// The columns run from the first to the last column that holds a cell; a
// sheet's declared used columns may widen them but never hide a cell. A
// column first met below the header is named like one with an empty header
// cell. Opened for its rows, a table trusts the declared columns and the
// cells read ahead, and adds a column when a row brings one; a caller that
// looks for a column not met yet can have the rest of the sheet read for it
// (findAllColumns).
class SheetTable
{
public:
    // Opens the sheet and reads its header; positioned before the first row.
    static Result<std::unique_ptr<SheetTable>> open(WorkbookFile &workbook, int sheet);
    // The names of every column of the sheet: every cell is read.
    static Result<QStringList> readColumnNames(WorkbookFile &workbook, int sheet);

    // Grows when a row brings a column not met before.
    const QStringList &columnNames() const { return m_names; }
    // The next row; false at the end.
    Result<bool> next();
    const std::vector<QVariant> &values() const { return m_values; }
    // The current row's number as the workbook shows it (from 1).
    int sheetRow() const { return m_row.row; }
    // Reads the sheet once more for columns that hold cells but were not met
    // yet, and adds them; true when any were added.
    Result<bool> findAllColumns();

private:
    SheetTable() = default;
    Result<void> readHeader(WorkbookFile &workbook, int sheet, bool wholeSheet);
    void addColumnsUpTo(int column);

    std::unique_ptr<SheetRows> m_rows;
    RowCells m_row;
    std::vector<QVariant> m_values;
    std::vector<int> m_filled; // positions of m_values set by the current row
    QStringList m_names;
    ColumnNamer m_namer;
    int m_firstColumn = 0;
    bool m_allColumnsKnown = false;
    bool m_done = false;
};

// The names columns get from their header cells (see ColumnNamer).
QStringList makeColumnNames(const std::vector<QString> &headerTexts);

} // namespace excel
