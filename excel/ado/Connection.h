#pragma once

#include "excel/Errors.h"

#include <QString>
#include <QStringList>

#include <memory>

namespace excel::ado {

class Provider;
class Recordset;

// Schema lists OpenSchema can give.
enum SchemaEnum { adSchemaColumns = 4, adSchemaTables = 20 };
enum CursorLocationEnum { adUseServer = 2, adUseClient = 3 };
enum LockTypeEnum { adLockReadOnly = 1 };

// A connection to a workbook through a registered provider, in ADO's shape:
// set Provider, ConnectionString and CursorLocation, then Open.
class Connection
{
public:
    Connection();
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    QString Provider;
    QString ConnectionString;
    int CursorLocation = adUseServer;

    // Opens the workbook the connection string names; the error's message is
    // the provider's description of what went wrong.
    Result<void> Open();
    // Tables (one row per table, field "TABLE_NAME") or columns (restrictions:
    // catalogue, schema, table name, column name; field "COLUMN_NAME").
    Result<std::unique_ptr<Recordset>> OpenSchema(SchemaEnum schema,
                                                  const QStringList &restrictions = {});
    void Close();
    bool isOpen() const;

    // The provider that opened the workbook; null while closed.
    ado::Provider *provider() const { return m_provider.get(); }

private:
    std::unique_ptr<ado::Provider> m_provider;
};

} // namespace excel::ado
