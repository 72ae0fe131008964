#include "mapping/WorkbookColumns.h"

#include "excel/Workbook.h"
#include "util/Prompts.h"

Result<QStringList> ReadFirstTableColumns(const QString &path)
{
    Result<std::unique_ptr<ado::Connection>> connection = OpenWorkbook(path);
    if (!connection)
        return connection.error();
    Result<QString> table = GetFirstTableName(**connection);
    if (!table) {
        (*connection)->Close();
        return table.error();
    }
    Result<QStringList> columns = GetColumnNames(**connection, *table);
    (*connection)->Close();
    return columns;
}

void ShowWorkbookFailure(Prompts &prompts, const QString &path, const Error &error)
{
    // The reader's description names the file already.
    const QString description = error.message.trimmed();
    prompts.messageBox(QStringLiteral("Can't read the workbook.\n\n") +
                           (description.isEmpty() ? path : description),
                       QStringLiteral("Data Error"), PromptIcon::Critical);
}
