#include "excel/Workbook.h"

#include "excel/SheetSource.h"

#include <QFileInfo>

namespace excel {

Result<std::unique_ptr<ado::Connection>> OpenWorkbook(const QString &path)
{
    auto connection = std::make_unique<ado::Connection>();
    const QString ending = path.right(4).toLower();
    if (ending == QLatin1String(".csv")) {
        connection->Provider = QStringLiteral("Microsoft.ACE.OLEDB.12.0");
        connection->ConnectionString =
            QStringLiteral("Data Source=") + path +
            QStringLiteral(";Extended Properties=\"Text;HDR=Yes;FMT=Delimited\";");
    } else if (ending == QLatin1String(".xls")) {
        connection->Provider = QStringLiteral("Microsoft.Jet.OLEDB.4.0");
        connection->ConnectionString = QStringLiteral("Data Source=") + path +
                                       QStringLiteral(";Extended Properties=Excel 8.0;");
    } else if (ending == QLatin1String("xlsx")) {
        connection->Provider = QStringLiteral("Microsoft.ACE.OLEDB.12.0");
        connection->ConnectionString = QStringLiteral("Data Source=") + path +
                                       QStringLiteral(";Extended Properties=Excel 12.0;");
    } else if (!QFileInfo::exists(path)) {
        return Error{fault::missing(path), ErrorCode::Missing};
    } else {
        return Error{QStringLiteral("The file name must end in .xls, .xlsx or .csv: %1").arg(path),
                     ErrorCode::WrongEnding};
    }
    connection->CursorLocation = ado::adUseClient;
    Result<void> opened = connection->Open();
    if (!opened)
        return opened.error();
    return connection;
}

Result<QString> GetFirstTableName(ado::Connection &connection)
{
    auto tables = connection.OpenSchema(ado::adSchemaTables);
    if (!tables)
        return tables.error();
    if (tables.value()->Eof())
        return Error{QStringLiteral("The workbook has no worksheet."), ErrorCode::NoTable};
    const QString name = tables.value()->Fields(QStringLiteral("TABLE_NAME")).toString();
    tables.value()->Close();
    return name;
}

Result<QStringList> GetColumnNames(ado::Connection &connection, const QString &sheetName)
{
    const QStringList restrictions{QString(), QString(), sheetName, QString()};
    auto columns = connection.OpenSchema(ado::adSchemaColumns, restrictions);
    if (!columns)
        return columns.error();
    ado::Recordset &list = *columns.value();
    QStringList names;
    const int count = list.RecordCount();
    for (int i = 0; i < count; ++i) {
        names.append(list.Fields(QStringLiteral("COLUMN_NAME")).toString());
        Result<void> moved = list.MoveNext();
        if (!moved)
            return moved.error();
    }
    list.Close();
    return names;
}

Result<std::unique_ptr<ado::Recordset>> OpenSheetRows(ado::Connection &connection,
                                                      const QString &sheetName)
{
    auto rows = std::make_unique<ado::Recordset>();
    Result<void> opened =
        rows->Open(QStringLiteral("SELECT * FROM [") + sheetName + QStringLiteral("]"), connection,
                   ado::adLockReadOnly);
    if (!opened)
        return opened.error();
    return rows;
}

Result<int64_t> CountRows(const QString &path)
{
    Result<std::unique_ptr<ado::Connection>> connection = OpenWorkbook(path);
    if (!connection)
        return connection.error();
    Result<QString> table = GetFirstTableName(**connection);
    if (!table)
        return table.error();
    Result<std::unique_ptr<ado::Recordset>> rows = OpenSheetRows(**connection, *table);
    if (!rows)
        return rows.error();
    int64_t count = 0;
    for (; !(*rows)->Eof(); ++count) {
        const Result<void> moved = (*rows)->MoveNext();
        if (!moved)
            return moved.error();
    }
    return count;
}

QString OpenFailureText(const Error &error)
{
    if (error.code == ErrorCode::Missing)
        return QStringLiteral("Can't find the specified file!") + error.message;
    return QStringLiteral("Can't read the workbook.\n\n") + error.message;
}

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

} // namespace excel
