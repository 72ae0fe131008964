// The store's SQLite connection with what every call needs around it: cached
// statements, one transaction per business call, inserts that retry on a
// colliding id, and the authorizer that keeps the caller's SQL read-only.
#pragma once

#include "Store.h"

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace gm7s32 {

// Thrown inside a business call; the transaction is rolled back and the code
// answered. Never leaves the library.
struct CallFailure
{
    int32_t code;
};

// The text of a result column ("" for NULL).
std::string columnText(sqlite3_stmt *statement, int column);

class Database
{
public:
    // Takes over db (closed with the object) and installs the authorizer.
    explicit Database(sqlite3 *db);
    ~Database();
    Database(const Database &) = delete;
    Database &operator=(const Database &) = delete;

    sqlite3 *handle() const { return m_db; }

    // While one of these lives, statements compiled or run may only read, and
    // never the password hashes: the caller's SQL runs inside it.
    class CallerSql
    {
    public:
        explicit CallerSql(Database &database);
        ~CallerSql();
        CallerSql(const CallerSql &) = delete;
        CallerSql &operator=(const CallerSql &) = delete;

    private:
        Database &m_database;
    };

    // The library's own statements, compiled once and kept; the cache is
    // emptied when it has grown past its limit.
    sqlite3_stmt *cached(const std::string &sql);
    void trimCache();

    // Runs sql with values bound in order (?1, ?2, ...); a failure throws.
    void run(const std::string &sql, const std::vector<std::string> &values = {});
    // True when sql yields a row.
    bool exists(const std::string &sql, const std::vector<std::string> &values);
    // The first column of the first row, nothing when there is no row.
    std::optional<std::string> firstValue(const std::string &sql,
                                          const std::vector<std::string> &values);
    // Rows the last write changed.
    int changes() const;

    // Inserts with the values bound in order; when a unique key collides (an
    // id another process made at the same moment) renew gives fresh ids.
    template <typename Renew>
    void insertRetrying(const std::string &sql, std::vector<std::string> &values, Renew renew);

    // Runs work in one immediate transaction: zero when it committed, else the
    // code of the CallFailure that rolled it back.
    template <typename Work> int32_t inTransaction(Work work);

private:
    static constexpr int kInsertAttempts = 8;

    // True when the insert was done, false when a unique key collided; any
    // other failure throws.
    bool stepInsert(sqlite3_stmt *statement, const std::vector<std::string> &values);
    void rollback();
    static int authorize(void *self, int action, const char *first, const char *second,
                         const char *database, const char *trigger);

    sqlite3 *m_db = nullptr;
    std::unordered_map<std::string, sqlite3_stmt *> m_statements;
    bool m_callerSql = false;
};

template <typename Renew>
void Database::insertRetrying(const std::string &sql, std::vector<std::string> &values, Renew renew)
{
    sqlite3_stmt *statement = cached(sql);
    for (int attempt = 0; attempt < kInsertAttempts; ++attempt) {
        if (stepInsert(statement, values))
            return;
        renew(values);
    }
    throw CallFailure{kExecDatabaseError};
}

template <typename Work> int32_t Database::inTransaction(Work work)
{
    try {
        run("BEGIN IMMEDIATE");
    } catch (const CallFailure &failure) {
        return failure.code;
    }
    try {
        work();
        run("COMMIT");
        return 0;
    } catch (const CallFailure &failure) {
        rollback();
        return failure.code;
    } catch (...) {
        rollback();
        throw;
    }
}

} // namespace gm7s32
