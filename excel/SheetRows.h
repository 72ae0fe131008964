#pragma once

#include "excel/SheetSource.h"

#include <deque>

namespace excel {

// A sheet's rows, each whole and in row order, from a reader's runs of cells.
//
// Rows normally come in order and pass straight through, so memory does not
// grow with the sheet. Before the first row is handed out, a bounded number
// of cells is read ahead: a sheet small enough to fit is read whole, and a
// sheet whose rows come back to an earlier row within it (written column by
// column, or out of order) is read whole and sorted, within a memory bound.
// A row that comes back after it has been handed out is an error: it can no
// longer be put where it belongs.
class SheetRows
{
public:
    explicit SheetRows(std::unique_ptr<SheetCells> cells);

    // The next row that holds a cell; false at the end. Errors are worded
    // for the operator with the path.
    Result<bool> next(RowCells &row);
    // Every run of the sheet has been read (the sheet was held whole, or its
    // last row handed out).
    bool readToEnd() const { return m_sourceDone; }
    // The columns of the cells read before the first row was handed out;
    // empty before the first row.
    std::optional<ColumnSpan> columnsSeen() const;
    std::optional<ColumnSpan> declaredColumns() const { return m_cells->declaredColumns(); }
    Result<std::unique_ptr<SheetCells>> reopen() const { return m_cells->reopen(); }

private:
    Result<void> readAhead();
    Result<bool> pull();
    Result<void> place();
    std::vector<Cell> spareCells();

    std::unique_ptr<SheetCells> m_cells;
    RowCells m_run;
    std::deque<RowCells> m_held;            // rows not handed out yet, in row order
    std::vector<RowCells> m_unsorted;       // runs of a sheet found out of order, to sort
    std::vector<std::vector<Cell>> m_spare; // emptied cell lists, reused
    std::int64_t m_heldCells = 0;
    std::int64_t m_heldBytes = 0;
    int m_firstColumn = -1;
    int m_lastColumn = -1;
    int m_lastHandedOut = 0;
    bool m_started = false;
    bool m_handedOut = false;
    bool m_outOfOrder = false;
    bool m_counting = true; // while reading ahead: cells counted, columns noted
    bool m_sourceDone = false;
};

} // namespace excel
