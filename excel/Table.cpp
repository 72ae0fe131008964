#include "excel/Table.h"

#include "excel/CellText.h"
#include "excel/Limits.h"

#include <QSet>

#include <algorithm>

namespace excel {

QStringList makeColumnNames(const std::vector<QString> &headerTexts)
{
    QStringList wanted;
    wanted.reserve(qsizetype(headerTexts.size()));
    for (size_t i = 0; i < headerTexts.size(); ++i)
        wanted.append(headerTexts[i].isEmpty() ? QStringLiteral("F%1").arg(i + 1) : headerTexts[i]);
    // A number is appended to repeats only; a name some other column already
    // has is never produced, so every column stays readable by its name.
    const QSet<QString> taken(wanted.cbegin(), wanted.cend());
    QSet<QString> used;
    QStringList names;
    names.reserve(wanted.size());
    for (const QString &name : std::as_const(wanted)) {
        QString unique = name;
        for (int n = 1; used.contains(unique); ++n) {
            unique = name + QString::number(n);
            if (taken.contains(unique))
                unique = name;
        }
        used.insert(unique);
        names.append(unique);
    }
    return names;
}

Result<std::unique_ptr<SheetTable>> SheetTable::open(WorkbookFile &workbook, int sheet)
{
    std::unique_ptr<SheetTable> table(new SheetTable);
    Result<void> header = table->readHeader(workbook, sheet);
    if (!header)
        return header.error();
    return table;
}

Result<void> SheetTable::readHeader(WorkbookFile &workbook, int sheet)
{
    auto cells = workbook.openSheet(sheet);
    if (!cells)
        return cells.error();
    m_cells = std::move(cells.value());
    Result<bool> row = m_cells->nextRow(m_row);
    if (!row)
        return row.error();
    if (!row.value()) {
        m_done = true; // an empty sheet: no columns, no rows
        return {};
    }
    std::vector<Cell> header = std::move(m_row);
    m_row = {};
    int first = limits::maxColumns;
    int last = -1;
    for (const Cell &cell : header) {
        first = std::min(first, cell.column);
        last = std::max(last, cell.column);
    }
    if (const auto declared = m_cells->declaredColumns()) {
        first = std::min(first, declared->first);
        last = std::max(last, declared->last);
    } else {
        // Nothing says how wide the sheet is: find out from its cells.
        auto scan = workbook.openSheet(sheet);
        if (!scan)
            return scan.error();
        std::vector<Cell> cellsOfRow;
        for (;;) {
            Result<bool> more = scan.value()->nextRow(cellsOfRow);
            if (!more)
                return more.error();
            if (!more.value())
                break;
            for (const Cell &cell : cellsOfRow) {
                first = std::min(first, cell.column);
                last = std::max(last, cell.column);
            }
        }
    }
    m_firstColumn = first;
    std::vector<QString> texts(size_t(last - first + 1));
    for (const Cell &cell : header)
        texts[size_t(cell.column - first)] = VariantToText(cell.value);
    m_names = makeColumnNames(texts);
    m_values.resize(texts.size());
    return {};
}

Result<bool> SheetTable::next()
{
    for (int position : m_filled)
        m_values[size_t(position)] = QVariant();
    m_filled.clear();
    while (!m_done) {
        Result<bool> row = m_cells->nextRow(m_row);
        if (!row) {
            m_done = true;
            return row.error();
        }
        if (!row.value()) {
            m_done = true;
            break;
        }
        for (Cell &cell : m_row) {
            const int position = cell.column - m_firstColumn;
            // Cells outside the columns the sheet declares have no field.
            if (position < 0 || size_t(position) >= m_values.size())
                continue;
            m_values[size_t(position)] = std::move(cell.value);
            m_filled.push_back(position);
        }
        if (!m_filled.empty())
            return true;
    }
    return false;
}

} // namespace excel
