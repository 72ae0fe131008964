#include "Database.h"

#include "Text.h"

#include <sqlite3.h>

#include <climits>

namespace gm7s32 {

namespace {

constexpr std::size_t kStatementCacheLimit = 256;

// Readies a cached statement for its next use when the borrower is done.
class ResetOnExit
{
public:
    explicit ResetOnExit(sqlite3_stmt *statement)
        : m_statement(statement)
    {}
    ~ResetOnExit()
    {
        sqlite3_reset(m_statement);
        sqlite3_clear_bindings(m_statement);
    }
    ResetOnExit(const ResetOnExit &) = delete;
    ResetOnExit &operator=(const ResetOnExit &) = delete;

private:
    sqlite3_stmt *m_statement;
};

// The GMW_Execute code for a failed SQLite call.
int32_t failureCode(int status)
{
    switch (status & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return kExecDatabaseBusy;
    case SQLITE_READONLY:
        return kExecDatabaseReadOnly;
    case SQLITE_FULL:
        return kExecDatabaseFull;
    case SQLITE_IOERR:
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
    case SQLITE_CANTOPEN:
        return kExecDatabaseIoError;
    default:
        return kExecDatabaseError;
    }
}

void bindAll(sqlite3_stmt *statement, const std::vector<std::string> &values)
{
    int index = 1;
    for (const std::string &value : values) {
        if (value.size() > static_cast<std::size_t>(INT_MAX) ||
            sqlite3_bind_text(statement, index++, value.data(), static_cast<int>(value.size()),
                              SQLITE_TRANSIENT) != SQLITE_OK)
            throw CallFailure{kExecDatabaseError};
    }
}

} // namespace

std::string columnText(sqlite3_stmt *statement, int column)
{
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(statement, column));
    return text ? std::string(text,
                              static_cast<std::size_t>(sqlite3_column_bytes(statement, column)))
                : std::string();
}

Database::Database(sqlite3 *db)
    : m_db(db)
{
    sqlite3_set_authorizer(m_db, &Database::authorize, this);
}

Database::~Database()
{
    for (auto &[sql, statement] : m_statements)
        sqlite3_finalize(statement);
    sqlite3_close_v2(m_db);
}

Database::CallerSql::CallerSql(Database &database)
    : m_database(database)
{
    m_database.m_callerSql = true;
}

Database::CallerSql::~CallerSql()
{
    m_database.m_callerSql = false;
}

int Database::authorize(void *self, int action, const char *first, const char *second, const char *,
                        const char *)
{
    const auto *database = static_cast<const Database *>(self);
    if (!database->m_callerSql)
        return SQLITE_OK;
    switch (action) {
    case SQLITE_SELECT:
    case SQLITE_FUNCTION:
    case SQLITE_RECURSIVE:
        return SQLITE_OK;
    case SQLITE_READ:
        // Password hashes stay inside the store.
        if (first && second && equalsIgnoreCase(first, "USERS") &&
            equalsIgnoreCase(second, "PASSHASH"))
            return SQLITE_DENY;
        return SQLITE_OK;
    default:
        return SQLITE_DENY;
    }
}

sqlite3_stmt *Database::cached(const std::string &sql)
{
    const auto found = m_statements.find(sql);
    if (found != m_statements.end())
        return found->second;
    sqlite3_stmt *statement = nullptr;
    const int prepared = sqlite3_prepare_v2(m_db, sql.c_str(), -1, &statement, nullptr);
    if (prepared != SQLITE_OK) {
        sqlite3_finalize(statement);
        throw CallFailure{failureCode(prepared)};
    }
    m_statements.emplace(sql, statement);
    return statement;
}

void Database::trimCache()
{
    if (m_statements.size() <= kStatementCacheLimit)
        return;
    for (auto &[sql, statement] : m_statements)
        sqlite3_finalize(statement);
    m_statements.clear();
}

void Database::run(const std::string &sql, const std::vector<std::string> &values)
{
    sqlite3_stmt *statement = cached(sql);
    ResetOnExit reset(statement);
    bindAll(statement, values);
    const int stepped = sqlite3_step(statement);
    if (stepped != SQLITE_DONE)
        throw CallFailure{failureCode(stepped)};
}

bool Database::exists(const std::string &sql, const std::vector<std::string> &values)
{
    sqlite3_stmt *statement = cached(sql);
    ResetOnExit reset(statement);
    bindAll(statement, values);
    const int stepped = sqlite3_step(statement);
    if (stepped != SQLITE_ROW && stepped != SQLITE_DONE)
        throw CallFailure{failureCode(stepped)};
    return stepped == SQLITE_ROW;
}

std::optional<std::string> Database::firstValue(const std::string &sql,
                                                const std::vector<std::string> &values)
{
    sqlite3_stmt *statement = cached(sql);
    ResetOnExit reset(statement);
    bindAll(statement, values);
    const int stepped = sqlite3_step(statement);
    if (stepped == SQLITE_ROW)
        return columnText(statement, 0);
    if (stepped != SQLITE_DONE)
        throw CallFailure{failureCode(stepped)};
    return std::nullopt;
}

int Database::changes() const
{
    return sqlite3_changes(m_db);
}

bool Database::stepInsert(sqlite3_stmt *statement, const std::vector<std::string> &values)
{
    ResetOnExit reset(statement);
    bindAll(statement, values);
    const int stepped = sqlite3_step(statement);
    if (stepped == SQLITE_DONE)
        return true;
    if ((stepped & 0xff) != SQLITE_CONSTRAINT &&
        (sqlite3_errcode(m_db) & 0xff) != SQLITE_CONSTRAINT)
        throw CallFailure{failureCode(stepped)};
    return false;
}

void Database::rollback()
{
    if (!sqlite3_get_autocommit(m_db))
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
}

} // namespace gm7s32
