#pragma once

#include "excel/CellError.h"
#include "excel/CellText.h"
#include "excel/Errors.h"
#include "excel/ado/Connection.h"
#include "excel/ado/Recordset.h"

#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>

namespace excel {

// Opens the workbook with the provider its last four characters (lower-cased)
// choose: ".xls" Jet 4.0, "xlsx" ACE 12.0, ".csv" ACE 12.0's text driver. Any
// other ending opens nothing.
Result<std::unique_ptr<ado::Connection>> OpenWorkbook(const QString &path);

// The name of the first table the provider lists.
Result<QString> GetFirstTableName(ado::Connection &connection);

// The table's column names, in the order the provider's column list gives them.
Result<QStringList> GetColumnNames(ado::Connection &connection, const QString &sheetName);

// The table's rows, read-only and forward, positioned on the first row.
Result<std::unique_ptr<ado::Recordset>> OpenSheetRows(ado::Connection &connection,
                                                      const QString &sheetName);

// The operator's message for a workbook that could not be opened or read:
// "Can't find the specified file!" directly followed by the description when
// there is no such file, otherwise "Can't read the workbook." and the
// description on a paragraph of its own.
QString OpenFailureText(const Error &error);

// Opens the workbook for one read of its first table's column names and
// closes it again: what the windows list before an import.
Result<QStringList> ReadFirstTableColumns(const QString &path);

// The rows OpenSheetRows would give, counted with a reading pass of their own.
Result<int64_t> CountRows(const QString &path);

} // namespace excel
