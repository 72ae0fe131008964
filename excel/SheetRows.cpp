#include "excel/SheetRows.h"

#include "excel/Limits.h"

#include <algorithm>

namespace excel {

namespace {

// What a held cell costs, roughly: the cell and its text.
std::int64_t cellBytes(const Cell &cell)
{
    std::int64_t bytes = sizeof(Cell);
    if (cell.value.typeId() == QMetaType::QString)
        bytes += std::int64_t(static_cast<const QString *>(cell.value.constData())->size()) * 2;
    return bytes;
}

} // namespace

SheetRows::SheetRows(std::unique_ptr<SheetCells> cells)
    : m_cells(std::move(cells))
{}

std::optional<ColumnSpan> SheetRows::columnsSeen() const
{
    if (m_lastColumn < 0)
        return std::nullopt;
    return ColumnSpan{m_firstColumn, m_lastColumn};
}

std::vector<Cell> SheetRows::spareCells()
{
    if (m_spare.empty())
        return {};
    std::vector<Cell> cells = std::move(m_spare.back());
    m_spare.pop_back();
    return cells;
}

Result<bool> SheetRows::pull()
{
    Result<bool> more = m_cells->nextRun(m_run);
    if (!more)
        return more.error();
    if (!more.value()) {
        m_sourceDone = true;
        return false;
    }
    Result<void> placed = place();
    if (!placed)
        return placed.error();
    return true;
}

// Puts the run just read with the held rows: a new row at the end in the
// common case, else merged into its row or inserted in row order.
Result<void> SheetRows::place()
{
    // Once rows pass straight through, their columns are the table's business.
    if (m_counting) {
        for (const Cell &cell : m_run.cells) {
            if (m_lastColumn < 0 || cell.column < m_firstColumn)
                m_firstColumn = cell.column;
            m_lastColumn = std::max(m_lastColumn, cell.column);
            m_heldBytes += cellBytes(cell);
        }
        m_heldCells += std::int64_t(m_run.cells.size());
    }
    if (m_handedOut && m_run.row <= m_lastHandedOut)
        return describeDetail(
            Error{QStringLiteral("row %1 comes again after later rows were read; sorting the "
                                 "rows of so large a sheet would take more memory than allowed")
                      .arg(m_run.row),
                  ErrorCode::Unsafe},
            m_cells->path());
    const auto append = [this](RowCells &row) {
        row.cells.insert(row.cells.end(), std::make_move_iterator(m_run.cells.begin()),
                         std::make_move_iterator(m_run.cells.end()));
        m_run.cells.clear();
    };
    if (m_outOfOrder && m_counting) {
        m_unsorted.push_back({m_run.row, std::move(m_run.cells)});
        m_run.cells = spareCells();
        return {};
    }
    if (m_held.empty() || m_run.row > m_held.back().row) {
        m_held.push_back({m_run.row, std::move(m_run.cells)});
        m_run.cells = spareCells();
        return {};
    }
    if (m_run.row == m_held.back().row) {
        append(m_held.back());
        return {};
    }
    if (m_counting) {
        // Out of order while reading ahead: the whole sheet is held and
        // sorted once it is read (inserting each run in place could take
        // quadratic time on a sheet written to defeat it).
        m_outOfOrder = true;
        m_unsorted.assign(std::make_move_iterator(m_held.begin()),
                          std::make_move_iterator(m_held.end()));
        m_held.clear();
        m_unsorted.push_back({m_run.row, std::move(m_run.cells)});
        m_run.cells = spareCells();
        return {};
    }
    // Rows pass through one or two at a time here: a row that comes back
    // after a later one, but before anything after it was handed out, is put
    // in its place among them.
    const auto at =
        std::lower_bound(m_held.begin(), m_held.end(), m_run.row,
                         [](const RowCells &row, int number) { return row.row < number; });
    if (at != m_held.end() && at->row == m_run.row) {
        append(*at);
    } else {
        m_held.insert(at, {m_run.row, std::move(m_run.cells)});
        m_run.cells = spareCells();
    }
    return {};
}

// Reads ahead before the first row is handed out: to the end of a small
// sheet, to the end of any sheet whose rows come out of order (within the
// memory bound), or far enough to trust that rows come in order.
Result<void> SheetRows::readAhead()
{
    while (!m_sourceDone) {
        if (m_heldBytes > limits::sortedSheetBytes) {
            if (m_outOfOrder)
                return describeDetail(
                    Error{QStringLiteral("its rows are stored out of order and are too many to "
                                         "sort in memory"),
                          ErrorCode::Unsafe},
                    m_cells->path());
            break;
        }
        if (!m_outOfOrder && m_heldCells > limits::orderCheckCells)
            break;
        Result<bool> more = pull();
        if (!more)
            return more.error();
    }
    m_counting = false;
    if (m_outOfOrder) {
        // Runs of one row keep their file order, so a later cell still wins.
        std::stable_sort(m_unsorted.begin(), m_unsorted.end(),
                         [](const RowCells &a, const RowCells &b) { return a.row < b.row; });
        for (RowCells &run : m_unsorted) {
            if (!m_held.empty() && m_held.back().row == run.row) {
                std::vector<Cell> &cells = m_held.back().cells;
                cells.insert(cells.end(), std::make_move_iterator(run.cells.begin()),
                             std::make_move_iterator(run.cells.end()));
            } else {
                m_held.push_back(std::move(run));
            }
        }
        m_unsorted = {};
    }
    return {};
}

Result<bool> SheetRows::next(RowCells &row)
{
    if (!m_started) {
        m_started = true;
        Result<void> ahead = readAhead();
        if (!ahead)
            return ahead.error();
    }
    // A held row is whole once a later row has been read or the sheet ends.
    while (!m_sourceDone && m_held.size() < 2) {
        Result<bool> more = pull();
        if (!more)
            return more.error();
    }
    if (m_held.empty())
        return false;
    row.cells.clear();
    if (m_spare.size() < 4)
        m_spare.push_back(std::move(row.cells));
    row = std::move(m_held.front());
    m_held.pop_front();
    m_handedOut = true;
    m_lastHandedOut = row.row;
    return true;
}

} // namespace excel
