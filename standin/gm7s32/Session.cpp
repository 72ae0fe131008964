#include "Session.h"

#include "Config.h"
#include "Password.h"
#include "SqlText.h"
#include "Store.h"
#include "Text.h"

#include <sqlite3.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>

namespace gm7s32 {

namespace {

namespace fs = std::filesystem;

// Thrown inside a business-logic call; the transaction is rolled back and the
// code answered.
struct CallFailure
{
    int32_t code;
};

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

class Flag
{
public:
    explicit Flag(bool &flag)
        : m_flag(flag)
    {
        m_flag = true;
    }
    ~Flag() { m_flag = false; }
    Flag(const Flag &) = delete;
    Flag &operator=(const Flag &) = delete;

private:
    bool &m_flag;
};

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

std::string columnText(sqlite3_stmt *statement, int column)
{
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(statement, column));
    return text ? std::string(text,
                              static_cast<std::size_t>(sqlite3_column_bytes(statement, column)))
                : std::string();
}

std::string quotedName(std::string_view name)
{
    std::string result = "\"";
    for (const char c : name) {
        result += c;
        if (c == '"')
            result += '"';
    }
    return result + '"';
}

bool tableExists(sqlite3 *db, const std::string &schema, const char *table)
{
    sqlite3_stmt *statement = nullptr;
    const std::string sql =
        "SELECT 1 FROM " + schema + ".sqlite_master WHERE type='table' AND name=?1 COLLATE NOCASE";
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
        sqlite3_finalize(statement);
        return false;
    }
    sqlite3_bind_text(statement, 1, table, -1, SQLITE_STATIC);
    const bool found = sqlite3_step(statement) == SQLITE_ROW;
    sqlite3_finalize(statement);
    return found;
}

// Idle query statements kept for reuse, and cached internal statements.
constexpr std::size_t kIdleQueryLimit = 32;
constexpr std::size_t kStatementCacheLimit = 256;
// The fetch header's count has four digits.
constexpr int32_t kMostRecordsPerFetch = 9999;
// GoldMine splits a support reference longer than CONTSUPREF into ADDRESS1.
constexpr std::size_t kReferenceWidth = 35;
constexpr std::size_t kReferenceOverflowWidth = 40;
constexpr std::size_t kGroupNameWidth = 60;
constexpr std::size_t kGroupCodeWidth = 10;
constexpr int kInsertAttempts = 8;
constexpr uint64_t kMillisecondsTo2000 = 946684800000ULL;
constexpr uint32_t kSequenceRange = 36U * 36U * 36U * 36U;

} // namespace

Session::Session(sqlite3 *db)
    : m_db(db)
    , m_random(std::random_device{}())
{
    m_sequence = static_cast<uint32_t>(m_random() % kSequenceRange);
}

Session::~Session()
{
    for (auto &[handle, query] : m_queries)
        sqlite3_finalize(query.statement);
    for (auto &[key, statements] : m_idleQueries) {
        for (sqlite3_stmt *statement : statements)
            sqlite3_finalize(statement);
    }
    for (auto &[sql, statement] : m_statements)
        sqlite3_finalize(statement);
    sqlite3_close_v2(m_db);
}

