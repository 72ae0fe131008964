#pragma once

#include "excel/Errors.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <cstdint>
#include <memory>
#include <vector>

namespace excel {
class WorkbookFile;
}

namespace excel::ado {

// The rows behind a Recordset: a schema list held in memory or a sheet read
// as it goes. Field names are fixed when the source is made; looking one up
// is a hash hit.
class RowSource
{
public:
    virtual ~RowSource() = default;

    const QStringList &fieldNames() const { return m_names; }
    // -1 when the source has no field of that name, even after looking for
    // fields it had not met yet.
    int fieldIndex(const QString &name)
    {
        const int index = lookUp(name);
        return index >= 0 ? index : lookUpMore(name);
    }

    virtual bool atEnd() const = 0;
    virtual QVariant value(int index) const = 0;
    virtual Result<void> moveNext() = 0;
    virtual int recordCount() const = 0; // -1 when not known
    // The current row's number as the workbook shows it; -1 when not known.
    virtual int64_t sheetRow() const { return -1; }

protected:
    void setFieldNames(const QStringList &names);
    // Adds the names from the given position on of a grown list.
    void addFieldNames(const QStringList &names, qsizetype from);
    // Looks for fields the source has not met yet; true when any were added.
    virtual bool findMoreFields() { return false; }

private:
    int lookUp(const QString &name) const;
    int lookUpMore(const QString &name);

    QStringList m_names;
    QHash<QString, int> m_exact;
    QHash<QString, int> m_folded; // field names match regardless of case, as in ADO
};

// A schema list: a few rows held in memory.
class ListRowSource : public RowSource
{
public:
    ListRowSource(const QStringList &names, std::vector<std::vector<QVariant>> rows);
    bool atEnd() const override { return m_position >= m_rows.size(); }
    QVariant value(int index) const override;
    Result<void> moveNext() override;
    int recordCount() const override { return int(m_rows.size()); }

private:
    std::vector<std::vector<QVariant>> m_rows;
    size_t m_position = 0;
};

// What a connection string says.
struct ConnectionProperties
{
    QString dataSource;
    QString extendedProperties;
};

// "Data Source=" up to the last ";Extended Properties=", so a path holding
// ";" still reads whole; keys match regardless of case.
Result<ConnectionProperties> parseConnectionString(const QString &connectionString);

// An open workbook behind a connection, in the shape of an OLE DB provider:
// its tables, their columns and their rows.
class Provider
{
public:
    // text: the workbook is a text file, read as ACE's text driver reads one.
    Provider(QString name, std::unique_ptr<excel::WorkbookFile> workbook, bool text = false);
    ~Provider();

    const QString &name() const { return m_name; }
    // Table names, one per worksheet in tab order: the sheet's name and "$";
    // a text file's name with "#" for "." ("contacts#csv").
    QStringList tableNames() const;
    // The sheet a table name stands for, or -1. Accepts a table name, the
    // quoted "'Name$'" and the bare sheet (or file) name.
    int sheetOfTable(const QString &tableName) const;
    Result<QStringList> columnNames(int sheet);
    Result<std::unique_ptr<RowSource>> openRows(int sheet);

    // Opens the workbook a connection string names with the provider
    // registered under providerName.
    static Result<std::unique_ptr<Provider>> open(const QString &providerName,
                                                  const QString &connectionString);

private:
    QString m_name;
    std::unique_ptr<excel::WorkbookFile> m_workbook;
    bool m_text = false;
};

} // namespace excel::ado
