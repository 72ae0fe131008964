#pragma once

#include "excel/Workbook.h"

#include <QList>
#include <QStringList>
#include <QVariantList>

// A workbook's first table as the program reads it: its name, its columns and
// every row's values in column order.
struct WorkbookTable
{
    QString name;
    QStringList columns;
    QList<QVariantList> rows;
};

// Reads the first table through OpenWorkbook, GetFirstTableName,
// GetColumnNames and OpenSheetRows.
excel::Result<WorkbookTable> readFirstTable(const QString &path);
