#pragma once

#include "excel/CellError.h"
#include "excel/ado/Connection.h"
#include "excel/ado/Recordset.h"
#include "util/Result.h"

#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>

// Error codes of the workbook operations, for callers that branch on them.
enum WorkbookError {
    NotAWorkbook = 1, // the path's ending matches neither provider
    OpenFailed = 2,   // the provider could not open or read the file
    NoTable = 3,      // the workbook lists no table
};

// Opens the workbook with the provider its last four characters (lower-cased)
// choose: ".xls" Jet 4.0, "xlsx" ACE 12.0. Any other ending opens nothing.
Result<std::unique_ptr<ado::Connection>> OpenWorkbook(const QString &path);

// The name of the first table the provider lists.
Result<QString> GetFirstTableName(ado::Connection &connection);

// The table's column names, in the order the provider's column list gives them.
Result<QStringList> GetColumnNames(ado::Connection &connection, const QString &sheetName);

// The table's rows, read-only and forward, positioned on the first row.
Result<std::unique_ptr<ado::Recordset>> OpenSheetRows(ado::Connection &connection,
                                                      const QString &sheetName);

// A cell's value as text: text unchanged, null as empty text, numbers in plain
// decimal notation, dates in the short date form, booleans as True/False,
// errors as their text.
QString VariantToText(const QVariant &value);