int32_t Session::open(const char *sysDir, const char *goldDir, const char *commonDir,
                      const char *userName, const char *password, std::unique_ptr<Session> *session)
{
    if (!sysDir || !goldDir || !commonDir || !userName || !password || !session || !*sysDir)
        return kLoadCannotStart;
    std::error_code error;
    const fs::path directory(sysDir);
    if (!fs::is_directory(directory, error))
        return kLoadCannotStart;
    const auto config = StoreConfig::read(directory);
    if (!config)
        return kLoadCannotStart;
    const auto goldPath = config->databaseFor(goldDir);
    const auto commonPath = config->databaseFor(commonDir);
    // Never let SQLite create a missing database under an alias.
    if (!goldPath || !commonPath || !fs::is_regular_file(*goldPath, error) ||
        !fs::is_regular_file(*commonPath, error))
        return kLoadCannotStart;

    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(commonPath->c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        sqlite3_close_v2(db);
        return kLoadCannotStart;
    }
    std::unique_ptr<Session> opened(new Session(db));
    sqlite3_busy_timeout(db, 5000);
    sqlite3_set_authorizer(db, &Session::authorize, opened.get());
    if (sqlite3_exec(db, "SELECT count(*) FROM main.sqlite_master", nullptr, nullptr, nullptr) !=
        SQLITE_OK)
        return kLoadCannotStart;

    std::string goldSchema = "main";
    if (!fs::equivalent(*goldPath, *commonPath, error)) {
        sqlite3_stmt *attach = nullptr;
        const std::string goldFile = goldPath->string();
        if (sqlite3_prepare_v2(db, "ATTACH DATABASE ?1 AS gold", -1, &attach, nullptr) !=
            SQLITE_OK) {
            sqlite3_finalize(attach);
            return kLoadCannotStart;
        }
        sqlite3_bind_text(attach, 1, goldFile.c_str(), -1, SQLITE_TRANSIENT);
        const int attached = sqlite3_step(attach);
        sqlite3_finalize(attach);
        if (attached != SQLITE_DONE || sqlite3_exec(db, "SELECT count(*) FROM gold.sqlite_master",
                                                    nullptr, nullptr, nullptr) != SQLITE_OK)
            return kLoadCannotStart;
        goldSchema = "gold";
    }
    // WAL lets a second process read while an import writes. A store on
    // read-only media keeps its journal mode, so failures here are not fatal.
    for (const std::string &schema : {std::string("main"), goldSchema}) {
        const std::string pragmas =
            "PRAGMA " + schema + ".journal_mode=WAL; PRAGMA " + schema + ".synchronous=NORMAL";
        sqlite3_exec(db, pragmas.c_str(), nullptr, nullptr, nullptr);
    }

    const int32_t checked = opened->check(goldSchema.c_str(), userName, password);
    if (checked < 0)
        return checked;
    opened->loadFields();
    *session = std::move(opened);
    return 0;
}

