#include "excel/Table.h"

#include "excel/CellText.h"
#include "excel/Limits.h"

#include <algorithm>

namespace excel {

namespace {

QString positionName(qsizetype position)
{
    return QStringLiteral("F%1").arg(position);
}

// The columns of every cell from here to the end of a sheet's runs.
Result<std::optional<ColumnSpan>> scanColumns(SheetCells &cells)
{
    std::optional<ColumnSpan> span;
    RowCells run;
    for (;;) {
        Result<bool> more = cells.nextRun(run);
        if (!more)
            return more.error();
        if (!more.value())
            return span;
        for (const Cell &cell : run.cells) {
            if (!span)
                span = ColumnSpan{cell.column, cell.column};
            span->first = std::min(span->first, cell.column);
            span->last = std::max(span->last, cell.column);
        }
    }
}

// The columns of every cell of a sheet, from a reading of its own.
Result<std::optional<ColumnSpan>> scanColumnsAgain(const SheetRows &rows)
{
    auto again = rows.reopen();
    if (!again)
        return again.error();
    return scanColumns(*again.value());
}

void widen(int &first, int &last, const std::optional<ColumnSpan> &span)
{
    if (!span)
        return;
    first = std::min(first, span->first);
    last = std::max(last, span->last);
}

} // namespace

QStringList ColumnNamer::nameAll(const std::vector<QString> &headerTexts)
{
    QStringList wanted;
    wanted.reserve(qsizetype(headerTexts.size()));
    for (size_t i = 0; i < headerTexts.size(); ++i)
        wanted.append(headerTexts[i].isEmpty() ? positionName(qsizetype(i) + 1) : headerTexts[i]);
    for (const QString &name : std::as_const(wanted))
        m_taken.insert(name);
    QStringList names;
    names.reserve(wanted.size());
    for (const QString &name : std::as_const(wanted))
        names.append(unique(name));
    return names;
}

QString ColumnNamer::nameAnother(int position)
{
    const QString wanted = positionName(position);
    m_taken.insert(wanted);
    return unique(wanted);
}

QString ColumnNamer::unique(const QString &wanted)
{
    if (!m_used.contains(wanted)) {
        m_used.insert(wanted);
        return wanted;
    }
    // Numbers below the one kept for this name were given or wanted already,
    // and names never stop being given or wanted: the search goes on from it.
    int &number = m_nextNumber[wanted];
    number = std::max(number, 1);
    for (;; ++number) {
        QString candidate = wanted + QString::number(number);
        if (!m_used.contains(candidate) && !m_taken.contains(candidate)) {
            m_used.insert(candidate);
            ++number;
            return candidate;
        }
    }
}

QStringList makeColumnNames(const std::vector<QString> &headerTexts)
{
    ColumnNamer namer;
    return namer.nameAll(headerTexts);
}

Result<std::unique_ptr<SheetTable>> SheetTable::open(WorkbookFile &workbook, int sheet)
{
    std::unique_ptr<SheetTable> table(new SheetTable);
    Result<void> header = table->readHeader(workbook, sheet, false);
    if (!header)
        return header.error();
    return table;
}

Result<QStringList> SheetTable::readColumnNames(WorkbookFile &workbook, int sheet)
{
    SheetTable table;
    Result<void> header = table.readHeader(workbook, sheet, true);
    if (!header)
        return header.error();
    return table.m_names;
}

Result<void> SheetTable::readHeader(WorkbookFile &workbook, int sheet, bool wholeSheet)
{
    auto cells = workbook.openSheet(sheet);
    if (!cells)
        return cells.error();
    m_rows = std::make_unique<SheetRows>(std::move(cells.value()));
    Result<bool> row = m_rows->next(m_row);
    if (!row)
        return row.error();
    if (!row.value()) {
        m_done = true; // an empty sheet: no columns, no rows
        m_allColumnsKnown = true;
        return {};
    }
    RowCells header = std::move(m_row);
    m_row = {};
    int first = limits::maxColumns;
    int last = -1;
    for (const Cell &cell : header.cells) {
        first = std::min(first, cell.column);
        last = std::max(last, cell.column);
    }
    const std::optional<ColumnSpan> declared = m_rows->declaredColumns();
    widen(first, last, declared);
    // The cells read ahead: the whole sheet when it is small.
    widen(first, last, m_rows->columnsSeen());
    m_allColumnsKnown = m_rows->readToEnd();
    if (!m_allColumnsKnown && wholeSheet) {
        RowCells rest;
        for (;;) {
            Result<bool> more = m_rows->next(rest);
            if (!more)
                return more.error();
            if (!more.value())
                break;
            for (const Cell &cell : rest.cells) {
                first = std::min(first, cell.column);
                last = std::max(last, cell.column);
            }
        }
        m_allColumnsKnown = true;
    } else if (!m_allColumnsKnown && (!declared || first > 0)) {
        // Nothing says where the columns start, so a column met later could
        // not be put in its place: read the whole sheet for them first.
        auto span = scanColumnsAgain(*m_rows);
        if (!span)
            return span.error();
        widen(first, last, span.value());
        m_allColumnsKnown = true;
    }
    m_firstColumn = first;
    std::vector<QString> texts(size_t(last - first + 1));
    for (const Cell &cell : header.cells)
        texts[size_t(cell.column - first)] = VariantToText(cell.value);
    m_names = m_namer.nameAll(texts);
    m_values.resize(texts.size());
    return {};
}

void SheetTable::addColumnsUpTo(int column)
{
    const int position = column - m_firstColumn;
    while (m_names.size() <= position)
        m_names.append(m_namer.nameAnother(int(m_names.size()) + 1));
    m_values.resize(size_t(m_names.size()));
}

Result<bool> SheetTable::findAllColumns()
{
    if (m_allColumnsKnown)
        return false;
    m_allColumnsKnown = true;
    auto span = scanColumnsAgain(*m_rows);
    if (!span)
        return span.error();
    const qsizetype before = m_names.size();
    if (span.value())
        addColumnsUpTo(span.value()->last);
    return m_names.size() > before;
}

Result<bool> SheetTable::next()
{
    for (int position : m_filled)
        m_values[size_t(position)] = QVariant();
    m_filled.clear();
    while (!m_done) {
        Result<bool> row = m_rows->next(m_row);
        if (!row) {
            m_done = true;
            return row.error();
        }
        if (!row.value()) {
            m_done = true;
            break;
        }
        for (Cell &cell : m_row.cells) {
            const int position = cell.column - m_firstColumn;
            // The first column is column A or was found by reading the whole
            // sheet: a cell left of it comes from a file changed under us.
            if (position < 0)
                continue;
            if (size_t(position) >= m_values.size())
                addColumnsUpTo(cell.column);
            m_values[size_t(position)] = std::move(cell.value);
            m_filled.push_back(position);
        }
        if (!m_filled.empty())
            return true;
    }
    return false;
}

} // namespace excel
