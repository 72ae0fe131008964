#pragma once

#include <QList>
#include <QString>
#include <QVariant>

// Writes a small .xlsx workbook for a test: each sheet is a name and its rows,
// the first row usually the header. A cell is a QVariant: invalid for an empty
// cell, QString, double/int, bool, or QDateTime/QDate (with a date format).
struct XlsxSheet
{
    QString name;
    QList<QVariantList> rows;
};

// Returns false when the file could not be written.
bool writeXlsx(const QString &path, const QList<XlsxSheet> &sheets);
inline bool writeXlsx(const QString &path, const QList<QVariantList> &rows)
{
    return writeXlsx(path, {XlsxSheet{QStringLiteral("Sheet1"), rows}});
}
