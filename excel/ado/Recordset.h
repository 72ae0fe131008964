#pragma once

#include "excel/Errors.h"

#include <QString>
#include <QStringList>
#include <QVariant>

#include <cstdint>
#include <memory>

namespace excel::ado {

class Connection;
class RowSource;

// A forward-only, read-only row set in ADO's shape. Rows are produced one at a
// time, so memory does not grow with the number of rows.
class Recordset
{
public:
    Recordset();
    explicit Recordset(std::unique_ptr<RowSource> source);
    ~Recordset();
    Recordset(const Recordset &) = delete;
    Recordset &operator=(const Recordset &) = delete;

    // Accepts exactly "SELECT * FROM [" name "]"; the name is everything
    // between the first "[" and the last "]".
    Result<void> Open(const QString &source, Connection &connection, int lockType);

    // ADO's EOF; named so because <cstdio> makes EOF a macro.
    bool Eof() const;
    // The current row's value of the named field: null for an empty cell, and
    // invalid (also null) for a name the row set does not have.
    QVariant Fields(const QString &name) const;
    bool hasField(const QString &name) const;
    QStringList fieldNames() const;
    // Faster access by position, for callers that look the index up once.
    int fieldIndex(const QString &name) const; // -1 when absent
    QVariant value(int index) const;

    // One row forward; fails with a description when the file turns out to
    // be malformed part-way.
    Result<void> MoveNext();
    // Rows of a schema list (exact: such lists are held in memory); -1 for a
    // sheet's rows, whose number is not known before they are read.
    int RecordCount() const;
    // The current row's number as the workbook shows it (its first row is 1);
    // -1 where the source does not know it.
    int64_t sheetRow() const;
    void Close();

private:
    std::unique_ptr<RowSource> m_source;
};

} // namespace excel::ado
