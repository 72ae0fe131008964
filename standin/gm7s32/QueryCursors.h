// The caller's read-only queries (GMW_DS_Query, GMW_DS_Fetch, GMW_DS_Close):
// open cursors by handle and the fetch text they hand out.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

struct sqlite3_stmt;

namespace gm7s32 {

class Database;

class QueryCursors
{
public:
    explicit QueryCursors(Database &database);
    ~QueryCursors();
    QueryCursors(const QueryCursors &) = delete;
    QueryCursors &operator=(const QueryCursors &) = delete;

    // Opens a cursor under the handle the caller allocated; answers the
    // handle, or a negative code.
    int32_t query(const char *sql, int32_t handle);
    int32_t fetch(int32_t handle, char *buffer, int32_t size, int32_t count);
    bool close(int32_t handle);

private:
    struct Cursor
    {
        sqlite3_stmt *statement = nullptr;
        std::string poolKey; // "" when the statement is not shared
        bool rowPending = false;
        bool done = false;
        bool packetReady = false;
        std::string packet;
    };

    sqlite3_stmt *prepareCallerSql(const std::string &sql, int32_t *failure);
    // The statement for sql with its literals bound, from the idle pool when
    // one is there; nullptr when sql cannot be parameterized that way.
    sqlite3_stmt *parameterized(const char *sql, std::string *poolKey, int32_t *failure);
    int32_t buildPacket(Cursor &cursor, int32_t count);
    void release(Cursor &cursor);

    Database &m_database;
    std::unordered_map<std::string, std::vector<sqlite3_stmt *>> m_idle;
    std::unordered_map<int32_t, Cursor> m_cursors;
};

} // namespace gm7s32
