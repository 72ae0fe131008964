#include "excel/ado/Connection.h"

#include "excel/ado/Provider.h"
#include "excel/ado/Recordset.h"

namespace excel::ado {

Connection::Connection() = default;
Connection::~Connection() = default;

Result<void> Connection::Open()
{
    if (m_provider)
        return Error{QStringLiteral("Operation is not allowed when the object is open.")};
    auto provider = Provider::open(Provider, ConnectionString);
    if (!provider)
        return provider.error();
    m_provider = std::move(provider.value());
    return {};
}

Result<std::unique_ptr<Recordset>> Connection::OpenSchema(SchemaEnum schema,
                                                          const QStringList &restrictions)
{
    if (!m_provider)
        return Error{QStringLiteral("Operation is not allowed when the object is closed.")};
    const QString tableRestriction = restrictions.value(2);
    const QString columnRestriction = restrictions.value(3);
    const QStringList tables = m_provider->tableNames();
    std::vector<std::vector<QVariant>> rows;
    switch (schema) {
    case adSchemaTables:
        for (const QString &table : tables) {
            if (tableRestriction.isEmpty() || table == tableRestriction)
                rows.push_back({QVariant(), QVariant(), table, QStringLiteral("TABLE")});
        }
        return std::make_unique<Recordset>(std::make_unique<ListRowSource>(
            QStringList{QStringLiteral("TABLE_CATALOG"), QStringLiteral("TABLE_SCHEMA"),
                        QStringLiteral("TABLE_NAME"), QStringLiteral("TABLE_TYPE")},
            std::move(rows)));
    case adSchemaColumns:
        for (int sheet = 0; sheet < tables.size(); ++sheet) {
            if (!tableRestriction.isEmpty() && m_provider->sheetOfTable(tableRestriction) != sheet)
                continue;
            Result<QStringList> columns = m_provider->columnNames(sheet);
            if (!columns)
                return columns.error();
            for (int i = 0; i < columns->size(); ++i) {
                const QString &column = columns->at(i);
                if (columnRestriction.isEmpty() || column == columnRestriction)
                    rows.push_back({QVariant(), QVariant(), tables.at(sheet), column, i + 1});
            }
        }
        return std::make_unique<Recordset>(std::make_unique<ListRowSource>(
            QStringList{QStringLiteral("TABLE_CATALOG"), QStringLiteral("TABLE_SCHEMA"),
                        QStringLiteral("TABLE_NAME"), QStringLiteral("COLUMN_NAME"),
                        QStringLiteral("ORDINAL_POSITION")},
            std::move(rows)));
    }
    return Error{QStringLiteral("The provider does not give the schema list %1.").arg(int(schema))};
}

void Connection::Close()
{
    m_provider.reset();
}

bool Connection::isOpen() const
{
    return m_provider != nullptr;
}

} // namespace excel::ado
