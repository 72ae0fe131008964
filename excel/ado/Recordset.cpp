#include "excel/ado/Recordset.h"

#include "excel/ado/Connection.h"
#include "excel/ado/Provider.h"

namespace excel::ado {

Recordset::Recordset() = default;
Recordset::Recordset(std::unique_ptr<RowSource> source)
    : m_source(std::move(source))
{}
Recordset::~Recordset() = default;

Result<void> Recordset::Open(const QString &source, Connection &connection, int lockType)
{
    if (m_source)
        return Error{QStringLiteral("Operation is not allowed when the object is open.")};
    if (lockType != adLockReadOnly)
        return Error{QStringLiteral("Workbooks are opened read-only.")};
    const QString prefix = QStringLiteral("SELECT * FROM [");
    if (!source.startsWith(prefix) || !source.endsWith(QLatin1Char(']')))
        return Error{QStringLiteral("The query must read SELECT * FROM [table]: %1").arg(source)};
    const qsizetype open = source.indexOf(QLatin1Char('['));
    const qsizetype close = source.lastIndexOf(QLatin1Char(']'));
    const QString table = source.mid(open + 1, close - open - 1);
    Provider *provider = connection.provider();
    if (!provider)
        return Error{QStringLiteral("Operation is not allowed when the object is closed.")};
    const int sheet = provider->sheetOfTable(table);
    if (sheet < 0)
        return Error{QStringLiteral("The workbook has no table named '%1'.").arg(table)};
    auto rows = provider->openRows(sheet);
    if (!rows)
        return rows.error();
    m_source = std::move(rows.value());
    return {};
}

bool Recordset::Eof() const
{
    return !m_source || m_source->atEnd();
}

QVariant Recordset::Fields(const QString &name) const
{
    return m_source ? m_source->value(m_source->fieldIndex(name)) : QVariant();
}

bool Recordset::hasField(const QString &name) const
{
    return fieldIndex(name) >= 0;
}

QStringList Recordset::fieldNames() const
{
    return m_source ? m_source->fieldNames() : QStringList();
}

int Recordset::fieldIndex(const QString &name) const
{
    return m_source ? m_source->fieldIndex(name) : -1;
}

QVariant Recordset::value(int index) const
{
    return m_source ? m_source->value(index) : QVariant();
}

Result<void> Recordset::MoveNext()
{
    if (!m_source)
        return Error{QStringLiteral("Operation is not allowed when the object is closed.")};
    return m_source->moveNext();
}

int Recordset::RecordCount() const
{
    return m_source ? m_source->recordCount() : -1;
}

int64_t Recordset::sheetRow() const
{
    return m_source ? m_source->sheetRow() : -1;
}

void Recordset::Close()
{
    m_source.reset();
}

} // namespace excel::ado