int32_t Session::check(const char *goldSchema, const char *userName, const char *password)
{
    if (!tableExists(m_db, goldSchema, "CAL"))
        return kLoadNoCalTable;
    if (!tableExists(m_db, "main", "CONTACT1"))
        return kLoadNoContactTable;

    std::string hash;
    std::string user;
    sqlite3_stmt *statement = nullptr;
    const std::string sql = std::string("SELECT USERNAME, PASSHASH FROM ") + goldSchema +
                            ".USERS WHERE USERNAME=?1 COLLATE NOCASE";
    if (sqlite3_prepare_v2(m_db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK) {
        sqlite3_bind_text(statement, 1, userName, -1, SQLITE_STATIC);
        if (sqlite3_step(statement) == SQLITE_ROW) {
            user = columnText(statement, 0);
            hash = columnText(statement, 1);
        }
    }
    sqlite3_finalize(statement);
    if (hash.empty()) {
        // Spend the same effort as a real check, so an unknown name cannot be
        // told from a wrong password by the time taken.
        std::string discarded;
        hashPassword(password, &discarded);
        return kLoadUserRefused;
    }
    if (!verifyPassword(password, hash))
        return kLoadUserRefused;
    m_user = user;
    return 0;
}

void Session::loadFields()
{
    std::unordered_map<std::string, std::unordered_map<std::string, bool>> columns;
    for (const char *table : {"CONTACT1", "CONTACT2"}) {
        sqlite3_stmt *statement = nullptr;
        const std::string sql = std::string("PRAGMA main.table_info(") + table + ")";
        if (sqlite3_prepare_v2(m_db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK) {
            while (sqlite3_step(statement) == SQLITE_ROW)
                columns[table][toUpperAscii(columnText(statement, 1))] = true;
        }
        sqlite3_finalize(statement);
    }

    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v2(m_db,
                           "SELECT DBFNAME, FIELD_NAME, FIELD_TYPE, FIELD_LEN FROM main.CONTUDEF "
                           "ORDER BY rowid",
                           -1, &statement, nullptr) == SQLITE_OK) {
        while (sqlite3_step(statement) == SQLITE_ROW) {
            const std::string table = toUpperAscii(columnText(statement, 0));
            const std::string name = toUpperAscii(columnText(statement, 1));
            const std::string type = toUpperAscii(columnText(statement, 2));
            const sqlite3_int64 width = sqlite3_column_int64(statement, 3);
            // The keys are the store's to give, never a field to write.
            if ((table != "CONTACT1" && table != "CONTACT2") || name == "ACCOUNTNO" ||
                name == "RECID" || !columns[table].count(name) || m_fields.count(name))
                continue;
            Field field;
            field.table = table;
            field.column = name;
            field.width = (type == "M" || width <= 0) ? 0 : static_cast<std::size_t>(width);
            field.hasShadow = columns[table].count("U_" + name) != 0;
            m_fields.emplace(name, std::move(field));
        }
    }
    sqlite3_finalize(statement);
}

int Session::authorize(void *self, int action, const char *first, const char *second, const char *,
                       const char *)
{
    const auto *session = static_cast<const Session *>(self);
    if (!session->m_userSql)
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

sqlite3_stmt *Session::prepareUserSql(const std::string &sql, int32_t *failure)
{
    Flag userSql(m_userSql);
    sqlite3_stmt *statement = nullptr;
    const char *tail = nullptr;
    const int prepared = sqlite3_prepare_v2(m_db, sql.c_str(), -1, &statement, &tail);
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
        const int rest = sqlite3_prepare_v2(m_db, tail, -1, &extra, &next);
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

int32_t Session::query(const char *sql, int32_t handle)
{
    if (!sql)
        return kQueryInvalid;
    Query query;
    int32_t failure = kQueryError;
    // Lookups differ only in their literals: share one compiled statement.
    if (auto parameterized = parameterizeLiterals(sql)) {
        auto idle = m_idleQueries.find(parameterized->text);
        if (idle != m_idleQueries.end() && !idle->second.empty()) {
            query.statement = idle->second.back();
            idle->second.pop_back();
        } else {
            query.statement = prepareUserSql(parameterized->text, &failure);
        }
        if (query.statement) {
            const auto &literals = parameterized->literals;
            bool bound =
                sqlite3_bind_parameter_count(query.statement) == static_cast<int>(literals.size());
            for (std::size_t i = 0; bound && i < literals.size(); ++i) {
                bound = literals[i].size() <= static_cast<std::size_t>(INT_MAX) &&
                        sqlite3_bind_text(query.statement, static_cast<int>(i + 1),
                                          literals[i].data(), static_cast<int>(literals[i].size()),
                                          SQLITE_TRANSIENT) == SQLITE_OK;
            }
            if (bound) {
                query.poolKey = parameterized->text;
            } else {
                sqlite3_finalize(query.statement);
                query.statement = nullptr;
            }
        }
    }
    // Literals in places a parameter may not stand (an alias, say): as written.
    if (!query.statement) {
        query.statement = prepareUserSql(sql, &failure);
        if (!query.statement)
            return failure;
    }
    m_queries.emplace(handle, std::move(query));
    return handle;
}

int32_t Session::buildPacket(Query &query, int32_t count)
{
    if (count > kMostRecordsPerFetch)
        count = kMostRecordsPerFetch;
    Flag userSql(m_userSql);
    query.packetReady = false;
    std::string body;
    int32_t records = 0;
    const auto failed = [&query] {
        query.done = true;
        query.rowPending = false;
        sqlite3_reset(query.statement);
        return kFetchFailed;
    };
    while (records < count && !query.done) {
        if (!query.rowPending) {
            const int stepped = sqlite3_step(query.statement);
            if (stepped == SQLITE_DONE) {
                query.done = true;
                break;
            }
            if (stepped != SQLITE_ROW)
                return failed();
        }
        query.rowPending = false;
        const int columns = sqlite3_column_count(query.statement);
        for (int column = 0; column < columns; ++column) {
            if (column > 0)
                body += '\r';
            const auto *text =
                reinterpret_cast<const char *>(sqlite3_column_text(query.statement, column));
            if (text)
                body.append(
                    text, static_cast<std::size_t>(sqlite3_column_bytes(query.statement, column)));
        }
        body += "\r\n";
        ++records;
        if (body.size() > static_cast<std::size_t>(INT32_MAX) - 64)
            return failed();
    }
    // Look one record ahead so the header can say whether more remain.
    if (!query.done && !query.rowPending) {
        const int stepped = sqlite3_step(query.statement);
        if (stepped == SQLITE_ROW)
            query.rowPending = true;
        else if (stepped == SQLITE_DONE)
            query.done = true;
        else
            return failed();
    }
    if (query.done)
        sqlite3_reset(query.statement); // ends the read transaction at once

    char header[32];
    std::snprintf(header, sizeof header, "%c000-%04d\r\n", query.done ? '3' : '0',
                  static_cast<int>(records));
    query.packet.assign(header);
    query.packet += body;
    query.packetReady = true;
    return static_cast<int32_t>(query.packet.size());
}

int32_t Session::fetch(int32_t handle, char *buffer, int32_t size, int32_t count)
{
    const auto found = m_queries.find(handle);
    if (found == m_queries.end())
        return kFetchBadHandle;
    if (size < 0 || count < 0)
        return kFetchBadArgument;
    Query &query = found->second;
    if (count > 0) {
        const int32_t needed = buildPacket(query, count);
        if (needed < 0 || size == 0)
            return needed;
    }
    if (!query.packetReady)
        return kFetchNotPrepared;
    if (!buffer)
        return kFetchBadArgument;
    if (static_cast<std::size_t>(size) < query.packet.size())
        return kFetchBufferTooSmall;
    std::memcpy(buffer, query.packet.data(), query.packet.size());
    buffer[query.packet.size()] = '\0';
    return static_cast<int32_t>(query.packet.size());
}

void Session::releaseStatement(Query &query)
{
    if (!query.statement)
        return;
    if (!query.poolKey.empty() &&
        (m_idleQueries.count(query.poolKey) != 0 || m_idleQueries.size() < kIdleQueryLimit)) {
        auto &idle = m_idleQueries[query.poolKey];
        if (idle.size() < 2) {
            sqlite3_reset(query.statement);
            sqlite3_clear_bindings(query.statement);
            idle.push_back(query.statement);
            query.statement = nullptr;
            return;
        }
    }
    sqlite3_finalize(query.statement);
    query.statement = nullptr;
}

bool Session::close(int32_t handle)
{
    const auto found = m_queries.find(handle);
    if (found == m_queries.end())
        return false;
    releaseStatement(found->second);
    m_queries.erase(found);
    return true;
}

sqlite3_stmt *Session::cached(const std::string &sql)
{
    const auto found = m_statements.find(sql);
    if (found != m_statements.end())
        return found->second;
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v2(m_db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
        sqlite3_finalize(statement);
        throw CallFailure{kExecDatabaseError};
    }
    m_statements.emplace(sql, statement);
    return statement;
}

void Session::runCached(const std::string &sql)
{
    runCached(sql, {});
}

void Session::runCached(const std::string &sql, const std::vector<std::string> &values)
{
    sqlite3_stmt *statement = cached(sql);
    ResetOnExit reset(statement);
    bindAll(statement, values);
    if (sqlite3_step(statement) != SQLITE_DONE)
        throw CallFailure{kExecDatabaseError};
}

bool Session::exists(const std::string &sql, const std::vector<std::string> &values)
{
    sqlite3_stmt *statement = cached(sql);
    ResetOnExit reset(statement);
    bindAll(statement, values);
    const int stepped = sqlite3_step(statement);
    if (stepped != SQLITE_ROW && stepped != SQLITE_DONE)
        throw CallFailure{kExecDatabaseError};
    return stepped == SQLITE_ROW;
}

void Session::rollback()
{
    if (!sqlite3_get_autocommit(m_db))
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
}

template <typename Work> int32_t Session::inTransaction(Work work)
{
    try {
        runCached("BEGIN IMMEDIATE");
    } catch (const CallFailure &failure) {
        return failure.code;
    }
    try {
        work();
        runCached("COMMIT");
        return 0;
    } catch (const CallFailure &failure) {
        rollback();
        return failure.code;
    } catch (...) {
        rollback();
        throw;
    }
}

template <typename Renew>
void Session::insertRetrying(const std::string &sql, std::vector<std::string> &values, Renew renew)
{
    sqlite3_stmt *statement = cached(sql);
    for (int attempt = 0; attempt < kInsertAttempts; ++attempt) {
        ResetOnExit reset(statement);
        bindAll(statement, values);
        const int stepped = sqlite3_step(statement);
        if (stepped == SQLITE_DONE)
            return;
        if ((stepped & 0xff) != SQLITE_CONSTRAINT &&
            (sqlite3_errcode(m_db) & 0xff) != SQLITE_CONSTRAINT)
            throw CallFailure{kExecDatabaseError};
        renew(values);
    }
    throw CallFailure{kExecDatabaseError};
}

int32_t Session::execute(std::string_view callName, Container &container)
{
    if (m_statements.size() > kStatementCacheLimit) {
        for (auto &[sql, statement] : m_statements)
            sqlite3_finalize(statement);
        m_statements.clear();
    }
    if (equalsIgnoreCase(callName, "WriteContact"))
        return writeContact(container);
    if (equalsIgnoreCase(callName, "WriteContactNotes"))
        return writeContactNotes(container);
    if (equalsIgnoreCase(callName, "CreateContactGroup"))
        return createContactGroup(container);
    if (equalsIgnoreCase(callName, "AddContactGrpMembers"))
        return addContactGroupMembers(container);
    return kExecUnknownCall;
}

std::string Session::accountNoOf(const std::string &recid)
{
    sqlite3_stmt *statement = cached("SELECT ACCOUNTNO FROM CONTACT1 WHERE RECID=?1");
    ResetOnExit reset(statement);
    bindAll(statement, {recid});
    const int stepped = sqlite3_step(statement);
    if (stepped == SQLITE_ROW)
        return columnText(statement, 0);
    if (stepped != SQLITE_DONE)
        throw CallFailure{kExecDatabaseError};
    return {};
}

int32_t Session::writeContact(Container &container)
{
    struct Assignment
    {
        const Field *field;
        const std::string *value;
    };
    std::vector<Assignment> contact1;
    std::vector<Assignment> contact2;
    const std::string *recid = nullptr;
    const std::string *email = nullptr;
    const std::string *website = nullptr;
    const std::string *contactName = nullptr;
    const std::string *companyName = nullptr;

    // Everything is checked before anything is written: a call either
    // writes all of its values or none.
    for (const Container::Entry &entry : container.entries()) {
        if (entry.nested)
            return kExecUnknownField;
        const std::string name = toUpperAscii(entry.name);
        if (name == "RECID") {
            recid = &entry.text;
            continue;
        }
        if (name == "EMAIL" || name == "WEBSITE") {
            if (characterCount(entry.text) > kReferenceWidth + kReferenceOverflowWidth)
                return kExecValueTooLong;
            (name == "EMAIL" ? email : website) = &entry.text;
            continue;
        }
        const auto field = m_fields.find(name);
        if (field == m_fields.end())
            return kExecUnknownField;
        if (field->second.width != 0 && characterCount(entry.text) > field->second.width)
            return kExecValueTooLong;
        (field->second.table == "CONTACT1" ? contact1 : contact2)
            .push_back({&field->second, &entry.text});
        if (name == "CONTACT")
            contactName = &entry.text;
        else if (name == "COMPANY")
            companyName = &entry.text;
    }

    const Stamp stamp = now();
    std::string createdRecid;
    const auto assign = [](const std::vector<Assignment> &assignments,
                           std::vector<std::string> *columns, std::vector<std::string> *values) {
        for (const Assignment &assignment : assignments) {
            columns->push_back(quotedName(assignment.field->column));
            values->push_back(*assignment.value);
            if (assignment.field->hasShadow) {
                columns->push_back(quotedName("U_" + assignment.field->column));
                values->push_back(toUpperAscii(*assignment.value));
            }
        }
    };

    const int32_t result = inTransaction([&] {
        if (recid) {
            const std::string accountNo = accountNoOf(*recid);
            if (accountNo.empty())
                throw CallFailure{kExecUnknownRecord};
            if (contact1.empty() && contact2.empty() && !email && !website)
                return;
            std::vector<std::string> columns{"LASTUSER", "LASTDATE", "LASTTIME"};
            std::vector<std::string> values{m_user, stamp.date, stamp.time};
            assign(contact1, &columns, &values);
            std::string sql = "UPDATE CONTACT1 SET ";
            for (std::size_t i = 0; i < columns.size(); ++i)
                sql += (i ? ", " : "") + columns[i] + "=?" + std::to_string(i + 1);
            sql += " WHERE ACCOUNTNO=?" + std::to_string(columns.size() + 1);
            values.push_back(accountNo);
            runCached(sql, values);

            if (!contact2.empty()) {
                std::vector<std::string> columns2{"LASTDATE", "LASTTIME"};
                std::vector<std::string> values2{stamp.date, stamp.time};
                assign(contact2, &columns2, &values2);
                std::string sql2 = "UPDATE CONTACT2 SET ";
                for (std::size_t i = 0; i < columns2.size(); ++i)
                    sql2 += (i ? ", " : "") + columns2[i] + "=?" + std::to_string(i + 1);
                sql2 += " WHERE ACCOUNTNO=?" + std::to_string(columns2.size() + 1);
                values2.push_back(accountNo);
                runCached(sql2, values2);
                if (sqlite3_changes(m_db) == 0) {
                    std::vector<std::string> insertColumns;
                    std::vector<std::string> insertValues;
                    assign(contact2, &insertColumns, &insertValues);
                    insertContact2(accountNo, insertColumns, insertValues, stamp);
                }
            }
            if (email)
                writeSupportRecord(accountNo, "E-mail Address", *email, stamp, false);
            if (website)
                writeSupportRecord(accountNo, "Web Site", *website, stamp, false);
            return;
        }

        std::string_view initials;
        if (contactName && !contactName->empty())
            initials = *contactName;
        else if (companyName)
            initials = *companyName;
        std::vector<std::string> columns{"ACCOUNTNO", "CREATEBY", "CREATEON", "CREATEAT",
                                         "LASTUSER",  "LASTDATE", "LASTTIME"};
        std::vector<std::string> values{
            newAccountNo(initials), m_user, stamp.date, stamp.time, m_user, stamp.date, stamp.time};
        assign(contact1, &columns, &values);
        columns.push_back("RECID");
        values.push_back(newRecid());
        std::string sql = "INSERT INTO CONTACT1 (";
        std::string parameters;
        for (std::size_t i = 0; i < columns.size(); ++i) {
            sql += (i ? ", " : "") + columns[i];
            parameters += (i ? ", ?" : "?") + std::to_string(i + 1);
        }
        sql += ") VALUES (" + parameters + ")";
        insertRetrying(sql, values, [&](std::vector<std::string> &renewed) {
            renewed.front() = newAccountNo(initials);
            renewed.back() = newRecid();
        });
        const std::string accountNo = values.front();
        createdRecid = values.back();

        std::vector<std::string> columns2;
        std::vector<std::string> values2;
        assign(contact2, &columns2, &values2);
        insertContact2(accountNo, columns2, values2, stamp);
        if (email)
            writeSupportRecord(accountNo, "E-mail Address", *email, stamp, true);
        if (website)
            writeSupportRecord(accountNo, "Web Site", *website, stamp, true);
    });
    if (result == 0 && !recid)
        container.set("RECID", createdRecid);
    return result;
}

void Session::insertContact2(const std::string &accountNo, const std::vector<std::string> &columns,
                             const std::vector<std::string> &values, const Stamp &stamp)
{
    std::vector<std::string> allColumns{"ACCOUNTNO", "LASTDATE", "LASTTIME"};
    std::vector<std::string> allValues{accountNo, stamp.date, stamp.time};
    allColumns.insert(allColumns.end(), columns.begin(), columns.end());
    allValues.insert(allValues.end(), values.begin(), values.end());
    allColumns.push_back("RECID");
    allValues.push_back(newRecid());
    std::string sql = "INSERT INTO CONTACT2 (";
    std::string parameters;
    for (std::size_t i = 0; i < allColumns.size(); ++i) {
        sql += (i ? ", " : "") + allColumns[i];
        parameters += (i ? ", ?" : "?") + std::to_string(i + 1);
    }
    sql += ") VALUES (" + parameters + ")";
    insertRetrying(sql, allValues,
                   [this](std::vector<std::string> &renewed) { renewed.back() = newRecid(); });
}

void Session::writeSupportRecord(const std::string &accountNo, const char *label,
                                 const std::string &value, const Stamp &stamp, bool creating)
{
    // The reference holds what fits; the rest of a long address goes on in
    // ADDRESS1, so the lookup by the first characters still finds it.
    const std::string reference(leftCharacters(value, kReferenceWidth));
    const std::string overflow = value.substr(reference.size());
    if (!creating) {
        sqlite3_stmt *find =
            cached("SELECT rowid FROM CONTSUPP WHERE ACCOUNTNO=?1 AND RECTYPE='P' AND CONTACT=?2 "
                   "ORDER BY rowid LIMIT 1");
        sqlite3_int64 row = 0;
        {
            ResetOnExit reset(find);
            bindAll(find, {accountNo, label});
            const int stepped = sqlite3_step(find);
            if (stepped == SQLITE_ROW)
                row = sqlite3_column_int64(find, 0);
            else if (stepped != SQLITE_DONE)
                throw CallFailure{kExecDatabaseError};
        }
        if (row != 0) {
            const std::string rowText = std::to_string(row);
            if (value.empty()) {
                runCached("DELETE FROM CONTSUPP WHERE rowid=?1", {rowText});
            } else {
                runCached("UPDATE CONTSUPP SET CONTSUPREF=?1, ADDRESS1=?2, U_CONTSUPREF=?3, "
                          "U_ADDRESS1=?4, LASTUSER=?5, LASTDATE=?6, LASTTIME=?7 WHERE rowid=?8",
                          {reference, overflow, toUpperAscii(reference), toUpperAscii(overflow),
                           m_user, stamp.date, stamp.time, rowText});
            }
            return;
        }
    }
    if (value.empty())
        return;
    std::vector<std::string> values{accountNo,
                                    label,
                                    reference,
                                    overflow,
                                    m_user,
                                    stamp.date,
                                    stamp.time,
                                    toUpperAscii(label),
                                    toUpperAscii(reference),
                                    toUpperAscii(overflow),
                                    newRecid()};
    insertRetrying("INSERT INTO CONTSUPP (ACCOUNTNO, RECTYPE, CONTACT, CONTSUPREF, ADDRESS1, "
                   "LASTUSER, LASTDATE, LASTTIME, U_CONTACT, U_CONTSUPREF, U_ADDRESS1, RECID) "
                   "VALUES (?1, 'P', ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11)",
                   values,
                   [this](std::vector<std::string> &renewed) { renewed.back() = newRecid(); });
}

int32_t Session::writeContactNotes(Container &container)
{
    const std::string *recid = nullptr;
    const std::string *notes = nullptr;
    for (const Container::Entry &entry : container.entries()) {
        const std::string name = toUpperAscii(entry.name);
        if (entry.nested || (name != "RECID" && name != "NOTES"))
            return kExecUnknownField;
        (name == "RECID" ? recid : notes) = &entry.text;
    }
    if (!recid)
        return kExecMissingValue;
    const Stamp stamp = now();
    return inTransaction([&] {
        const std::string accountNo = accountNoOf(*recid);
        if (accountNo.empty())
            throw CallFailure{kExecUnknownRecord};
        if (!notes || notes->empty())
            return;
        std::vector<std::string> values{accountNo, stamp.date, stamp.clock,
                                        m_user,    *notes,     newRecid()};
        insertRetrying("INSERT INTO NOTES (ACCOUNTNO, NOTEDATE, NOTETIME, USERID, NOTE, RECID) "
                       "VALUES (?1, ?2, ?3, ?4, ?5, ?6)",
                       values,
                       [this](std::vector<std::string> &renewed) { renewed.back() = newRecid(); });
    });
}

int32_t Session::createContactGroup(Container &container)
{
    std::string name;
    std::string code;
    bool sync = false;
    for (const Container::Entry &entry : container.entries()) {
        const std::string key = toUpperAscii(entry.name);
        if (entry.nested)
            return kExecUnknownField;
        if (key == "GROUPNAME")
            name = entry.text;
        else if (key == "GROUPCODE")
            code = entry.text;
        else if (key == "SYNCGROUP")
            sync = entry.text == "1";
        else
            return kExecUnknownField;
    }
    if (characterCount(name) > kGroupNameWidth || characterCount(code) > kGroupCodeWidth)
        return kExecValueTooLong;
    const Stamp stamp = now();
    std::string groupNo;
    const int32_t result = inTransaction([&] {
        std::vector<std::string> values{m_user, code,       name,       sync ? "1" : "",
                                        m_user, stamp.date, stamp.time, newRecid()};
        insertRetrying("INSERT INTO CONTGRPS (USERID, CODE, REF, ACCOUNTNO, SYNCGROUP, LASTUSER, "
                       "LASTDATE, LASTTIME, RECID) VALUES (?1, ?2, ?3, '', ?4, ?5, ?6, ?7, ?8)",
                       values,
                       [this](std::vector<std::string> &renewed) { renewed.back() = newRecid(); });
        groupNo = values.back();
    });
    if (result == 0)
        container.set("GroupNo", groupNo);
    return result;
}

int32_t Session::addContactGroupMembers(Container &container)
{
    const std::string *groupNo = nullptr;
    const Container *members = nullptr;
    for (const Container::Entry &entry : container.entries()) {
        const std::string key = toUpperAscii(entry.name);
        if (key == "GROUPNO" && !entry.nested)
            groupNo = &entry.text;
        else if (key == "MEMBERS")
            members = entry.nested.get(); // text names no member

        else
            return kExecUnknownField;
    }
    if (!groupNo || !members)
        return kExecMissingValue;
    std::vector<std::string> accounts;
    for (const Container::Entry &member : members->entries()) {
        if (member.nested || toUpperAscii(member.name) != "ACCOUNTNO")
            return kExecUnknownField;
        accounts.push_back(member.text);
    }
    if (accounts.empty())
        return kExecMissingValue;
    const Stamp stamp = now();
    return inTransaction([&] {
        if (!exists("SELECT 1 FROM CONTGRPS WHERE RECID=?1 AND ACCOUNTNO=''", {*groupNo}))
            throw CallFailure{kExecUnknownGroup};
        for (const std::string &accountNo : accounts) {
            sqlite3_stmt *contact = cached("SELECT CONTACT FROM CONTACT1 WHERE ACCOUNTNO=?1");
            std::string contactName;
            {
                ResetOnExit reset(contact);
                bindAll(contact, {accountNo});
                const int stepped = sqlite3_step(contact);
                if (stepped == SQLITE_DONE)
                    throw CallFailure{kExecUnknownRecord};
                if (stepped != SQLITE_ROW)
                    throw CallFailure{kExecDatabaseError};
                contactName = columnText(contact, 0);
            }
            // A contact is listed once, however often it is added.
            if (exists("SELECT 1 FROM CONTGRPS WHERE USERID=?1 AND ACCOUNTNO=?2",
                       {*groupNo, accountNo}))
                continue;
            std::vector<std::string> values{*groupNo,   contactName, accountNo, m_user,
                                            stamp.date, stamp.time,  newRecid()};
            insertRetrying(
                "INSERT INTO CONTGRPS (USERID, CODE, REF, ACCOUNTNO, SYNCGROUP, LASTUSER, "
                "LASTDATE, LASTTIME, RECID) VALUES (?1, '', ?2, ?3, '', ?4, ?5, ?6, ?7)",
                values, [this](std::vector<std::string> &renewed) { renewed.back() = newRecid(); });
        }
    });
}

std::string Session::newRecid()
{
    // Fifteen characters: milliseconds since 2000, a running number and a
    // random tail, so ids made by two processes at once still differ.
    const auto milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  std::chrono::system_clock::now().time_since_epoch())
                                  .count();
    const uint64_t since2000 = static_cast<uint64_t>(milliseconds) > kMillisecondsTo2000
                                   ? static_cast<uint64_t>(milliseconds) - kMillisecondsTo2000
                                   : 0;
    m_sequence = (m_sequence + 1) % kSequenceRange;
    return base36(since2000, 8) + base36(m_sequence, 4) + base36(m_random(), 3);
}

std::string Session::newAccountNo(std::string_view name)
{
    // GoldMine's twenty characters: date and time of day, a running part and
    // the first letters of the contact or company.
    const std::time_t seconds = std::time(nullptr);
    std::tm local{};
    localtime_r(&seconds, &local);
    char stamp[16];
    std::strftime(stamp, sizeof stamp, "%y%m%d%H%M%S", &local);
    std::string initials;
    for (const char c : name) {
        if (initials.size() == 4)
            break;
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
            initials += c;
    }
    while (initials.size() < 4)
        initials += base36(m_random(), 1);
    m_sequence = (m_sequence + 1) % kSequenceRange;
    return std::string(stamp) + base36(m_sequence, 4) + toUpperAscii(initials);
}

Session::Stamp Session::now()
{
    const std::time_t seconds = std::time(nullptr);
    std::tm local{};
    localtime_r(&seconds, &local);
    char date[16];
    char time[16];
    char clock[16];
    std::strftime(date, sizeof date, "%Y-%m-%d", &local);
    std::strftime(time, sizeof time, "%H:%M", &local);
    std::strftime(clock, sizeof clock, "%H:%M:%S", &local);
    return {date, time, clock};
}

} // namespace gm7s32
