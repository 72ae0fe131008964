#include "ReadTable.h"

using namespace excel;

Result<WorkbookTable> readFirstTable(const QString &path)
{
    auto connection = OpenWorkbook(path);
    if (!connection)
        return connection.error();
    WorkbookTable table;
    auto name = GetFirstTableName(*connection.value());
    if (!name)
        return name.error();
    table.name = name.value();
    auto columns = GetColumnNames(*connection.value(), table.name);
    if (!columns)
        return columns.error();
    table.columns = columns.value();
    auto rows = OpenSheetRows(*connection.value(), table.name);
    if (!rows)
        return rows.error();
    while (!rows.value()->Eof()) {
        QVariantList row;
        for (const QString &column : std::as_const(table.columns))
            row.append(rows.value()->Fields(column));
        table.rows.append(row);
        Result<void> moved = rows.value()->MoveNext();
        if (!moved)
            return moved.error();
    }
    rows.value()->Close();
    connection.value()->Close();
    return table;
}
