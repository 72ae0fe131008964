// One open store: what a successful GMW_LoadBDE leaves behind, serving the
// queries and business calls until the next load.
#pragma once

#include "ContactCalls.h"
#include "Fields.h"
#include "GroupCalls.h"
#include "Ids.h"
#include "QueryCursors.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace gm7s32 {

class Container;
class Database;

class Session
{
public:
    // Opens the store that sysDir's configuration names for the two aliases
    // and checks the user. Answers a GMW_LoadBDE result: zero with *session
    // set, or a negative code with *reason saying why for the operator.
    static int32_t open(const char *sysDir, const char *goldDir, const char *commonDir,
                        const char *userName, const char *password,
                        std::unique_ptr<Session> *session, std::string *reason);
    ~Session();
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    // GMW_DS_Query with the handle the caller allocated; a result < 0 fails.
    int32_t query(const char *sql, int32_t handle) { return m_cursors.query(sql, handle); }
    int32_t fetch(int32_t handle, char *buffer, int32_t size, int32_t count)
    {
        return m_cursors.fetch(handle, buffer, size, count);
    }
    bool close(int32_t handle) { return m_cursors.close(handle); }

    int32_t execute(std::string_view callName, Container &container);

private:
    Session(std::unique_ptr<Database> database, std::string user, FieldMap fields);

    // Declared first: everything below holds statements of this connection.
    std::unique_ptr<Database> m_database;
    std::string m_user;
    FieldMap m_fields;
    IdMaker m_ids;
    QueryCursors m_cursors;
    ContactCalls m_contacts;
    GroupCalls m_groups;
};

} // namespace gm7s32
