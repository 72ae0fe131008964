#include "QueryCursors.h"

#include "Database.h"
#include "SqlText.h"
#include "Store.h"

#include <sqlite3.h>

#include <climits>
#include <cstdio>
#include <cstring>

namespace gm7s32 {

namespace {

// Idle statements kept for reuse: this many distinct texts, two of each.
constexpr std::size_t kIdleQueryLimit = 32;
constexpr std::size_t kIdlePerText = 2;
// The fetch header's count has four digits.
constexpr int32_t kMostRecordsPerFetch = 9999;

} // namespace

QueryCursors::QueryCursors(Database &database)
    : m_database(database)
{}

QueryCursors::~QueryCursors()
{
    for (auto &[handle, cursor] : m_cursors)
        sqlite3_finalize(cursor.statement);
    for (auto &[key, statements] : m_idle) {
        for (sqlite3_stmt *statement : statements)
            sqlite3_finalize(statement);
    }
}

sqlite3_stmt *QueryCursors::prepareCallerSql(const std::string &sql, int32_t *failure)
{
    sqlite3 *db = m_database.handle();
    Database::CallerSql callerSql(m_database);
    sqlite3_stmt *statement = nullptr;
    const char *tail = nullptr;
    const int prepared = sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, &tail);
    if (prepared != SQLITE_OK) {
        sqlite3_finalize(statement);
        *failure = (prepared & 0xff) == SQLITE_AUTH ? kQueryRefused : kQueryError;
        return nullptr;
    }
    if (!statement) {
        *failure = kQueryInvalid;
        return nullptr;
    }
    // One statement only: whatever follows may be blanks and comments.
    while (tail && *tail) {
        sqlite3_stmt *extra = nullptr;
        const char *next = nullptr;
        const int rest = sqlite3_prepare_v2(db, tail, -1, &extra, &next);
        const bool refused = rest != SQLITE_OK || extra != nullptr;
        sqlite3_finalize(extra);
        if (refused) {
            sqlite3_finalize(statement);
            *failure = kQueryRefused;
            return nullptr;
        }
        if (next == tail)
            break;
        tail = next;
    }
    if (!sqlite3_stmt_readonly(statement)) {
        sqlite3_finalize(statement);
        *failure = kQueryRefused;
        return nullptr;
    }
    return statement;
}

sqlite3_stmt *QueryCursors::parameterized(const char *sql, std::string *poolKey, int32_t *failure)
{
    auto split = parameterizeLiterals(sql);
    if (!split)
        return nullptr;
    sqlite3_stmt *statement = nullptr;
    auto idle = m_idle.find(split->text);
    if (idle != m_idle.end() && !idle->second.empty()) {
        statement = idle->second.back();
        idle->second.pop_back();
    } else {
        statement = prepareCallerSql(split->text, failure);
    }
    if (!statement)
        return nullptr;
    const auto &literals = split->literals;
    bool bound = sqlite3_bind_parameter_count(statement) == static_cast<int>(literals.size());
    for (std::size_t i = 0; bound && i < literals.size(); ++i) {
        bound =
            literals[i].size() <= static_cast<std::size_t>(INT_MAX) &&
            sqlite3_bind_text(statement, static_cast<int>(i + 1), literals[i].data(),
                              static_cast<int>(literals[i].size()), SQLITE_TRANSIENT) == SQLITE_OK;
    }
    if (!bound) {
        sqlite3_finalize(statement);
        return nullptr;
    }
    *poolKey = std::move(split->text);
    return statement;
}

int32_t QueryCursors::query(const char *sql, int32_t handle)
{
    if (!sql)
        return kQueryInvalid;
    Cursor cursor;
    int32_t failure = kQueryError;
    // Lookups differ only in their literals: share one compiled statement.
    cursor.statement = parameterized(sql, &cursor.poolKey, &failure);
    // Literals in places a parameter may not stand (an alias, say): as written.
    if (!cursor.statement) {
        cursor.statement = prepareCallerSql(sql, &failure);
        if (!cursor.statement)
            return failure;
    }
    m_cursors.emplace(handle, std::move(cursor));
    return handle;
}

