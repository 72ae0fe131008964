// One open store: the SQLite connection of a successful GMW_LoadBDE, its
// queries and the business-logic calls.
#pragma once

#include "Containers.h"

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace gm7s32 {

class Session
{
public:
    // Opens the store that sysDir's configuration names for the two aliases
    // and checks the user. Answers a GMW_LoadBDE result: zero with *session
    // set, or a negative code.
    static int32_t open(const char *sysDir, const char *goldDir, const char *commonDir,
                        const char *userName, const char *password,
                        std::unique_ptr<Session> *session);
    ~Session();
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    // GMW_DS_Query with the handle the caller allocated; a result < 0 fails.
    int32_t query(const char *sql, int32_t handle);
    int32_t fetch(int32_t handle, char *buffer, int32_t size, int32_t count);
    bool close(int32_t handle);

    int32_t execute(std::string_view callName, Container &container);

private:
    struct Field
    {
        std::string table;
        std::string column;
        std::size_t width = 0; // characters; 0 when the field has no limit
        bool hasShadow = false;
    };

    struct Query
    {
        sqlite3_stmt *statement = nullptr;
        std::string poolKey; // "" when the statement is not shared
        bool rowPending = false;
        bool done = false;
        bool packetReady = false;
        std::string packet;
    };

    struct Stamp
    {
        std::string date;  // YYYY-MM-DD
        std::string time;  // HH:MM
        std::string clock; // HH:MM:SS
    };

    explicit Session(sqlite3 *db);

    int32_t check(const char *goldSchema, const char *userName, const char *password);
    void loadFields();

    sqlite3_stmt *prepareUserSql(const std::string &sql, int32_t *failure);
    sqlite3_stmt *cached(const std::string &sql);
    void runCached(const std::string &sql);
    void releaseStatement(Query &query);
    int32_t buildPacket(Query &query, int32_t count);
    static int authorize(void *self, int action, const char *first, const char *second,
                         const char *database, const char *trigger);

    template <typename Work> int32_t inTransaction(Work work);

    int32_t writeContact(Container &container);
    int32_t writeContactNotes(Container &container);
    int32_t createContactGroup(Container &container);
    int32_t addContactGroupMembers(Container &container);

    std::string accountNoOf(const std::string &recid);
    void writeSupportRecord(const std::string &accountNo, const char *label,
                            const std::string &value, const Stamp &stamp, bool creating);
    void runCached(const std::string &sql, const std::vector<std::string> &values);
    bool exists(const std::string &sql, const std::vector<std::string> &values);
    void rollback();
    // Inserts with the values bound in order; when a unique key collides (an
    // id another process made at the same moment) renew gives fresh ids.
    template <typename Renew>
    void insertRetrying(const std::string &sql, std::vector<std::string> &values, Renew renew);
    void insertContact2(const std::string &accountNo, const std::vector<std::string> &columns,
                        const std::vector<std::string> &values, const Stamp &stamp);
    std::string newRecid();
    std::string newAccountNo(std::string_view name);
    static Stamp now();

    sqlite3 *m_db = nullptr;
    std::string m_user;
    std::unordered_map<std::string, Field> m_fields; // by upper-case name
    std::unordered_map<std::string, sqlite3_stmt *> m_statements;
    std::unordered_map<std::string, std::vector<sqlite3_stmt *>> m_idleQueries;
    std::unordered_map<int32_t, Query> m_queries;
    // Set while the program's own SQL is compiled or run: the authorizer then
    // allows reading only.
    bool m_userSql = false;
    std::mt19937_64 m_random;
    uint32_t m_sequence = 0;
};

} // namespace gm7s32
