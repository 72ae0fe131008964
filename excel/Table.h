#pragma once

#include "excel/SheetSource.h"

#include <QHash>

namespace excel {

// A worksheet read as a table: the first row holding a value gives the column
// names, every later row holding a value is a row. Columns span the header's
// cells and the sheet's declared used columns; when a sheet declares none, a
// first pass over it finds them.
class SheetTable
{
public:
    // Opens the sheet and reads its header; positioned before the first row.
    static Result<std::unique_ptr<SheetTable>> open(WorkbookFile &workbook, int sheet);

    const QStringList &columnNames() const { return m_names; }
    // The next row; false at the end.
    Result<bool> next();
    const std::vector<QVariant> &values() const { return m_values; }

private:
    SheetTable() = default;
    Result<void> readHeader(WorkbookFile &workbook, int sheet);

    std::unique_ptr<SheetCells> m_cells;
    std::vector<Cell> m_row;
    std::vector<QVariant> m_values;
    std::vector<int> m_filled; // positions of m_values set by the current row
    QStringList m_names;
    int m_firstColumn = 0;
    bool m_done = false;
};

// The names columns get from their header cells: an empty one is "F" and its
// column number, a repeated one gets the lowest number that makes it unique.
QStringList makeColumnNames(const std::vector<QString> &headerTexts);

} // namespace excel