int32_t QueryCursors::buildPacket(Cursor &cursor, int32_t count)
{
    if (count > kMostRecordsPerFetch)
        count = kMostRecordsPerFetch;
    Database::CallerSql callerSql(m_database);
    cursor.packetReady = false;
    std::string body;
    int32_t records = 0;
    const auto failed = [&cursor] {
        cursor.done = true;
        cursor.rowPending = false;
        sqlite3_reset(cursor.statement);
        return kFetchFailed;
    };
    while (records < count && !cursor.done) {
        if (!cursor.rowPending) {
            const int stepped = sqlite3_step(cursor.statement);
            if (stepped == SQLITE_DONE) {
                cursor.done = true;
                break;
            }
            if (stepped != SQLITE_ROW)
                return failed();
        }
        cursor.rowPending = false;
        const int columns = sqlite3_column_count(cursor.statement);
        for (int column = 0; column < columns; ++column) {
            if (column > 0)
                body += '\r';
            body += columnText(cursor.statement, column);
        }
        body += "\r\n";
        ++records;
        if (body.size() > static_cast<std::size_t>(INT32_MAX) - 64)
            return failed();
    }
    // Look one record ahead so the header can say whether more remain.
    if (!cursor.done && !cursor.rowPending) {
        const int stepped = sqlite3_step(cursor.statement);
        if (stepped == SQLITE_ROW)
            cursor.rowPending = true;
        else if (stepped == SQLITE_DONE)
            cursor.done = true;
        else
            return failed();
    }
    if (cursor.done)
        sqlite3_reset(cursor.statement); // ends the read transaction at once

    char header[32];
    std::snprintf(header, sizeof header, "%c000-%04d\r\n", cursor.done ? '3' : '0',
                  static_cast<int>(records));
    cursor.packet.assign(header);
    cursor.packet += body;
    cursor.packetReady = true;
    return static_cast<int32_t>(cursor.packet.size());
}

int32_t QueryCursors::fetch(int32_t handle, char *buffer, int32_t size, int32_t count)
{
    const auto found = m_cursors.find(handle);
    if (found == m_cursors.end())
        return kFetchBadHandle;
    if (size < 0 || count < 0)
        return kFetchBadArgument;
    Cursor &cursor = found->second;
    if (count > 0) {
        const int32_t needed = buildPacket(cursor, count);
        if (needed < 0 || size == 0)
            return needed;
    }
    if (!cursor.packetReady)
        return kFetchNotPrepared;
    if (!buffer)
        return kFetchBadArgument;
    if (static_cast<std::size_t>(size) < cursor.packet.size())
        return kFetchBufferTooSmall;
    std::memcpy(buffer, cursor.packet.data(), cursor.packet.size());
    buffer[cursor.packet.size()] = '\0';
    return static_cast<int32_t>(cursor.packet.size());
}

void QueryCursors::release(Cursor &cursor)
{
    if (!cursor.statement)
        return;
    if (!cursor.poolKey.empty() &&
        (m_idle.count(cursor.poolKey) != 0 || m_idle.size() < kIdleQueryLimit)) {
        auto &idle = m_idle[cursor.poolKey];
        if (idle.size() < kIdlePerText) {
            sqlite3_reset(cursor.statement);
            sqlite3_clear_bindings(cursor.statement);
            idle.push_back(cursor.statement);
            cursor.statement = nullptr;
            return;
        }
    }
    sqlite3_finalize(cursor.statement);
    cursor.statement = nullptr;
}

bool QueryCursors::close(int32_t handle)
{
    const auto found = m_cursors.find(handle);
    if (found == m_cursors.end())
        return false;
    release(found->second);
    m_cursors.erase(found);
    return true;
}

} // namespace gm7s32
